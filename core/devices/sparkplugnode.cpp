#include "core/devices/sparkplugnode.h"
#include "codec/brokerurl.h"
#include "codec/filefault.h"
#include "codec/sensortype.h"

#include <QDir>
#include <QEventLoop>
#include <QFile>
#include <QFileInfo>
#include <QSaveFile>
#include <QTimer>
#include <cmath>

using namespace sparkplug;

namespace {

const QString rebirthName = QStringLiteral("Node Control/Rebirth");
// Historical readings go out in batches, so that a long queue does not hold the poller.
constexpr int historyBatch = 200;

qint64 now()
{
    return QDateTime::currentMSecsSinceEpoch();
}

} // namespace

QString SparkplugNode::metricName(int metric)
{
    static const char* const names[] = {"",         "Measure", "ADC",    "Coil",
                                        "WorkTime", "Version", "Type",   "Name",
                                        "Setpoint", "Speed",   "Address"};
    return QString::fromLatin1(names[metric]);
}

quint32 SparkplugNode::metricType(int metric)
{
    static const quint32 types[] = {Unknown, Float,  UInt16, UInt8,  UInt32, String,
                                    String,  String, Int16,  UInt32, UInt8};
    return types[metric];
}

SparkplugNode::SparkplugNode(const Settings& settings, int queueLimit, QObject* parent)
    : QObject(parent), settings(settings), limit(queueLimit)
{
}

SparkplugNode::~SparkplugNode()
{
    if (client)
        client->close();
}

int SparkplugNode::storedBdSeq(const QString& path)
{
    QFile file(path);
    if (!file.open(QIODevice::ReadOnly))
        return -1;
    return parseNodeState(file.read(4096));
}

bool SparkplugNode::storeBdSeq(const QString& path, quint64 bdSeq, QString* why)
{
    QDir().mkpath(QFileInfo(path).absolutePath());
    QSaveFile file(path);
    if (!openFile(file, QIODevice::WriteOnly, why))
        return false;
    file.write(nodeStatePayload(bdSeq));
    if (!file.commit()) {
        *why = file.errorString();
        return false;
    }
    return true;
}

bool SparkplugNode::open(const MqttSettings& mqtt, QString* why)
{
    mqttSettings = mqtt;
    // A session that ended without a clean disconnect must not be carried on by the broker:
    // each connection is a new node session with its own bdSeq.
    mqttSettings.cleanSession = true;
    mqttSettings.clientId = broker::clientId(nodeTopic(settings.group, QString(), settings.node));
    mqttSettings.willTopic = nodeTopic(settings.group, QStringLiteral("NDEATH"), settings.node);
    mqttSettings.willRetain = false;
    const int stored = storedBdSeq(settings.stateFile);
    sessionBdSeq = stored < 0 ? 0 : quint64(stored + 1) % 256;
    QString fault;
    if (!storeBdSeq(settings.stateFile, sessionBdSeq, &fault)) {
        *why = QStringLiteral("файл состояния Sparkplug «%1» не записан: %2")
                   .arg(settings.stateFile, fault);
        return false;
    }
    return startSession(why);
}

bool SparkplugNode::startSession(QString* why)
{
    mqttSettings.willPayload = deathPayload();
    client = std::make_unique<MqttClient>();
    connect(client.get(), &MqttClient::connected, this, &SparkplugNode::sessionUp);
    connect(client.get(), &MqttClient::connectionLost, this, &SparkplugNode::sessionLost);
    connect(client.get(), &MqttClient::refused, this, &SparkplugNode::refused);
    connect(
        client.get(), &MqttClient::message, this,
        [this](const QString& topic, const QByteArray& payload, bool) { message(topic, payload); });
    // The node's own commands only: device commands are never subscribed to.
    client->subscribe(nodeTopic(settings.group, QStringLiteral("NCMD"), settings.node), 0);
    if (!settings.hostId.isEmpty())
        client->subscribe(stateTopic(settings.hostId), 1);
    return client->open(mqttSettings, why);
}

void SparkplugNode::sessionUp()
{
    sessionWasUp = true;
    hostOnline = false;
    hostTimestamp = -1;
    emit connected();
    // With a primary host, its retained state comes first.
    if (settings.hostId.isEmpty())
        birth();
}

