// velduo write, set-address and reset: the commands that change a sensor's settings.
#include "cli/command.h"
#include "cli/sensortext.h"
#include "core/sensor/format.h"
#include "core/sensor/ustform.h"

namespace {

// The differences between what was written and what was read back, the whole block included.
QVector<linefile::Difference> readBackDifferences(const DeviceVEL_DUO300& written,
                                                  const DeviceVEL_DUO300& read)
{
    QVector<linefile::Difference> found =
        linefile::differences(described(written, false), described(read, false));
    if (found.isEmpty() && blockBytes(written.ust) != blockBytes(read.ust))
        found.append({QStringLiteral("block"), QString::fromLatin1(blockBytes(written.ust).toHex()),
                      QString::fromLatin1(blockBytes(read.ust).toHex())});
    return found;
}

QString differencesText(const QVector<linefile::Difference>& found)
{
    QStringList lines;
    for (const linefile::Difference& difference : found)
        lines << QStringLiteral("%1: ожидалось %2, считано %3")
                     .arg(difference.key, difference.expected, difference.actual);
    return lines.join(QLatin1Char('\n'));
}

// What write changes: the values given, checked; the others are taken from the sensor.
struct Change
{
    SensorArg sensor;
    UstForm form;
    bool newName = false;
    bool newSpeed = false;
    bool newSetpoint = false;
};

int write(Context& context, Change change)
{
    DeviceVEL_DUO300 dev;
    if (const int code = readSensor(context, change.sensor, Settings, &dev))
        return code;
    UstForm& form = change.form;
    if (!change.newName)
        form.name = nameText(dev.ust);
    if (!change.newSpeed)
        form.speed = dev.ust.speed * 100;
    if (!change.newSetpoint)
        form.threshold = QString::number(dev.ust.threshold);
    Session& session = *context.session;
    const QString what = sensorText(change.sensor.address, change.sensor.speed);
    ops::Result result = ops::WriteSettings(session.line(), session.host()).run(&dev, form);
    if (const int code = context.report(result, what))
        return code;

    // The record follows the written speed; the sensor is read back there.
    DeviceVEL_DUO300 check = atSensor(context, {dev.addr, dev.baudrate});
    result = ops::ReadSettings(session.line(), session.host()).run(&check, 3);
    const QString now = sensorText(dev.addr, dev.baudrate);
    if (const int code = context.report(result, now))
        return code;
    const QVector<linefile::Difference> found = readBackDifferences(dev, check);
    if (!found.isEmpty()) {
        const QString text =
            QStringLiteral("Датчик %1: считанные уставки не совпадают с записанными:\n%2")
                .arg(now, differencesText(found));
        if (context.json)
            context.result(QString(),
                           QJsonObject{{QStringLiteral("status"), QStringLiteral("failed")},
                                       {QStringLiteral("text"), text}});
        else
            printErr(QStringLiteral("velduo: ") + text + QLatin1Char('\n'));
        return exitcode::failed;
    }
    context.result(QStringLiteral("Уставки записаны и проверены; датчик %1\n").arg(now) +
                       settingsText(check.ust),
                   linefile::toObject(described(check, false)));
    return exitcode::done;
}

int setAddress(Context& context, const SensorArg& sensor, int newAddress)
{
    DeviceVEL_DUO300 dev;
    if (const int code = readSensor(context, sensor, Settings, &dev))
        return code;
    Session& session = *context.session;
    const QString what = sensorText(sensor.address, sensor.speed);
    // Already there: nothing is written, and it is not told as a move.
    if (newAddress == sensor.address) {
        context.result(QStringLiteral("Датчик %1 уже отвечает по адресу %2: ничего не записано\n")
                           .arg(what)
                           .arg(newAddress),
                       linefile::toObject(described(dev, false)));
        return exitcode::done;
    }
    const ops::Result result =
        ops::ChangeAddress(session.line(), session.host()).run(&dev, newAddress);
    if (const int code = context.report(result, what))
        return code;
    context.result(QStringLiteral("Датчик %1 теперь отвечает по адресу %2: %3\n")
                       .arg(what)
                       .arg(dev.addr)
                       .arg(sensorText(dev.addr, dev.baudrate)),
                   linefile::toObject(described(dev, false)));
    return exitcode::done;
}

int reset(Context& context, const SensorArg& sensor)
{
    DeviceVEL_DUO300 dev = atSensor(context, sensor);
    Session& session = *context.session;
    const QString what = sensorText(sensor.address, sensor.speed);
    const ops::Result result = ops::ResetSettings(session.line(), session.host()).run(&dev);
    if (const int code = context.report(result, what))
        return code;
    const UstBlock defaults = defaultUstBlock();
    const int address = defaults.mbAddr;
    const int speed = defaults.speed * 100;
    context.result(
        QStringLiteral("Датчик %1 принял настройки по умолчанию; теперь он отвечает "
                       "как %2\n")
            .arg(what, sensorText(address, speed)),
        QJsonObject{{QStringLiteral("address"), address}, {QStringLiteral("speed"), speed}});
    return exitcode::done;
}

} // namespace

