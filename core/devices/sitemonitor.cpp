#include "core/devices/sitemonitor.h"
#include "codec/brokerurl.h"
#include "codec/linefile.h"
#include "codec/sitepayloads.h"

#include <QDateTime>
#include <QRandomGenerator>
#include <QTimer>
#include <algorithm>

SiteMonitor::SiteMonitor(QObject* parent) : QObject(parent)
{
    retry = new QTimer(this);
    retry->setSingleShot(true);
    connect(retry, &QTimer::timeout, this, &SiteMonitor::retryNow);
}

SiteMonitor::~SiteMonitor()
{
    // Whoever listens may be half destroyed by now (a view that owns this as its child): the
    // connection ends without a word.
    blockSignals(true);
    close();
}

bool SiteMonitor::open(const MqttSettings& wanted, const QString& topicFilter, QString* reason)
{
    close();
    // Another broker or filter: the lines shown were another site's. Their readings stay.
    if (wanted.host != settings.host || wanted.port != settings.port || topicFilter != filter) {
        known.clear();
        emit linesChanged();
    }
    settings = wanted;
    // A view's session is of no use once it is gone: the broker keeps nothing for it, and a
    // second view elsewhere must not take this one's place.
    settings.cleanSession = true;
    settings.clientId = QStringLiteral("velduo-view-%1")
                            .arg(QRandomGenerator::global()->generate64() & 0xFFFFFFFFFFFull, 11,
                                 16, QLatin1Char('0'));
    settings.willTopic.clear();
    filter = topicFilter;
    retryMs = firstRetryMs;
    refusedCount = 0;
    if (!makeClient(reason)) {
        setState(Connection::Closed, *reason);
        return false;
    }
    setState(Connection::Connecting);
    return true;
}

void SiteMonitor::close()
{
    retry->stop();
    if (client) {
        client->close();
        client.reset();
    }
    setState(Connection::Closed);
}

bool SiteMonitor::makeClient(QString* reason)
{
    auto next = std::make_unique<MqttClient>();
    // Subscribed again by the client after every reconnect. QoS 0: with a clean session
    // nothing is kept for the view between connections anyway.
    next->subscribe(filter, 0);
    if (!next->open(settings, reason))
        return false;
    client = std::move(next);
    connect(client.get(), &MqttClient::connected, this, [this] {
        retryMs = firstRetryMs;
        setState(Connection::Connected);
    });
    connect(client.get(), &MqttClient::connectionLost, this,
            [this](const QString& reason) { setState(Connection::Lost, reason); });
    connect(client.get(), &MqttClient::refused, this, &SiteMonitor::refused);
    connect(client.get(), &MqttClient::message, this, &SiteMonitor::take);
    return true;
}

void SiteMonitor::retryNow()
{
    if (client)
        return;
    QString reason;
    if (!makeClient(&reason)) {
        refused(reason);
        return;
    }
    // The reason of the last refusal stays in sight until the broker answers.
    setState(Connection::Connecting, why);
}

void SiteMonitor::refused(const QString& reason)
{
    ++refusedCount;
    // The client has stopped; a new one is made for the next attempt.
    if (client) {
        client->close();
        client.release()->deleteLater();
    }
    setState(Connection::Refused, reason);
    retry->start(retryMs);
    retryMs = std::min(retryMs * 2, longestRetryMs);
}

int SiteMonitor::retryInMs() const
{
    return retry->isActive() ? retry->remainingTime() : -1;
}

void SiteMonitor::setState(Connection next, const QString& reason)
{
    if (next == state && reason == why)
        return;
    state = next;
    why = reason;
    emit connectionChanged();
}

SiteSensor* SiteMonitor::sensorOf(SiteLine& line, int addr, int baudrate)
{
    const auto before = [](const SiteSensor& s, const std::pair<int, int>& key) {
        return std::make_pair(s.addr, s.baudrate) < key;
    };
    const std::pair<int, int> key{addr, baudrate};
    auto it = std::lower_bound(line.sensors.begin(), line.sensors.end(), key, before);
    if (it != line.sensors.end() && it->addr == addr && it->baudrate == baudrate)
        return &*it;
    // Once the line's file came, its sensors are the line: a retained state left by an
    // earlier run with other sensors adds no row.
    if (line.listed)
        return nullptr;
    SiteSensor sensor;
    sensor.addr = addr;
    sensor.baudrate = baudrate;
    it = line.sensors.insert(it, sensor);
    emit linesChanged();
    return &*it;
}

