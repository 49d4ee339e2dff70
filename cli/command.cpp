// What the commands share: the context's reports, the sensor named on the command line, and
// "open the sensor, read, report".
#include "cli/command.h"
#include "cli/sensortext.h"
#include "codec/errortext.h"
#include "core/link/serialports.h"

#include <QFileInfo>
#include <QJsonDocument>
#include <QJsonObject>
#include <QRegularExpression>
#include <algorithm>
#include <iterator>

namespace {

// What a sensor that answers as its loader does is told to do, with the way back; empty for any
// other.
QString inLoaderHint(const DeviceVEL_DUO300& dev)
{
    return ops::loaderNotice(dev, flashWayOut(dev.addr, dev.baudrate));
}

} // namespace

firmware::ImageFile readImage(const QString& path)
{
    if (!path.isEmpty() && !QFileInfo::exists(path))
        return {{}, QStringLiteral("нет файла образа «%1»").arg(path)};
    return firmware::readImageFile(path);
}

bool listedSpeed(int speed)
{
    return std::find(std::begin(listedSpeeds), std::end(listedSpeeds), speed) !=
           std::end(listedSpeeds);
}

QStringList speedWords()
{
    QStringList speeds;
    for (int speed : listedSpeeds)
        speeds << QString::number(speed);
    return speeds;
}

QString speedsText()
{
    return speedWords().join(QStringLiteral(", "));
}

QString flashWayOut(int address, int speed)
{
    return QStringLiteral("velduo flash %1 ОБРАЗ").arg(sensorText(address, speed));
}

bool parseSensor(const QString& text, SensorArg* sensor, QString* why, bool* outOfRange)
{
    if (outOfRange)
        *outOfRange = false;
    static const QRegularExpression form(QStringLiteral("^(\\d{1,3})(?:@(\\d{1,7}))?$"));
    const QRegularExpressionMatch match = form.match(text);
    if (!match.hasMatch()) {
        *why = QStringLiteral("датчик «%1» не в виде АДРЕС@СКОРОСТЬ (например 5@9600)").arg(text);
        return false;
    }
    sensor->address = match.captured(1).toInt();
    sensor->speed = match.captured(2).isEmpty() ? factorySpeed : match.captured(2).toInt();
    if (sensor->address < 1 || sensor->address > modbusAddressMax) {
        *why = QStringLiteral("датчик «%1»: адрес вне диапазона от 1 до %2")
                   .arg(text)
                   .arg(modbusAddressMax);
        if (outOfRange)
            *outOfRange = true;
        return false;
    }
    if (!listedSpeed(sensor->speed)) {
        *why = QStringLiteral("датчик «%1»: скорости %2 нет среди %3")
                   .arg(text)
                   .arg(sensor->speed)
                   .arg(speedsText());
        if (outOfRange)
            *outOfRange = true;
        return false;
    }
    return true;
}

bool sensorArgument(Context& context, int count, SensorArg* sensor, int* code)
{
    if (context.args.size() != count) {
        *code = context.usage(QStringLiteral("ожидается аргументов: %1, дано: %2")
                                  .arg(count)
                                  .arg(context.args.size()));
        return false;
    }
    QString why;
    bool outOfRange = false;
    if (!parseSensor(context.args.at(0), sensor, &why, &outOfRange)) {
        *code = outOfRange ? context.refuse(why) : context.usage(why);
        return false;
    }
    return true;
}

DeviceVEL_DUO300 atSensor(Context& context, const SensorArg& sensor)
{
    context.session->useSpeed(sensor.speed);
    return recordFor(sensor);
}

int readSensor(Context& context, const SensorArg& sensor, int reads, DeviceVEL_DUO300* dev)
{
    *dev = atSensor(context, sensor);
    const QString what = sensorText(sensor.address, sensor.speed);
    Session& session = *context.session;
    ops::Result result;
    if (reads & LiveValues)
        result = ops::PollSensor(session.line(), session.host()).run(dev);
    if (result.done() && (reads & Settings))
        result = ops::ReadSettings(session.line(), session.host()).run(dev, 3);
    if (reads & LoaderGoesOn)
        return result.done() || dev->cmdRejected ? 0 : context.report(result, what);
    return context.report(result, what, inLoaderHint(*dev));
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
        // Said, so that a sensor that does not answer is not looked for on the wrong adapter.
        if (!json)
            printErr(QStringLiteral("velduo: порт не указан (--port, VELDUO_PORT), взят первый "
                                    "из списка: %1\n")
                         .arg(name));
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
    if (json)
        result(QString(), QJsonObject{{QStringLiteral("status"), QStringLiteral("usage")},
                                      {QStringLiteral("text"), text}});
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
    // Which line it was: on a bench with several adapters a silent sensor may sit on another.
    if (!what.isEmpty() && code == exitcode::failed)
        text = session
                   ? QStringLiteral("Датчик %1 на порту %2: %3").arg(what, session->port(), text)
                   : QStringLiteral("Датчик %1: %2").arg(what, text);
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

void tellBrokerEvent(const Context& context, const QString& event, const QString& broker,
                     int queued, qint64 dropped, const QString& text)
{
    if (context.json)
        printErr(QString::fromUtf8(QJsonDocument(QJsonObject{{QStringLiteral("event"), event},
                                                             {QStringLiteral("broker"), broker},
                                                             {QStringLiteral("queued"), queued},
                                                             {QStringLiteral("dropped"), dropped},
                                                             {QStringLiteral("text"), text}})
                                       .toJson(QJsonDocument::Compact)) +
                 QLatin1Char('\n'));
    else
        printErr(QStringLiteral("velduo: ") + text + QLatin1Char('\n'));
}
