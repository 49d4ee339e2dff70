// velduo scan: the search of the window over a line.
#include "cli/command.h"
#include "cli/sensortext.h"
#include "codec/errortext.h"
#include "codec/linefile.h"
#include "core/devices/registry.h"
#include "core/devices/searchplan.h"
#include "core/sensor/format.h"

#include <QJsonDocument>
#include <QRegularExpression>

namespace {

// A list such as "1-5,7,9", each number from min to max, in the order given, each once.
bool parseList(const QString& text, int min, int max, QStringList* out)
{
    out->clear();
    for (const QString& part : text.split(QLatin1Char(','))) {
        const QStringList bounds = part.trimmed().split(QLatin1Char('-'));
        if (bounds.size() > 2)
            return false;
        bool firstOk = false, lastOk = true;
        const int first = bounds.at(0).toInt(&firstOk);
        const int last = bounds.size() == 2 ? bounds.at(1).toInt(&lastOk) : first;
        if (!firstOk || !lastOk || first < min || last > max || first > last)
            return false;
        for (int n = first; n <= last; ++n) {
            if (!out->contains(QString::number(n)))
                *out << QString::number(n);
        }
    }
    return !out->isEmpty();
}

int scan(Context& context, const QStringList& speeds, const QStringList& addresses)
{
    Session& session = *context.session;
    SensorRegistry registry;
    ops::SearchLine search(session.line(), session.host(), registry);
    linefile::Line line;
    line.port = session.port();
    int stopped = exitcode::done;
    // Each sensor is read and told of as soon as it answers, at the speed the search is at: a
    // search of the default lists takes long, and what is found is already of use.
    search.onFound = [&](int row) {
        DeviceVEL_DUO300& dev = registry[row];
        session.useSpeed(dev.baudrate);
        // The search reads settings only; type and version come with the live values.
        const ops::Result polled = ops::PollSensor(session.line(), session.host()).run(&dev);
        if (polled.kind == ops::Result::Ending || session.portFailed()) {
            stopped = context.report(polled, sensorText(dev.addr, dev.baudrate));
            return false;
        }
        linefile::Sensor sensor = described(dev, polled.done());
        if (!dev.ustRead)
            sensor = linefile::Sensor{};
        sensor.address = dev.addr;
        sensor.speed = dev.baudrate;
        sensor.answered = polled.done() && dev.ustRead;
        line.sensors.append(sensor);
        QString text;
        if (context.json) {
            text = QString::fromUtf8(
                       QJsonDocument(linefile::toObject(sensor)).toJson(QJsonDocument::Compact)) +
                   QLatin1Char('\n');
        } else {
            text = sensorText(dev.addr, dev.baudrate).leftJustified(12);
            if (sensor.answered)
                text += QStringLiteral("%1, версия %2, имя «%3»\n")
                            .arg(sensorTypeText(sensorTypeOf(dev.param)), versionText(dev.param),
                                 nameText(dev.ust));
            else
                text += polled.done() ? QStringLiteral("ответил на поиск, но уставки не считаны\n")
                                      : QStringLiteral("ответил на поиск, но не на чтение: %1\n")
                                            .arg(errorTextFor(polled.error));
        }
        session.host().printResult(text);
        return true;
    };
    session.host().setActivity(QStringLiteral("Поиск"));
    const ops::Result result = search.run(session.port(), speeds, addresses);
    session.host().finishProgress();
    if (stopped != exitcode::done)
        return stopped;
    if (const int code = context.report(result, QStringLiteral("Поиск")))
        return code;

    // The last line sums it up: the whole line file, on one line, in JSON.
    if (context.json)
        // A line break in JSON text is only ever between tokens: the indentation goes with it.
        printOut(QString::fromUtf8(linefile::toJson(line))
                     .remove(QRegularExpression(QStringLiteral("\n *")))
                     .append(QLatin1Char('\n')));
    else
        printOut(QStringLiteral("Найдено устройств: %1\n").arg(line.sensors.size()));
    return exitcode::done;
}

} // namespace

Job prepareScan(Context& context, int* code)
{
    if (!context.args.isEmpty())
        return noJob(code, context.usage(QStringLiteral("scan не принимает аргументов")));
    QStringList speeds = defaultSearchSpeeds();
    QStringList addresses = defaultSearchAddresses();
    const QCommandLineParser& parser = *context.parser;
    if (parser.isSet(QStringLiteral("speeds"))) {
        if (!parseList(parser.value(QStringLiteral("speeds")), 1, 1000000, &speeds))
            return noJob(code,
                         context.usage(QStringLiteral("--speeds: ожидается список скоростей")));
        for (const QString& speed : speeds) {
            if (!listedSpeed(speed.toInt()))
                return noJob(code,
                             context.refuse(QStringLiteral("--speeds: скорости %1 нет среди %2")
                                                .arg(speed, speedsText())));
        }
    }
    if (parser.isSet(QStringLiteral("addresses"))) {
        const QString given = parser.value(QStringLiteral("addresses"));
        // A list of numbers is well formed; one outside the range is a value refused.
        static const QRegularExpression listForm(QStringLiteral("^\\d+(-\\d+)?(,\\d+(-\\d+)?)*$"));
        if (!listForm.match(QString(given).remove(QLatin1Char(' '))).hasMatch())
            return noJob(code, context.usage(QStringLiteral("--addresses: ожидается список "
                                                            "адресов от 1 до %1, например 1-5,7")
                                                 .arg(modbusAddressMax)));
        if (!parseList(given, 1, modbusAddressMax, &addresses))
            return noJob(code, context.refuse(QStringLiteral("--addresses: «%1»: адреса - от 1 "
                                                             "до %2, диапазоны - по возрастанию")
                                                  .arg(given)
                                                  .arg(modbusAddressMax)));
    }
    return [speeds, addresses](Context& context) { return scan(context, speeds, addresses); };
}

HelpPage scanHelp()
{
    return {"поиск датчиков на линии",
            "velduo scan [--speeds LIST] [--addresses LIST] [--port PATH] [--json]",
            "Поиск, как в окне: каждый адрес из списка опрашивается один раз на каждой\n"
            "скорости из списка. Каждый найденный датчик выводится строкой сразу, как\n"
            "ответил: адрес@скорость, тип, версия ПО и имя; в конце - число найденных.\n"
            "С --json - объект JSON на строке (JSON Lines): по датчику на строку, с ключами\n"
            "файла линии, и последней строкой весь файл линии (формат velduo-line) с\n"
            "найденными датчиками.\n",
            {QCommandLineOption(QStringLiteral("speeds"),
                                QStringLiteral("Скорости через запятую; по умолчанию %1.")
                                    .arg(defaultSearchSpeeds().join(QLatin1Char(','))),
                                QStringLiteral("LIST")),
             QCommandLineOption(QStringLiteral("addresses"),
                                QStringLiteral("Адреса через запятую, допустимы диапазоны: 1-5,7; "
                                               "по умолчанию 1-%1.")
                                    .arg(defaultSearchAddresses().last()),
                                QStringLiteral("LIST"))},
            "    velduo scan --port /dev/ttyUSB0\n    velduo scan --speeds 9600 --addresses 1-10 "
            "--json\n",
            {{{QStringLiteral("speeds"), speedWords()}}}};
}