void SiteMonitor::apply(SiteSensor& sensor, const Reading& reading, const QString& text)
{
    sensor.lastAt = reading.msecs;
    sensor.lastError = reading.error;
    if (reading.ok()) {
        sensor.answered = true;
        sensor.sensorType = reading.sensorType;
        sensor.measure = reading.measure;
        sensor.adc = reading.adc;
        sensor.coil = reading.coil;
        sensor.answeredAt = reading.msecs;
        sensor.errorText.clear();
    } else {
        sensor.errorText = text;
    }
}

void SiteMonitor::take(const QString& topic, const QByteArray& payload, bool retained)
{
    broker::Topic parsed;
    if (!broker::parseTopic(topic, &parsed))
        return;
    const qint64 now = QDateTime::currentMSecsSinceEpoch();
    auto it = known.find(parsed.prefix);
    if (it == known.end()) {
        SiteLine line;
        line.name = parsed.prefix;
        it = known.insert(parsed.prefix, line);
        emit linesChanged();
    }
    SiteLine& line = it.value();
    // A retained message says nothing of when it was published; a live one was published now.
    // A poll's own time stands for itself, never ahead of this clock.
    const auto published = [&line](qint64 at) {
        line.lastPublished = std::max(line.lastPublished, at);
    };

    switch (parsed.kind) {
    case broker::Topic::Status:
        if (payload == "online")
            line.status = SiteLine::Status::Online;
        else if (payload == "offline")
            line.status = SiteLine::Status::Offline;
        else
            return;
        if (!retained)
            published(now);
        return;
    case broker::Topic::Line: {
        const linefile::ReadResult file = linefile::parse(payload, linefile::Mode::File);
        if (!file.ok())
            return;
        line.port = file.line.port;
        line.listed = true;
        QVector<SiteSensor> sensors;
        for (const linefile::Sensor& entry : file.line.sensors) {
            auto same = std::find_if(
                line.sensors.begin(), line.sensors.end(), [&entry](const SiteSensor& s) {
                    return s.addr == entry.address && s.baudrate == entry.speed;
                });
            SiteSensor sensor;
            if (same != line.sensors.end()) {
                sensor = *same;
            } else {
                sensor.addr = entry.address;
                sensor.baudrate = entry.speed;
            }
            if (entry.name)
                sensor.name = *entry.name;
            if (entry.version)
                sensor.version = *entry.version;
            sensors.append(sensor);
        }
        std::sort(sensors.begin(), sensors.end(), [](const SiteSensor& a, const SiteSensor& b) {
            return std::make_pair(a.addr, a.baudrate) < std::make_pair(b.addr, b.baudrate);
        });
        sensors.erase(std::unique(sensors.begin(), sensors.end(),
                                  [](const SiteSensor& a, const SiteSensor& b) {
                                      return a.addr == b.addr && a.baudrate == b.baudrate;
                                  }),
                      sensors.end());
        line.sensors = sensors;
        if (!retained)
            published(now);
        emit linesChanged();
        return;
    }
    case broker::Topic::Sensor:
    case broker::Topic::Reading: {
        broker::SensorReport report;
        QString refusal;
        const bool isReading = parsed.kind == broker::Topic::Reading;
        if (!(isReading ? broker::parseReadingPayload(payload, &report, &refusal)
                        : broker::parseSensorPayload(payload, &report, &refusal)) ||
            report.reading.addr != parsed.address)
            return;
        Reading reading = report.reading;
        reading.port = line.name;
        published(std::min(reading.msecs, now));
        SiteSensor* sensor = sensorOf(line, reading.addr, reading.baudrate);
        if (!sensor)
            return;
        if (reading.msecs >= sensor->lastAt) {
            // A failed poll's state brings the sensor's last answer along: a view that opens
            // then still shows what the sensor is and how old its value is.
            if (report.lastAnswer && report.lastAnswer->msecs > sensor->answeredAt)
                apply(*sensor, *report.lastAnswer, QString());
            apply(*sensor, reading, report.text);
        }
        if (report.name)
            sensor->name = *report.name;
        if (report.version)
            sensor->version = *report.version;
        if (report.workTime)
            sensor->workTime = quint32(*report.workTime);
        bool first = false;
        if (isReading && store.add(reading, &first) && first)
            emit firstReading(line.name, reading.addr, reading.baudrate);
        return;
    }
    }
}
