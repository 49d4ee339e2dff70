// velduo ports: the serial ports the program offers.
#include "cli/command.h"
#include "core/link/serialports.h"

#include <QJsonArray>
#include <QJsonDocument>

namespace {

int listPorts(Context& context)
{
    QJsonArray list;
    QString text;
    for (const PortEntry& port : serialPorts()) {
        list.append(QJsonObject{{QStringLiteral("device"), port.device},
                                {QStringLiteral("description"), port.description}});
        text += port.device + QLatin1Char('\t') + port.description + QLatin1Char('\n');
    }
    if (context.json)
        printOut(QString::fromUtf8(QJsonDocument(list).toJson(QJsonDocument::Compact)) +
                 QLatin1Char('\n'));
    else
        printOut(text);
    return exitcode::done;
}

} // namespace

Job preparePorts(Context& context, int* code)
{
    if (!context.args.isEmpty())
        return noJob(code, context.usage(QStringLiteral("ports не принимает аргументов")));
    return listPorts;
}

HelpPage portsHelp()
{
    return {"список последовательных портов",
            "velduo ports [--json]",
            "Выводит последовательные порты: устройство и описание. Порты из переменной\n"
            "VEL_DUO300_EXTRA_PORTS (пути через «:») идут первыми, как в окне программы.\n",
            {},
            "    velduo ports\n    velduo ports --json\n"};
}