void SparkplugNode::sessionLost(const QString& reason)
{
    nodeBorn = false;
    for (Device& device : devices)
        device.born = false;
    emit connectionLost(reason);
    if (!sessionWasUp)
        return; // an attempt that failed: the library tries again with the same will
    // The broker has published the will, or will: the next connection is a new session, whose
    // will must carry the next bdSeq. The library cannot change a will between its own
    // reconnects, so the session gets a client of its own.
    sessionWasUp = false;
    sessionBdSeq = (sessionBdSeq + 1) % 256;
    QString why;
    if (!storeBdSeq(settings.stateFile, sessionBdSeq, &why))
        emit commandRefused(QStringLiteral("файл состояния Sparkplug «%1» не записан: %2")
                                .arg(settings.stateFile, why));
    // What the old client still has queued must not reach the new session.
    client->disconnect(this);
    client->close();
    client.release()->deleteLater();
    if (!startSession(&why))
        emit refused(why);
}

bool SparkplugNode::canPublish() const
{
    return client && client->isConnected() && (settings.hostId.isEmpty() || hostOnline);
}

int SparkplugNode::publish(const QString& topic, Payload payload, int qos)
{
    payload.seq = seq;
    seq = (seq + 1) % 256;
    if (!payload.timestamp)
        payload.timestamp = quint64(now());
    return client->publish(topic, encode(payload), qos, false);
}

QByteArray SparkplugNode::deathPayload() const
{
    Payload payload;
    payload.timestamp = quint64(now());
    Metric bdSeq;
    bdSeq.name = QStringLiteral("bdSeq");
    bdSeq.datatype = Int64;
    bdSeq.value = qint64(sessionBdSeq);
    payload.metrics.append(bdSeq);
    return encode(payload);
}

QString SparkplugNode::deviceTopic(const char* type, int address) const
{
    return sparkplug::deviceTopic(settings.group, QLatin1String(type), settings.node,
                                  deviceId(address));
}

void SparkplugNode::birth()
{
    if (!canPublish())
        return;
    nodeBirth();
    nodeBorn = true;
    for (auto it = devices.begin(); it != devices.end(); ++it) {
        it->born = false;
        const Reading& reading = lastReading.value(it.key());
        if (reading.ok() && reading.sensorType != SensorType::Undetermined)
            deviceBirth(it.key(), lastRecord.value(it.key()), reading.msecs);
    }
    if (!history.empty() && !historyScheduled) {
        historyScheduled = true;
        QTimer::singleShot(0, this, &SparkplugNode::sendHistory);
    }
}

void SparkplugNode::nodeBirth()
{
    Payload payload;
    Metric bdSeq;
    bdSeq.name = QStringLiteral("bdSeq");
    bdSeq.datatype = Int64;
    bdSeq.value = qint64(sessionBdSeq);
    payload.metrics = {
        bdSeq, metric(rebirthName, RebirthAlias, Boolean, false),
        metric(QStringLiteral("Port"), PortAlias, String, settings.port),
        metric(QStringLiteral("Version"), VersionAlias, String, settings.version),
        metric(QStringLiteral("Line size"), LineSizeAlias, UInt32, settings.lineSize)};
    // Every birth of the node starts its sequence again.
    seq = 0;
    publish(nodeTopic(settings.group, QStringLiteral("NBIRTH"), settings.node), payload);
}

QVariant SparkplugNode::currentValue(int metric, const DeviceVEL_DUO300& dev,
                                     const Reading& reading) const
{
    switch (metric) {
    case Measure: {
        const double value = reading.value();
        return std::isnan(value) ? QVariant() : QVariant(float(value));
    }
    case Adc:
        return quint64(reading.adc);
    case Coil:
        return quint64(reading.coil);
    case WorkTime:
        return quint64(dev.param.workTime);
    case Version: {
        const QString text = versionText(dev.param);
        return text.isEmpty() ? QVariant() : QVariant(text);
    }
    case Type:
        return reading.sensorType == SensorType::Temperature ? QStringLiteral("temperature")
                                                             : QStringLiteral("voltage");
    case Name:
        return dev.ustRead ? QVariant(nameText(dev.ust)) : QVariant();
    case Setpoint:
        return dev.ustRead ? QVariant(qint64(dev.ust.threshold)) : QVariant();
    case Speed:
        return quint64(dev.baudrate);
    case Address:
        return quint64(dev.addr);
    default:
        return QVariant();
    }
}