Job prepareWrite(Context& context, int* code)
{
    Change change;
    if (!sensorArgument(context, 1, &change.sensor, code))
        return Job();
    const QCommandLineParser& parser = *context.parser;
    change.newName = parser.isSet(QStringLiteral("name"));
    change.newSpeed = parser.isSet(QStringLiteral("speed"));
    change.newSetpoint = parser.isSet(QStringLiteral("setpoint"));
    if (!change.newName && !change.newSpeed && !change.newSetpoint)
        return noJob(
            code, context.usage(QStringLiteral("нечего записывать (--name, --speed, --setpoint)")));
    bool speedOk = true, setpointOk = true;
    const int speed = change.newSpeed ? parser.value(QStringLiteral("speed")).toInt(&speedOk) : 0;
    const QString setpoint = parser.value(QStringLiteral("setpoint"));
    if (change.newSetpoint)
        setpoint.toInt(&setpointOk);
    if (!speedOk)
        return noJob(code, context.usage(QStringLiteral("--speed: ожидается число")));
    // A speed no sensor can have is a value refused, as in SENSOR and --speeds.
    if (change.newSpeed && !listedSpeed(speed))
        return noJob(
            code,
            context.refuse(
                QStringLiteral("--speed: скорости %1 нет среди %2").arg(speed).arg(speedsText())));
    if (!setpointOk)
        return noJob(code, context.usage(QStringLiteral("--setpoint: ожидается целое число")));

    // The given values are checked before anything is sent, the others as the sensor holds them.
    UstForm& form = change.form;
    form.nameLabel = QStringLiteral("Имя устройства (--name)");
    form.speedLabel = QStringLiteral("Скорость (--speed)");
    form.thresholdLabel = QStringLiteral("Уставка (--setpoint)");
    form.name = parser.value(QStringLiteral("name"));
    form.speed = change.newSpeed ? speed : factorySpeed;
    form.threshold = change.newSetpoint ? setpoint : QStringLiteral("0");
    QString refusal = ustFormRefusal(form);
    if (refusal.isEmpty() && nameEncodable(form.name) &&
        form.name.size() > int(sizeof(UstBlock::name)))
        refusal =
            QStringLiteral("Уставки не записаны: имя длиннее %1 байт.").arg(sizeof(UstBlock::name));
    if (!refusal.isEmpty())
        return noJob(code, context.refuse(refusal));
    return [change](Context& context) { return write(context, change); };
}

Job prepareSetAddress(Context& context, int* code)
{
    SensorArg sensor;
    if (!sensorArgument(context, 2, &sensor, code))
        return Job();
    bool number = false;
    const int newAddress = context.args.at(1).toInt(&number);
    if (!number)
        return noJob(
            code,
            context.usage(QStringLiteral("новый адрес «%1» не число").arg(context.args.at(1))));
    // A value the sensor cannot take is refused before the port.
    if (newAddress < 1 || newAddress > addressMax)
        return noJob(code, context.refuse(QStringLiteral("новый адрес %1 вне диапазона от 1 до %2")
                                              .arg(newAddress)
                                              .arg(addressMax)));
    return
        [sensor, newAddress](Context& context) { return setAddress(context, sensor, newAddress); };
}

Job prepareReset(Context& context, int* code)
{
    SensorArg sensor;
    if (!sensorArgument(context, 1, &sensor, code))
        return Job();
    return [sensor](Context& context) { return reset(context, sensor); };
}

HelpPage writeHelp()
{
    return {"запись уставок",
            "velduo write SENSOR [--name N] [--speed S] [--setpoint V] [--json]",
            "Считывает блок уставок, меняет только заданное, проверяет значения, как окно\n"
            "(уставка от -30000 до 30000, имя в Windows-1251 не длиннее 16 байт, скорость из\n"
            "списка), записывает, считывает обратно и сравнивает. Новая скорость\n"
            "записывается, только если на ней по адресу датчика никто не отвечает; после\n"
            "смены скорости датчик считывается на новой скорости.\n",
            {QCommandLineOption(QStringLiteral("name"), QStringLiteral("Имя датчика."),
                                QStringLiteral("N")),
             QCommandLineOption(QStringLiteral("speed"),
                                QStringLiteral("Скорость, бит/с: %1.").arg(speedsText()),
                                QStringLiteral("S")),
             QCommandLineOption(QStringLiteral("setpoint"), QStringLiteral("Уставка, В или °C."),
                                QStringLiteral("V"))},
            "    velduo write 5@9600 --name \"Ввод 1\" --setpoint 250\n"
            "    velduo write 1 --speed 9600\n",
            {{{QStringLiteral("speed"), speedWords()}}}};
}

HelpPage setAddressHelp()
{
    return {"смена адреса Modbus",
            "velduo set-address SENSOR NEW [--yes]",
            "Как в окне: проверяет, что адрес NEW (1-31) свободен на скорости датчика\n"
            "(если занят, называет, кто там отвечает), спрашивает подтверждение и\n"
            "записывает адрес.\n",
            {},
            "    velduo set-address 1 5 --yes\n"};
}

HelpPage resetHelp()
{
    return {"настройки по умолчанию",
            "velduo reset SENSOR [--yes]",
            "После подтверждения записывает в датчик настройки по умолчанию и сообщает,\n"
            "где он отвечает теперь (адрес 1, 115200 бит/с); если там уже отвечает\n"
            "другой датчик, ничего не записывает.\n",
            {},
            "    velduo reset 5@9600 --yes\n"};
}
