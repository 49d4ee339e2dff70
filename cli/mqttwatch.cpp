#include "cli/mqttwatch.h"
#include "codec/blocks.h"
#include "codec/filefault.h"
#include "codec/linefile.h"
#include "codec/plural.h"
#include "core/ops/linepoller.h"

#include <QDateTime>
#include <QFile>
#include <QJsonDocument>
#include <QJsonObject>
#include <QProcessEnvironment>
#include <QSysInfo>
#include <QTimer>

namespace {

const QString passwordVariable = QStringLiteral("VELDUO_MQTT_PASSWORD");

QString identity(const DeviceVEL_DUO300& dev)
{
    return QStringLiteral("%1 %2").arg(dev.param.sensorType).arg(versionText(dev.param));
}

} // namespace

bool MqttWatch::prepare(Context& context, int* code)
{
    const QCommandLineParser& parser = *context.parser;
    const auto value = [&](const char* name) { return parser.value(QLatin1String(name)); };
    QString why;
    if (!broker::parseUrl(value("mqtt"), &url, &why)) {
        *code = context.usage(why);
        return false;
    }
    for (const char* name : {"mqtt-cafile", "mqtt-cert", "mqtt-key"}) {
        if (parser.isSet(QLatin1String(name)) && !url.tls) {
            *code = context.usage(
                QStringLiteral("--%1: только для брокера mqtts://").arg(QLatin1String(name)));
            return false;
        }
    }
    if (parser.isSet(QStringLiteral("mqtt-cert")) != parser.isSet(QStringLiteral("mqtt-key"))) {
        *code = context.usage(QStringLiteral("--mqtt-cert и --mqtt-key задаются вместе"));
        return false;
    }
    if (parser.isSet(QStringLiteral("mqtt-topic"))) {
        prefix = value("mqtt-topic");
        if (!broker::checkPrefix(prefix, &why)) {
            *code = context.usage(why);
            return false;
        }
    }
    settings.host = url.host;
    settings.port = url.port;
    settings.tls = url.tls;
    settings.caFile = value("mqtt-cafile");
    settings.certFile = value("mqtt-cert");
    settings.keyFile = value("mqtt-key");
    settings.user = value("mqtt-user");
    // Files named are read now: a fault shows before the port is opened.
    for (const auto& [path, what] : {std::pair<QString, const char*>{settings.caFile, "файл CA"},
                                     {settings.certFile, "сертификат"},
                                     {settings.keyFile, "ключ"}}) {
        QFile file(path);
        QString why;
        if (!path.isEmpty() && !openFile(file, QIODevice::ReadOnly, &why)) {
            *code = context.refuse(
                QStringLiteral("%1 «%2» не читается: %3").arg(QString::fromUtf8(what), path, why));
            return false;
        }
    }
    const QProcessEnvironment environment = QProcessEnvironment::systemEnvironment();
    if (parser.isSet(QStringLiteral("mqtt-password-file"))) {
        QFile file(value("mqtt-password-file"));
        QString why;
        if (!openFile(file, QIODevice::ReadOnly, &why)) {
            *code = context.refuse(
                QStringLiteral("файл пароля «%1» не читается: %2").arg(file.fileName(), why));
            return false;
        }
        // The first line, without its line end.
        settings.password =
            QString::fromUtf8(file.readLine()).remove(QLatin1Char('\n')).remove(QLatin1Char('\r'));
    } else if (environment.contains(passwordVariable)) {
        settings.password = environment.value(passwordVariable);
    }
    if (!settings.password.isNull() && settings.user.isEmpty()) {
        *code = context.usage(QStringLiteral("пароль MQTT задан без --mqtt-user"));
        return false;
    }
    // Refused here rather than by the broker, whose answer would read as a wrong password.
    if (!settings.user.isEmpty() && settings.password.isNull()) {
        *code = context.usage(QStringLiteral("--mqtt-user %1: пароль не задан; дайте его первой "
                                             "строкой файла --mqtt-password-file ФАЙЛ или в "
                                             "переменной VELDUO_MQTT_PASSWORD")
                                  .arg(settings.user));
        return false;
    }
    return true;
}