void SparkplugNode::deviceBirth(int address, const DeviceVEL_DUO300& dev, qint64 msecs)
{
    Device& device = devices[address];
    const Reading reading = lastReading.value(address);
    Payload payload;
    payload.timestamp = quint64(msecs);
    for (int m = Measure; m <= Address; ++m) {
        device.values[m] = currentValue(m, dev, reading);
        Metric one = metric(metricName(m), alias(address, m), metricType(m), device.values[m]);
        one.timestamp = quint64(msecs);
        if (m == Measure)
            one.properties.append(
                {QStringLiteral("engUnit"), String, sensorTraits(reading.sensorType).payloadUnit});
        else if (m == WorkTime)
            one.properties.append({QStringLiteral("engUnit"), String, QStringLiteral("s")});
        payload.metrics.append(one);
    }
    device.type = reading.sensorType;
    device.born = true;
    publish(deviceTopic("DBIRTH", address), payload);
}

void SparkplugNode::deviceDeath(int address, qint64 msecs)
{
    devices[address].born = false;
    Payload payload;
    payload.timestamp = quint64(msecs);
    publish(deviceTopic("DDEATH", address), payload);
}

void SparkplugNode::add(const Reading& reading, const DeviceVEL_DUO300& dev)
{
    const int address = reading.addr;
    lastRecord.insert(address, dev);
    Device& device = devices[address];
    const bool typed = reading.sensorType != SensorType::Undetermined;
    if (!nodeBorn || !canPublish()) {
        // Kept for the host to have later; the sensor's death or birth is told by the next
        // births as the line then is.
        if (reading.ok()) {
            lastReading.insert(address, reading);
            if (typed) {
                history.push_back(reading);
                if (int(history.size()) > limit) {
                    history.pop_front();
                    ++droppedCount;
                    if (!droppingReported) {
                        droppingReported = true;
                        emit dropping();
                    }
                }
            }
        } else {
            lastReading.insert(address, reading);
        }
        return;
    }
    droppingReported = false;
    lastReading.insert(address, reading);
    // The overview greys a sensor as soon as one poll of it fails: so does its device die.
    if (!reading.ok()) {
        if (device.born)
            deviceDeath(address, reading.msecs);
        return;
    }
    if (!typed)
        return;
    if (!device.born || device.type != reading.sensorType) {
        deviceBirth(address, dev, reading.msecs);
        return;
    }
    Payload payload;
    payload.timestamp = quint64(reading.msecs);
    for (int m = Measure; m <= Address; ++m) {
        const QVariant value = currentValue(m, dev, reading);
        if (value == device.values[m] && value.isNull() == device.values[m].isNull())
            continue;
        device.values[m] = value;
        Metric one;
        one.alias = alias(address, m);
        one.datatype = metricType(m);
        one.timestamp = quint64(reading.msecs);
        one.value = valueAs(one.datatype, value);
        payload.metrics.append(one);
    }
    if (!payload.metrics.isEmpty())
        publish(deviceTopic("DDATA", address), payload);
}

void SparkplugNode::sendHistory()
{
    historyScheduled = false;
    if (!nodeBorn || !canPublish())
        return;
    for (int sent = 0; sent < historyBatch && !history.empty(); ++sent) {
        const Reading reading = history.front();
        history.pop_front();
        // Only a device that is born may have data; a sensor silent now loses its history.
        if (!devices.value(reading.addr).born) {
            ++droppedCount;
            continue;
        }
        Payload payload;
        payload.timestamp = quint64(reading.msecs);
        for (int m : {int(Measure), int(Adc), int(Coil)}) {
            Metric one;
            one.alias = alias(reading.addr, m);
            one.datatype = metricType(m);
            one.timestamp = quint64(reading.msecs);
            one.historical = true;
            one.value = valueAs(one.datatype, currentValue(m, DeviceVEL_DUO300(), reading));
            payload.metrics.append(one);
        }
        publish(deviceTopic("DDATA", reading.addr), payload);
    }
    if (!history.empty()) {
        historyScheduled = true;
        QTimer::singleShot(0, this, &SparkplugNode::sendHistory);
    }
}

