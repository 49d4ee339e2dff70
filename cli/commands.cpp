#include "cli/commands.h"
#include "cli/mqttwatch.h"
#include "codec/errortext.h"
#include "codec/firmwareimage.h"
#include "codec/linefile.h"
#include "core/devices/searchplan.h"
#include "core/link/serialports.h"
#include "core/ops/linepoller.h"
#include "core/sensor/format.h"
#include "core/sensor/ustform.h"

#include <QDateTime>
#include <QEventLoop>
#include <QJsonArray>
#include <QJsonDocument>
#include <QRegularExpression>
#include <algorithm>
#include <iterator>

namespace {

constexpr int fileAddressMax = 247;

bool listedSpeed(int speed)
{
    return std::find(std::begin(listedSpeeds), std::end(listedSpeeds), speed) !=
           std::end(listedSpeeds);
}

QString speedsText()
{
    QStringList speeds;
    for (int speed : listedSpeeds)
        speeds << QString::number(speed);
    return speeds.join(QStringLiteral(", "));
}

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

// A sensor's record as the library keeps it, at the address and speed it is talked to.
DeviceVEL_DUO300 recordFor(const SensorArg& sensor)
{
    DeviceVEL_DUO300 dev{};
    dev.addr = sensor.address;
    dev.baudrate = sensor.speed;
    return dev;
}

// The sensor as a line file describes it; without live values when only its settings were read.
linefile::Sensor described(const DeviceVEL_DUO300& dev, bool withParams)
{
    linefile::Sensor sensor = linefile::fromBlocks(dev.addr, dev.baudrate, dev.ust, dev.param,
                                                   QDateTime::currentDateTime());
    if (!withParams) {
        sensor.type.reset();
        sensor.version.reset();
    }
    return sensor;
}

QJsonValue measureValue(const ParamBlock& param)
{
    if (param.sensorType == 1)
        return param.measure / 100.0;
    return param.measure;
}

QJsonObject withLiveValues(QJsonObject object, const ParamBlock& param)
{
    object.insert(QStringLiteral("measure"), measureValue(param));
    object.insert(QStringLiteral("adc"), param.adc);
    object.insert(QStringLiteral("workTime"), qint64(param.workTime));
    return object;
}

QString row(const QString& caption, const QString& value)
{
    return caption.leftJustified(22) + value + QLatin1Char('\n');
}

QString settingsText(const UstBlock& ust)
{
    return row(QStringLiteral("Имя:"), QStringLiteral("«%1»").arg(nameText(ust))) +
           row(QStringLiteral("Адрес:"), QString::number(ust.mbAddr)) +
           row(QStringLiteral("Скорость:"), QString::number(ust.speed * 100)) +
           row(QStringLiteral("Уставка:"), QString::number(ust.threshold)) +
           row(QStringLiteral("Точка нуля, АЦП:"), QString::number(ust.zeroAdc)) +
           row(QStringLiteral("Точка номинала, АЦП:"), QString::number(ust.nomAdc)) +
           row(QStringLiteral("Блок уставок:"), QString::fromLatin1(blockBytes(ust).toHex(' ')));
}

QString workTimeText(quint32 seconds)
{
    return QStringLiteral("%1 ч %2 мин %3 с")
        .arg(seconds / 3600)
        .arg(seconds / 60 % 60)
        .arg(seconds % 60);
}

QString liveText(const DeviceVEL_DUO300& dev)
{
    const SensorCaptions captions = sensorCaptions(dev.param.sensorType);
    return row(QStringLiteral("Тип:"), sensorTypeText(dev.param.sensorType)) +
           row(captions.measureLabel + QLatin1Char(':'), measureText(dev.param)) +
           row(QStringLiteral("АЦП:"), QString::number(dev.param.adc)) +
           row(QStringLiteral("Время работы:"), workTimeText(dev.param.workTime)) +
           row(QStringLiteral("Версия ПО:"), versionText(dev.param));
}

// What a sensor that answers as its loader does is told to do, with the way back; empty for any
// other.
QString inLoaderHint(const DeviceVEL_DUO300& dev)
{
    return ops::loaderNotice(dev, flashWayOut(dev.addr, dev.baudrate));
}

// The sensor named by the only positional argument, or by the first of two.
bool sensorArgument(Context& context, int count, SensorArg* sensor, int* code)
{
    if (context.args.size() != count) {
        *code = context.usage(QStringLiteral("ожидается аргументов: %1, дано: %2")
                                  .arg(count)
                                  .arg(context.args.size()));
        return false;
    }
    QString why;
    if (!parseSensor(context.args.at(0), sensor, &why)) {
        *code = context.usage(why);
        return false;
    }
    return true;
}

// The one sensor a command names, with the port open at its speed: its record and its name as
// "5@9600"; false with *code set.
bool openSensor(Context& context, DeviceVEL_DUO300* dev, QString* what, int* code)
{
    SensorArg arg;
    if (!sensorArgument(context, 1, &arg, code) || !context.open(code))
        return false;
    context.session->useSpeed(arg.speed);
    *dev = recordFor(arg);
    *what = sensorText(arg.address, arg.speed);
    return true;
}

int runPorts(Context& context)
{
    if (!context.args.isEmpty())
        return context.usage(QStringLiteral("ports не принимает аргументов"));
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

int runScan(Context& context)
{
    if (!context.args.isEmpty())
        return context.usage(QStringLiteral("scan не принимает аргументов"));
    QStringList speeds = defaultSearchSpeeds();
    QStringList addresses = defaultSearchAddresses();
    const QCommandLineParser& parser = *context.parser;
    if (parser.isSet(QStringLiteral("speeds"))) {
        if (!parseList(parser.value(QStringLiteral("speeds")), 1, 1000000, &speeds))
            return context.usage(QStringLiteral("--speeds: ожидается список скоростей"));
        for (const QString& speed : speeds) {
            if (!listedSpeed(speed.toInt()))
                return context.usage(
                    QStringLiteral("--speeds: скорости %1 нет среди %2").arg(speed, speedsText()));
        }
    }
    if (parser.isSet(QStringLiteral("addresses")) &&
        !parseList(parser.value(QStringLiteral("addresses")), 1, fileAddressMax, &addresses))
        return context.usage(
            QStringLiteral("--addresses: ожидается список адресов от 1 до %1, например 1-5,7")
                .arg(fileAddressMax));

    int code = 0;
    if (!context.open(&code))
        return code;
    Session& session = *context.session;
    SensorRegistry registry;
    ops::SearchLine search(session.line(), session.host(), registry);
    session.host().setActivity(QStringLiteral("Поиск"));
    const ops::Result result = search.run(session.port(), speeds, addresses);
    session.host().finishProgress();
    if ((code = context.report(result, QStringLiteral("Поиск"))) != 0)
        return code;

    // The search reads settings only; type and version come with the live values.
    linefile::Line line;
    line.port = session.port();
    QString text;
    for (int row : search.found) {
        DeviceVEL_DUO300& dev = registry[row];
        session.useSpeed(dev.baudrate);
        const ops::Result polled = ops::PollSensor(session.line(), session.host()).run(&dev);
        if (polled.kind == ops::Result::Ending || session.portFailed())
            return context.report(polled, sensorText(dev.addr, dev.baudrate));
        linefile::Sensor sensor = described(dev, polled.done());
        if (!dev.ustRead)
            sensor = linefile::Sensor{};
        sensor.address = dev.addr;
        sensor.speed = dev.baudrate;
        sensor.answered = polled.done() && dev.ustRead;
        line.sensors.append(sensor);
        text += sensorText(dev.addr, dev.baudrate).leftJustified(12);
        if (sensor.answered)
            text += QStringLiteral("%1, версия %2, имя «%3»\n")
                        .arg(sensorTypeText(dev.param.sensorType), versionText(dev.param),
                             nameText(dev.ust));
        else
            text += polled.done() ? QStringLiteral("ответил на поиск, но уставки не считаны\n")
                                  : QStringLiteral("ответил на поиск, но не на чтение: %1\n")
                                        .arg(errorTextFor(polled.error));
    }
    if (context.json)
        printOut(QString::fromUtf8(linefile::toJson(line)));
    else
        printOut(text + QStringLiteral("Найдено устройств: %1\n").arg(line.sensors.size()));
    return exitcode::done;
}

int runInfo(Context& context)
{
    DeviceVEL_DUO300 dev{};
    QString what;
    int code = 0;
    if (!openSensor(context, &dev, &what, &code))
        return code;
    Session& session = *context.session;
    ops::Result result = ops::PollSensor(session.line(), session.host()).run(&dev);
    if ((code = context.report(result, what, inLoaderHint(dev))) != 0)
        return code;
    result = ops::ReadSettings(session.line(), session.host()).run(&dev, 3);
    if ((code = context.report(result, what, inLoaderHint(dev))) != 0)
        return code;
    context.result(QStringLiteral("Датчик %1\n").arg(what) + liveText(dev) + settingsText(dev.ust),
                   withLiveValues(linefile::toObject(described(dev, true)), dev.param));
    return exitcode::done;
}

int runRead(Context& context)
{
    DeviceVEL_DUO300 dev{};
    QString what;
    int code = 0;
    if (!openSensor(context, &dev, &what, &code))
        return code;
    Session& session = *context.session;
    const ops::Result result = ops::ReadSettings(session.line(), session.host()).run(&dev, 3);
    if ((code = context.report(result, what, inLoaderHint(dev))) != 0)
        return code;
    context.result(QStringLiteral("Датчик %1\n").arg(what) + settingsText(dev.ust),
                   linefile::toObject(described(dev, false)));
    return exitcode::done;
}

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

int runWrite(Context& context)
{
    SensorArg arg;
    int code = 0;
    if (!sensorArgument(context, 1, &arg, &code))
        return code;
    const QCommandLineParser& parser = *context.parser;
    const bool newName = parser.isSet(QStringLiteral("name"));
    const bool newSpeed = parser.isSet(QStringLiteral("speed"));
    const bool newSetpoint = parser.isSet(QStringLiteral("setpoint"));
    if (!newName && !newSpeed && !newSetpoint)
        return context.usage(
            QStringLiteral("write: нечего записывать (--name, --speed, --setpoint)"));
    bool speedOk = true, setpointOk = true;
    const int speed = newSpeed ? parser.value(QStringLiteral("speed")).toInt(&speedOk) : 0;
    const QString setpoint = parser.value(QStringLiteral("setpoint"));
    if (newSetpoint)
        setpoint.toInt(&setpointOk);
    if (!speedOk)
        return context.usage(QStringLiteral("--speed: ожидается число"));
    if (!setpointOk)
        return context.usage(QStringLiteral("--setpoint: ожидается целое число"));

    // The given values are checked before anything is sent, the others as the sensor holds them.
    UstForm form;
    form.nameLabel = QStringLiteral("Имя устройства (--name)");
    form.speedLabel = QStringLiteral("Скорость (--speed)");
    form.thresholdLabel = QStringLiteral("Уставка (--setpoint)");
    form.name = parser.value(QStringLiteral("name"));
    form.speed = newSpeed ? speed : factorySpeed;
    form.threshold = newSetpoint ? setpoint : QStringLiteral("0");
    QString refusal = ustFormRefusal(form);
    if (refusal.isEmpty() && nameEncodable(form.name) &&
        form.name.size() > int(sizeof(UstBlock::name)))
        refusal =
            QStringLiteral("Уставки не записаны: имя длиннее %1 байт.").arg(sizeof(UstBlock::name));
    if (!refusal.isEmpty())
        return context.refuse(refusal);

    if (!context.open(&code))
        return code;
    Session& session = *context.session;
    session.useSpeed(arg.speed);
    DeviceVEL_DUO300 dev = recordFor(arg);
    const QString what = sensorText(arg.address, arg.speed);
    ops::Result result = ops::ReadSettings(session.line(), session.host()).run(&dev, 3);
    if ((code = context.report(result, what, inLoaderHint(dev))) != 0)
        return code;
    if (!newName)
        form.name = nameText(dev.ust);
    if (!newSpeed)
        form.speed = dev.ust.speed * 100;
    if (!newSetpoint)
        form.threshold = QString::number(dev.ust.threshold);
    result = ops::WriteSettings(session.line(), session.host()).run(&dev, form);
    if ((code = context.report(result, what)) != 0)
        return code;

    // The record follows the written speed; the sensor is read back there.
    session.useSpeed(dev.baudrate);
    DeviceVEL_DUO300 check = recordFor({dev.addr, dev.baudrate});
    result = ops::ReadSettings(session.line(), session.host()).run(&check, 3);
    const QString now = sensorText(dev.addr, dev.baudrate);
    if ((code = context.report(result, now)) != 0)
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

int runSetAddress(Context& context)
{
    SensorArg arg;
    int code = 0;
    if (!sensorArgument(context, 2, &arg, &code))
        return code;
    bool number = false;
    const int newAddress = context.args.at(1).toInt(&number);
    if (!number)
        return context.usage(QStringLiteral("новый адрес «%1» не число").arg(context.args.at(1)));
    if (!context.open(&code))
        return code;
    Session& session = *context.session;
    session.useSpeed(arg.speed);
    DeviceVEL_DUO300 dev = recordFor(arg);
    const QString what = sensorText(arg.address, arg.speed);
    ops::Result result = ops::ReadSettings(session.line(), session.host()).run(&dev, 3);
    if ((code = context.report(result, what, inLoaderHint(dev))) != 0)
        return code;
    result = ops::ChangeAddress(session.line(), session.host()).run(&dev, newAddress);
    if ((code = context.report(result, what)) != 0)
        return code;
    context.result(QStringLiteral("Датчик %1 теперь отвечает как %2\n")
                       .arg(what, sensorText(dev.addr, dev.baudrate)),
                   linefile::toObject(described(dev, false)));
    return exitcode::done;
}

int runReset(Context& context)
{
    DeviceVEL_DUO300 dev{};
    QString what;
    int code = 0;
    if (!openSensor(context, &dev, &what, &code))
        return code;
    Session& session = *context.session;
    const ops::Result result = ops::ResetSettings(session.line(), session.host()).run(&dev);
    if ((code = context.report(result, what)) != 0)
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

int runCalibrate(Context& context)
{
    if (context.args.isEmpty() || (context.args.at(0) != QLatin1String("zero") &&
                                   context.args.at(0) != QLatin1String("nominal")))
        return context.usage(QStringLiteral("calibrate: ожидается zero или nominal"));
    const bool zero = context.args.takeFirst() == QLatin1String("zero");
    DeviceVEL_DUO300 dev{};
    QString what;
    int code = 0;
    if (!openSensor(context, &dev, &what, &code))
        return code;
    Session& session = *context.session;
    TerminalHost& host = session.host();
    ops::Result result = ops::PollSensor(session.line(), host).run(&dev);
    if ((code = context.report(result, what, inLoaderHint(dev))) != 0)
        return code;
    if (dev.param.sensorType != 2)
        return context.refuse(QStringLiteral("Датчик %1: калибруются только датчики напряжения, "
                                             "а это %2")
                                  .arg(what, sensorTypeText(dev.param.sensorType)));
    host.setActivity(zero ? QStringLiteral("Калибровка нуля %1").arg(what)
                          : QStringLiteral("Калибровка номинала %1").arg(what));
    host.onParams = [&host](DeviceVEL_DUO300* read) {
        host.status(QStringLiteral("АЦП %1").arg(read->param.adc));
    };
    if (zero)
        result = ops::CalibrateZero(session.line(), host).run(&dev);
    else
        result = ops::CalibrateNominal(session.line(), host).run(&dev);
    host.onParams = nullptr;
    host.finishProgress();
    if ((code = context.report(result, what)) != 0)
        return code;
    context.result(zero ? QStringLiteral("Датчик %1: точка нуля записана, АЦП %2\n")
                              .arg(what)
                              .arg(dev.ust.zeroAdc)
                        : QStringLiteral("Датчик %1: точка номинала записана, АЦП %2\n")
                              .arg(what)
                              .arg(dev.ust.nomAdc),
                   linefile::toObject(described(dev, true)));
    return exitcode::done;
}

int runFlash(Context& context)
{
    SensorArg arg;
    int code = 0;
    if (!sensorArgument(context, 2, &arg, &code))
        return code;
    const QString imagePath = context.args.at(1);
    // The image is read and checked whole before the port is opened.
    const firmware::ImageFile image = firmware::readImageFile(imagePath);
    if (!image.refusal.isEmpty())
        return context.refuse(image.refusal);
    if (!context.open(&code))
        return code;
    Session& session = *context.session;
    session.useSpeed(arg.speed);
    DeviceVEL_DUO300 dev = recordFor(arg);
    const QString what = sensorText(arg.address, arg.speed);
    // What the confirmation names: type, name. A sensor that rejects the read may sit in its
    // loader and is reprogrammed all the same.
    ops::Result result = ops::PollSensor(session.line(), session.host()).run(&dev);
    if (result.done())
        result = ops::ReadSettings(session.line(), session.host()).run(&dev, 3);
    if (!result.done() && !dev.cmdRejected && (code = context.report(result, what)) != 0)
        return code;
    session.host().setActivity(QStringLiteral("Перепрограммирование %1").arg(what));
    ops::Reprogram flash(session.line(), session.host());
    result = flash.run(&dev, imagePath);
    session.host().finishProgress();
    const QString hint = flash.leftInLoader
                             ? ops::leftInLoaderText(dev, flashWayOut(dev.addr, dev.baudrate))
                             : QString();
    if ((code = context.report(result, what, hint)) != 0)
        return code;
    context.result(QStringLiteral("Датчик %1 перепрограммирован: %2, %3 байт\n")
                       .arg(what, imagePath)
                       .arg(image.bytes.size()),
                   QJsonObject{{QStringLiteral("address"), dev.addr},
                               {QStringLiteral("speed"), dev.baudrate},
                               {QStringLiteral("image"), imagePath},
                               {QStringLiteral("bytes"), image.bytes.size()}});
    return exitcode::done;
}

int runWatch(Context& context)
{
    if (context.args.isEmpty())
        return context.usage(QStringLiteral("watch: не указан датчик"));
    SensorRegistry registry;
    for (const QString& text : context.args) {
        SensorArg arg;
        QString why;
        if (!parseSensor(text, &arg, &why))
            return context.usage(why);
        registry.add(recordFor(arg));
    }
    double interval = 1;
    if (context.parser->isSet(QStringLiteral("interval"))) {
        bool ok = false;
        interval = context.parser->value(QStringLiteral("interval")).toDouble(&ok);
        if (!ok || interval < 0 || interval > 86400)
            return context.usage(QStringLiteral("--interval: ожидается число секунд"));
    }
    const bool csv = context.parser->isSet(QStringLiteral("csv"));
    int code = 0;
    MqttWatch mqtt;
    const bool publishing = context.parser->isSet(QStringLiteral("mqtt"));
    if (publishing && !mqtt.prepare(context, &code))
        return code;
    if (!context.open(&code))
        return code;
    Session& session = *context.session;
    if (publishing)
        mqtt.start(context, registry);
    if (csv && !context.json)
        printOut(QStringLiteral("time,address,speed,type,measure,adc,workTime,error\n"));

    // The window's overview polls with the same poller: sensors of one speed in a row, so the
    // port is re-opened only when the speed changes.
    LinePoller poller(session.line(), session.host(), registry);
    poller.setRoundInterval(int(interval * 1000));
    poller.setBusy([&mqtt] { return mqtt.busy(); });
    QEventLoop loop;
    ops::Result last;
    QString lastSensor;
    QObject::connect(&session, &Session::ending, &loop, &QEventLoop::quit);
    QObject::connect(&mqtt, &MqttWatch::refused, &loop, &QEventLoop::quit);
    QObject::connect(&poller, &LinePoller::reading, &loop, [&](const Reading& reading) {
        const DeviceVEL_DUO300& dev = registry[registry.find(reading.addr, reading.baudrate)];
        lastSensor = sensorText(reading.addr, reading.baudrate);
        last = reading.ok()
                   ? ops::Result()
                   : ops::Result::failed(reading.error, QString(), errorTextFor(reading.error));
        if (publishing)
            mqtt.add(reading, dev);
        if (session.ended() || session.portFailed()) {
            loop.quit();
            return;
        }
        const QString time =
            QDateTime::fromMSecsSinceEpoch(reading.msecs).toString(Qt::ISODateWithMs);
        const int error = reading.error;
        if (context.json) {
            QJsonObject object{{QStringLiteral("time"), time},
                               {QStringLiteral("address"), dev.addr},
                               {QStringLiteral("speed"), dev.baudrate},
                               {QStringLiteral("error"), error}};
            if (error == 0) {
                object.insert(QStringLiteral("type"), dev.param.sensorType);
                object = withLiveValues(object, dev.param);
            } else {
                object.insert(QStringLiteral("text"), errorTextFor(error));
            }
            context.result(QString(), object);
        } else if (csv) {
            printOut(error == 0 ? QStringLiteral("%1,%2,%3,%4,%5,%6,%7,0\n")
                                      .arg(time)
                                      .arg(dev.addr)
                                      .arg(dev.baudrate)
                                      .arg(dev.param.sensorType)
                                      .arg(measureValue(dev.param).toDouble())
                                      .arg(dev.param.adc)
                                      .arg(dev.param.workTime)
                                : QStringLiteral("%1,%2,%3,,,,,%4\n")
                                      .arg(time)
                                      .arg(dev.addr)
                                      .arg(dev.baudrate)
                                      .arg(error));
        } else {
            const QString who = sensorText(dev.addr, dev.baudrate);
            printOut(error == 0
                         ? QStringLiteral("%1 %2 %3 %4, АЦП %5\n")
                               .arg(time, who, sensorCaptions(dev.param.sensorType).measureLabel,
                                    measureText(dev.param))
                               .arg(dev.param.adc)
                         : QStringLiteral("%1 %2 ошибка %3: %4\n")
                               .arg(time, who)
                               .arg(error)
                               .arg(errorTextFor(error)));
        }
    });
    poller.start(session.port());
    if (mqtt.refusal().isEmpty())
        loop.exec();
    poller.stop();
    if (publishing)
        mqtt.finish();
    if (!mqtt.refusal().isEmpty())
        return context.brokerRefused(mqtt.refusal());
    if (session.ended())
        return context.report({ops::Result::Ending, 0, QString(), QString()}, QString());
    return context.report(last, lastSensor);
}

} // namespace

QString flashWayOut(int address, int speed)
{
    return QStringLiteral("velduo flash %1 ОБРАЗ").arg(sensorText(address, speed));
}

bool parseSensor(const QString& text, SensorArg* sensor, QString* why)
{
    static const QRegularExpression form(QStringLiteral("^(\\d{1,3})(?:@(\\d{1,7}))?$"));
    const QRegularExpressionMatch match = form.match(text);
    if (!match.hasMatch()) {
        *why = QStringLiteral("датчик «%1» не в виде АДРЕС@СКОРОСТЬ (например 5@9600)").arg(text);
        return false;
    }
    sensor->address = match.captured(1).toInt();
    sensor->speed = match.captured(2).isEmpty() ? factorySpeed : match.captured(2).toInt();
    if (sensor->address < 1 || sensor->address > fileAddressMax) {
        *why = QStringLiteral("датчик «%1»: адрес вне диапазона от 1 до %2")
                   .arg(text)
                   .arg(fileAddressMax);
        return false;
    }
    if (!listedSpeed(sensor->speed)) {
        *why = QStringLiteral("датчик «%1»: скорости %2 нет среди %3")
                   .arg(text)
                   .arg(sensor->speed)
                   .arg(speedsText());
        return false;
    }
    return true;
}

bool Context::open(int* code)
{
    QString name = port;
    if (name.isEmpty()) {
        // As the window: the first port of the list.
        const QList<PortEntry> ports = serialPorts();
        if (ports.isEmpty()) {
            *code = exitcode::port;
            const QString text = QStringLiteral("Порт не указан (--port, VELDUO_PORT) и не найден");
            if (json)
                result(QString(), QJsonObject{{QStringLiteral("status"), QStringLiteral("port")},
                                              {QStringLiteral("text"), text}});
            else
                printErr(QStringLiteral("velduo: ") + text + QLatin1Char('\n'));
            return false;
        }
        name = ports.first().device;
    }
    session.reset(new Session(name, verbose));
    session->host().yes = yes;
    QString why;
    if (!session->start(logPath, &why)) {
        session.reset();
        *code = usage(why);
        return false;
    }
    return true;
}

int Context::usage(const QString& text) const
{
    printErr(QStringLiteral("velduo %1: %2\nСправка: velduo %1 --help\n").arg(command, text));
    return exitcode::usage;
}

void Context::result(const QString& text, const QJsonObject& object) const
{
    if (json)
        printOut(QString::fromUtf8(QJsonDocument(object).toJson(QJsonDocument::Compact)) +
                 QLatin1Char('\n'));
    else
        printOut(text);
}

int Context::refuse(const QString& text)
{
    if (json)
        result(QString(), QJsonObject{{QStringLiteral("status"), QStringLiteral("refused")},
                                      {QStringLiteral("text"), text}});
    else
        printErr(QStringLiteral("velduo: ") + text + QLatin1Char('\n'));
    return exitcode::refused;
}

int Context::brokerRefused(const QString& text)
{
    if (json)
        result(QString(), QJsonObject{{QStringLiteral("status"), QStringLiteral("broker")},
                                      {QStringLiteral("text"), text}});
    else
        printErr(QStringLiteral("velduo: ") + text + QLatin1Char('\n'));
    return exitcode::broker;
}

int Context::report(const ops::Result& outcome, const QString& what, const QString& hint)
{
    QString status;
    QString text;
    int code = exitcode::done;
    if (session && (session->ended() || outcome.kind == ops::Result::Ending ||
                    outcome.kind == ops::Result::Cancelled)) {
        code = exitcode::ended;
        status = QStringLiteral("ended");
        text = QStringLiteral("Прервано");
    } else if (session && session->portFailed()) {
        code = exitcode::port;
        status = QStringLiteral("port");
        text = QStringLiteral("Порт %1: %2").arg(session->port(), session->portFailure());
    } else {
        switch (outcome.kind) {
        case ops::Result::Done:
            return exitcode::done;
        case ops::Result::Refused:
            code = exitcode::refused;
            status = QStringLiteral("refused");
            text = outcome.text;
            break;
        case ops::Result::Declined:
            code = exitcode::refused;
            status = QStringLiteral("declined");
            text = QStringLiteral("Не подтверждено: ничего не изменено");
            break;
        default:
            code = exitcode::failed;
            status = QStringLiteral("failed");
            // Without an error code the sensor answered, but with what cannot be used: the
            // operation's words say all.
            if (outcome.error == 0) {
                text = QString(outcome.text).replace(QLatin1Char('\n'), QLatin1Char(' '));
                break;
            }
            text =
                QStringLiteral("ошибка %1: %2").arg(outcome.error).arg(errorTextFor(outcome.error));
            // The operation's own words first, when it says more than the error table.
            if (!outcome.text.isEmpty() && outcome.text != errorTextFor(outcome.error)) {
                QString own = outcome.text.section(QLatin1Char('\n'), 0, 0).trimmed();
                if (own.endsWith(QLatin1Char(':')))
                    own.chop(1);
                text = own + QStringLiteral(": ") + text;
            }
            break;
        }
    }
    if (!what.isEmpty() && code == exitcode::failed)
        text = QStringLiteral("Датчик %1: %2").arg(what, text);
    if (!hint.isEmpty())
        text += QLatin1Char('\n') + hint;
    if (session)
        session->host().finishProgress();
    if (json) {
        QJsonObject object{{QStringLiteral("status"), status}, {QStringLiteral("text"), text}};
        if (code == exitcode::failed)
            object.insert(QStringLiteral("error"), outcome.error);
        result(QString(), object);
    } else {
        printErr(QStringLiteral("velduo: ") + text + QLatin1Char('\n'));
    }
    return code;
}

const QList<Command>& commands()
{
    static const QList<Command> list = {
        {QStringLiteral("ports"), {}, runPorts},
        {QStringLiteral("scan"),
         {QCommandLineOption(QStringLiteral("speeds"), QString(), QStringLiteral("LIST")),
          QCommandLineOption(QStringLiteral("addresses"), QString(), QStringLiteral("LIST"))},
         runScan},
        {QStringLiteral("info"), {}, runInfo},
        {QStringLiteral("read"), {}, runRead},
        {QStringLiteral("write"),
         {QCommandLineOption(QStringLiteral("name"), QString(), QStringLiteral("N")),
          QCommandLineOption(QStringLiteral("speed"), QString(), QStringLiteral("S")),
          QCommandLineOption(QStringLiteral("setpoint"), QString(), QStringLiteral("V"))},
         runWrite},
        {QStringLiteral("set-address"), {}, runSetAddress},
        {QStringLiteral("reset"), {}, runReset},
        {QStringLiteral("calibrate"), {}, runCalibrate},
        {QStringLiteral("flash"), {}, runFlash},
        {QStringLiteral("watch"),
         QList<QCommandLineOption>{
             QCommandLineOption(QStringLiteral("interval"), QString(), QStringLiteral("S")),
             QCommandLineOption(QStringLiteral("csv"))} +
             mqttOptions(),
         runWatch},
        {QStringLiteral("commission"),
         {QCommandLineOption(QStringLiteral("out"), QString(), QStringLiteral("LINEFILE")),
          QCommandLineOption(QStringLiteral("image"), QString(), QStringLiteral("IMAGE")),
          QCommandLineOption(QStringLiteral("resume"))},
         runCommission},
    };
    return list;
}