void MqttWatch::start(Context& context, SensorRegistry& registry)
{
    this->context = &context;
    this->registry = &registry;
    Session& session = *context.session;
    if (prefix.isEmpty())
        prefix = broker::defaultPrefix(QSysInfo::machineHostName(), session.port());
    settings.clientId = broker::clientId(prefix);
    settings.willTopic = broker::statusTopic(prefix);
    settings.willPayload = QByteArrayLiteral("offline");
    client = std::make_unique<MqttClient>();
    publisher = std::make_unique<SitePublisher>(*client, prefix);
    connect(client.get(), &MqttClient::connected, this, [this] {
        if (away || !everConnected)
            tell(QStringLiteral("broker-up"),
                 QStringLiteral("брокер %1 доступен, публикация в %2; в очереди %3, "
                                "отброшено %4")
                     .arg(broker::urlText(url), prefix, readingsText(publisher->queued()),
                          readingsText(publisher->dropped())));
        away = false;
        everConnected = true;
    });
    connect(client.get(), &MqttClient::connectionLost, this, [this](const QString& reason) {
        if (away)
            return;
        away = true;
        tell(QStringLiteral("broker-down"),
             QStringLiteral("брокер %1 недоступен: %2; показания ждут в очереди")
                 .arg(broker::urlText(url), reason));
    });
    connect(client.get(), &MqttClient::refused, this, [this](const QString& reason) {
        refusedWith = QStringLiteral("брокер %1: %2").arg(broker::urlText(url), reason);
        emit refused();
    });
    connect(client.get(), &MqttClient::sessionTakenOver, this, [this](const QString& reason) {
        tell(QStringLiteral("session-taken-over"),
             QStringLiteral("брокер %1: %2").arg(broker::urlText(url), reason));
        publisher->setState(QLatin1String(broker::linestate::sessionTaken), reason);
        takenOver.start();
    });
    // Each drop while taken over keeps the state; a window without one gives the line's own
    // state back.
    takenOver.setSingleShot(true);
    takenOver.setInterval(int(MqttClient::takeoverWindowMs));
    connect(client.get(), &MqttClient::connectionLost, this, [this] {
        if (takenOver.isActive())
            takenOver.start();
    });
    connect(&takenOver, &QTimer::timeout, this,
            [this] { publisher->setState(lineState.state, lineState.text, lineState.system); });
    connect(publisher.get(), &SitePublisher::dropping, this, [this] {
        tell(QStringLiteral("queue-full"),
             QStringLiteral("очередь полна (%1): старейшие отбрасываются, отброшено %2")
                 .arg(readingsText(SitePublisher::defaultQueueLimit),
                      readingsText(publisher->dropped())));
    });
    // The broker's ACL may tie this id to the line's user: it is shown for setting that up.
    if (context.verbose)
        tell(QStringLiteral("client-id"),
             QStringLiteral("клиент MQTT %1%2, публикация в %3")
                 .arg(settings.clientId,
                      settings.user.isEmpty()
                          ? QString()
                          : QStringLiteral(", пользователь %1").arg(settings.user),
                      prefix));
    QString why;
    if (!client->open(settings, &why)) {
        refusedWith = QStringLiteral("брокер %1: %2").arg(broker::urlText(url), why);
        QTimer::singleShot(0, this, &MqttWatch::refused);
        return;
    }
    // The line file first: every sensor's settings once.
    for (int row = 0; row < registry.size(); ++row)
        unread.insert(row);
    readSettings();
}

void MqttWatch::add(const Reading& reading, const DeviceVEL_DUO300& dev, const QString& failure)
{
    publisher->add(reading, dev, failure);
    const int row = registry->find(reading.addr, reading.baudrate);
    if (!reading.ok() || row < 0)
        return;
    // A sensor that answers now and did not before: its settings join the line file.
    if (!dev.ustRead && !unread.contains(row)) {
        unread.insert(row);
        QTimer::singleShot(0, this, &MqttWatch::readSettings);
    }
    // Its type and version come with the polls: the line file follows when they change.
    if (dev.ustRead && toldIdentity.value(row) != identity(dev))
        publishLine();
}

void MqttWatch::readSettings()
{
    Session& session = *context->session;
    if (session.line().waiting()) {
        QTimer::singleShot(LinePoller::yieldRetryMs, this, &MqttWatch::readSettings);
        return;
    }
    bool changed = false;
    // Readings that come in meanwhile may add rows: those are read next time.
    const QSet<int> rows = unread;
    for (int row : rows) {
        if (session.ended())
            return;
        DeviceVEL_DUO300* dev = &(*registry)[row];
        session.useSpeed(dev->baudrate);
        if (ops::ReadSettings(session.line(), session.host()).run(dev, 1).done()) {
            settingsReadAt.insert(row, QDateTime::currentDateTimeUtc());
            changed = true;
        }
    }
    unread.subtract(rows);
    if (!unread.isEmpty())
        QTimer::singleShot(0, this, &MqttWatch::readSettings);
    if (changed || !everPublishedLine) {
        everPublishedLine = true;
        publishLine();
    }
}

void MqttWatch::publishLine()
{
    linefile::Line line;
    line.port = context->session->port();
    for (int row = 0; row < registry->size(); ++row) {
        const DeviceVEL_DUO300& dev = (*registry)[row];
        if (dev.ustRead) {
            linefile::Sensor sensor = linefile::fromBlocks(dev.addr, dev.baudrate, dev.ust,
                                                           dev.param, settingsReadAt.value(row));
            // Before its first poll the sensor's type and version are not known.
            if (!paramsAnswered(dev.param)) {
                sensor.type.reset();
                sensor.version.reset();
            }
            toldIdentity.insert(row, identity(dev));
            line.sensors.append(sensor);
        } else {
            linefile::Sensor sensor;
            sensor.address = dev.addr;
            sensor.speed = dev.baudrate;
            sensor.answered = false;
            line.sensors.append(sensor);
        }
    }
    publisher->setLine(linefile::toCompactJson(line));
}

void MqttWatch::setState(const QString& state, const QString& text, const QString& system)
{
    lineState.state = state;
    lineState.text = text;
    lineState.system = system;
    if (publisher)
        publisher->setState(state, text, system);
}

void MqttWatch::finish()
{
    if (!publisher)
        return;
    if (refusedWith.isEmpty()) {
        // Only a signal ends watching while the broker takes this client.
        publisher->setState(QLatin1String(broker::linestate::stopping),
                            QStringLiteral("завершение по сигналу"));
        // Long enough for a full queue on a broker that is there; a broker away is not awaited.
        if (!publisher->finish(10000) && publisher->queued() > 0)
            tell(QStringLiteral("unsent"),
                 QStringLiteral("брокеру %1 не отправлено %2")
                     .arg(broker::urlText(url), readingsText(publisher->queued())));
    }
    client->close();
}

void MqttWatch::tell(const QString& event, const QString& text)
{
    tellBrokerEvent(*context, event, broker::urlText(url), publisher->queued(),
                    publisher->dropped(), text);
}
