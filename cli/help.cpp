// The --help texts, laid out as manual pages: name, synopsis, description, options, exit
// status, examples. Each command's page is in the command's own file; the options are told
// from the very list its parser takes.
#include "cli/command.h"

namespace {

const char exitStatus[] = "    0    выполнено\n"
                          "    1    датчик ответил ошибкой или не ответил (код и текст ошибки в "
                          "выводе),\n"
                          "         или его блок уставок при каждом чтении повреждён\n"
                          "    2    ошибка в командной строке (неизвестный параметр, значение "
                          "не в своём\n"
                          "         виде)\n"
                          "    3    порт не открывается или потерян (кроме watch: он ждёт порт)\n"
                          "    4    отказано до обмена (негодный образ, значение вне диапазона "
                          "или списка:\n"
                          "         адрес, скорость, уставка, имя не в Windows-1251; адрес или "
                          "скорость\n"
                          "         заняты) или не подтверждено\n"
                          "    5    пакет выполнен, но часть записей не удалась; протокол "
                          "записан, но не все\n"
                          "         датчики ответили и совпали с файлом линии\n"
                          "    6    брокер MQTT отверг имя и пароль или сертификат (с его "
                          "причиной)\n"
                          "    130  прервано сигналом SIGINT или SIGTERM\n";

const char sensorNote[] = "SENSOR - датчик в виде АДРЕС@СКОРОСТЬ (5@9600); АДРЕС без скорости "
                          "- заводская\nскорость 115200.\n";

QString indented(const char* text)
{
    QString result;
    for (const QString& line : QString::fromUtf8(text).split(QLatin1Char('\n'), Qt::SkipEmptyParts))
        result += QStringLiteral("    ") + line + QLatin1Char('\n');
    return result;
}

// Each option as "--name VALUE", its description below it.
QString optionsText(const QList<QCommandLineOption>& options)
{
    QString text;
    QStringList told; // options waiting for the description they share
    for (const QCommandLineOption& option : options) {
        QStringList names;
        for (const QString& name : option.names())
            names << (name.size() == 1 ? QStringLiteral("-") : QStringLiteral("--")) + name;
        QString spelled = names.join(QStringLiteral(", "));
        if (!option.valueName().isEmpty())
            spelled += QLatin1Char(' ') + option.valueName();
        told << spelled;
        if (option.description().isEmpty())
            continue;
        text += QStringLiteral("    ") + told.join(QStringLiteral(", ")) + QLatin1Char('\n');
        for (const QString& line : option.description().split(QLatin1Char('\n')))
            text += QStringLiteral("        ") + line + QLatin1Char('\n');
        told.clear();
    }
    return text;
}

} // namespace

QString programHelp(const QList<Command>& commands)
{
    QString commandsText;
    for (const Command& command : commands)
        commandsText += QStringLiteral("    %1%2\n")
                            .arg(QString::fromUtf8(command.name).leftJustified(14),
                                 QString::fromUtf8(command.help().summary));
    return QStringLiteral(
               "ИМЯ\n    velduo - обслуживание датчиков VEL_DUO300 из командной строки\n\n"
               "ОБЗОР\n    velduo КОМАНДА [ПАРАМЕТРЫ] [АРГУМЕНТЫ]\n"
               "    velduo КОМАНДА --help\n\n"
               "ОПИСАНИЕ\n"
               "    Делает то же, что окно VEL_DUO300, без окна: по одной команде на "
               "задачу.\n"
               "    Результат выводится на stdout, ход работы и сообщения - на stderr.\n") +
           indented(sensorNote) + QStringLiteral("\nКОМАНДЫ\n") + commandsText +
           QStringLiteral("\nОБЩИЕ ПАРАМЕТРЫ\n") + optionsText(commonOptions()) +
           QStringLiteral("\nКОДЫ ВЫХОДА\n") + QString::fromUtf8(exitStatus) +
           QStringLiteral(
               "\nОКРУЖЕНИЕ\n"
               "    VELDUO_PORT\n"
               "        Порт, когда --port не задан.\n"
               "    VEL_DUO300_EXTRA_PORTS\n"
               "        Пути портов через «:», которых нет в списке системы (например,\n"
               "        псевдотерминалы симулятора); они идут в списке портов первыми.\n"
               "    VELDUO_MQTT_PASSWORD\n"
               "        Пароль брокера MQTT для watch --mqtt, когда не задан\n"
               "        --mqtt-password-file.\n"
               "\nФАЙЛЫ\n"
               "    /var/lock/LCK..ПОРТ\n"
               "        Блокировка открытого порта; снимается при выходе, в том числе по\n"
               "        Ctrl-C.\n"
               "    share/bash-completion/completions/velduo\n"
               "        Дополнение команд и параметров для bash, в каталоге установки.\n") +
           QStringLiteral("\nПРИМЕРЫ\n"
                          "    velduo scan --port /dev/ttyUSB0\n"
                          "    velduo write 5@9600 --setpoint 250\n"
                          "    VELDUO_PORT=/dev/ttyUSB0 velduo commission plan.json --out "
                          "line.json\n");
}

QString commandHelp(const Command& command)
{
    const HelpPage page = command.help();
    QString text = QStringLiteral("ИМЯ\n    velduo-%1 - %2\n\nОБЗОР\n")
                       .arg(QString::fromUtf8(command.name), QString::fromUtf8(page.summary)) +
                   indented(page.synopsis) + QStringLiteral("\nОПИСАНИЕ\n") +
                   indented(page.description);
    if (QString::fromUtf8(page.synopsis).contains(QLatin1String("SENSOR")))
        text += indented(sensorNote);
    text += QStringLiteral("\nПАРАМЕТРЫ\n") + optionsText(page.options) +
            optionsText(commonOptions()) + QStringLiteral("\nКОДЫ ВЫХОДА\n") +
            QString::fromUtf8(exitStatus) + QStringLiteral("\nПРИМЕРЫ\n") +
            QString::fromUtf8(page.examples);
    return text;
}