void SparkplugNode::portLost()
{
    if (!nodeBorn || !canPublish())
        return;
    const qint64 t = now();
    for (auto it = devices.begin(); it != devices.end(); ++it) {
        if (it->born)
            deviceDeath(it.key(), t);
    }
}

void SparkplugNode::message(const QString& topic, const QByteArray& bytes)
{
    if (!settings.hostId.isEmpty() && topic == stateTopic(settings.hostId)) {
        HostState state;
        QString why;
        if (!parseHostState(bytes, &state, &why)) {
            refuse(QStringLiteral("%1: %2").arg(topic, why));
            return;
        }
        // A state older than the one known is a late retained copy.
        if (state.timestamp < hostTimestamp)
            return;
        hostTimestamp = state.timestamp;
        if (state.online == hostOnline)
            return;
        if (state.online) {
            hostOnline = true;
            emit hostChanged(true);
            birth();
        } else {
            // The host is gone: the node tells its death and waits for the host's return,
            // keeping the readings meanwhile.
            if (nodeBorn)
                client->publish(nodeTopic(settings.group, QStringLiteral("NDEATH"), settings.node),
                                deathPayload(), 1, false);
            hostOnline = false;
            nodeBorn = false;
            for (Device& device : devices)
                device.born = false;
            emit hostChanged(false);
        }
        return;
    }
    if (topic != nodeTopic(settings.group, QStringLiteral("NCMD"), settings.node)) {
        refuse(QStringLiteral("сообщение в теме %1").arg(topic));
        return;
    }
    Payload payload;
    QString why;
    if (!decode(bytes, &payload, &why)) {
        refuse(QStringLiteral("NCMD: %1").arg(why));
        return;
    }
    bool rebirth = false;
    for (const Metric& m : payload.metrics) {
        const bool isRebirth =
            m.name == rebirthName || (m.name.isEmpty() && m.alias == quint64(RebirthAlias));
        if (isRebirth && m.value.userType() == QMetaType::Bool && m.value.toBool())
            rebirth = true;
        else
            refuse(QStringLiteral("NCMD %1").arg(
                m.name.isEmpty() ? QStringLiteral("#%1").arg(*m.alias) : m.name));
    }
    if (rebirth && nodeBorn)
        birth();
}

void SparkplugNode::refuse(const QString& what)
{
    const qint64 t = now();
    if (lastRefusalLog != 0 && t - lastRefusalLog < refusalLogMs) {
        ++refusalsUntold;
        return;
    }
    QString text = QStringLiteral("команда не выполнена: %1").arg(what);
    if (refusalsUntold > 0)
        text += QStringLiteral(" (и ещё %1 с прошлого сообщения)").arg(refusalsUntold);
    lastRefusalLog = t;
    refusalsUntold = 0;
    emit commandRefused(text);
}

bool SparkplugNode::finish(int timeoutMs)
{
    if (!client)
        return true;
    bool delivered = false;
    if (client->isConnected()) {
        // A clean disconnect keeps the will back: the death is told here instead.
        const int id =
            client->publish(nodeTopic(settings.group, QStringLiteral("NDEATH"), settings.node),
                            deathPayload(), 1, false);
        if (id >= 0) {
            QEventLoop wait;
            QTimer timer;
            timer.setSingleShot(true);
            connect(&timer, &QTimer::timeout, &wait, &QEventLoop::quit);
            connect(client.get(), &MqttClient::delivered, &wait, [&](int done) {
                if (done == id) {
                    delivered = true;
                    wait.quit();
                }
            });
            connect(client.get(), &MqttClient::connectionLost, &wait, &QEventLoop::quit);
            timer.start(timeoutMs);
            wait.exec();
        }
    }
    client->close();
    return delivered;
}
