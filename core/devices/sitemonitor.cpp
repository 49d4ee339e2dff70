#include "core/devices/sitemonitor.h"
#include "codec/brokerurl.h"
#include "codec/linefile.h"
#include "codec/sitepayloads.h"
#include "core/devices/sparkplugsite.h"

#include <QCoreApplication>
#include <QCryptographicHash>
#include <QDateTime>
#include <QDir>
#include <QLockFile>
#include <QRegularExpression>
#include <QSysInfo>
#include <QTimer>
#include <algorithm>

namespace {

// After a connect, retained topics take a moment to come: a line is missing only after this.
constexpr int missingAfterMs = 3000;
// Until a line's round is known, a reading is expected at least this often.
constexpr qint64 assumedRoundMs = 10000;
constexpr qint64 hourMs = 3600 * 1000;

// The user and the computer, hashed: the id says nothing of either to whoever reads the
// broker's log, and stays the same from run to run.
QString idStem()
{
    const QByteArray who = qgetenv("USER") + '@' + QSysInfo::machineUniqueId() + '@' +
                           QSysInfo::machineHostName().toUtf8();
    return QString::fromLatin1(
        QCryptographicHash::hash(who, QCryptographicHash::Sha256).toHex().left(12));
}

// Ends a view's session on the broker: a clean session under the same id replaces it. Lives on
// after the view closed, until the broker answered or a while passed, holding the id meanwhile;
// the application's child, so that a program ending first stops its connection cleanly.
class SessionEnd : public QObject
{
public:
    SessionEnd(const MqttSettings& settings, std::unique_ptr<QLockFile> lock)
        : QObject(QCoreApplication::instance()), lock(std::move(lock))
    {
        MqttSettings clean = settings;
        clean.cleanSession = true;
        connect(&client, &MqttClient::connected, this, [this] { finish(); });
        connect(&client, &MqttClient::refused, this, [this] { finish(); });
        QString why;
        if (!client.open(clean, &why)) {
            QTimer::singleShot(0, this, [this] { finish(); });
            return;
        }
        QTimer::singleShot(10000, this, [this] { finish(); });
    }

private:
    void finish()
    {
        client.close();
        deleteLater();
    }
    MqttClient client;
    std::unique_ptr<QLockFile> lock;
};

} // namespace

bool SeqLedger::take(quint64 seq, qint64 readAtMs)
{
    if (!runs.empty()) {
        const quint64 highest = std::prev(runs.end())->second.last;
        // Numbered from 1 again, and newer than all: the publisher started anew.
        if (seq <= highest && readAtMs > newestMs) {
            closedReceived += runReceived;
            closedExpected += highest - runs.begin()->first + 1 + forgotten;
            runReceived = 0;
            forgotten = 0;
            runs.clear();
        }
    }
    auto next = runs.upper_bound(seq);
    if (next != runs.begin()) {
        auto before = std::prev(next);
        if (seq <= before->second.last)
            return false;
        if (before->second.last + 1 == seq) {
            before->second.last = seq;
            before->second.lastMs = readAtMs;
            if (next != runs.end() && next->first == seq + 1) {
                before->second.last = next->second.last;
                before->second.lastMs = next->second.lastMs;
                runs.erase(next);
            }
            ++runReceived;
            newestMs = std::max(newestMs, readAtMs);
            return true;
        }
    }
    if (next != runs.end() && next->first == seq + 1) {
        const Run run{next->second.last, readAtMs, next->second.lastMs};
        runs.erase(next);
        runs.emplace(seq, run);
    } else {
        runs.emplace(seq, Run{seq, readAtMs, readAtMs});
    }
    ++runReceived;
    newestMs = std::max(newestMs, readAtMs);
    if (int(runs.size()) > maxRuns) {
        // The oldest hole is forgotten: counted as missing, no longer listed.
        auto first = runs.begin();
        auto second = std::next(first);
        forgotten += second->first - first->second.last - 1;
        const Run joined{second->second.last, first->second.firstMs, second->second.lastMs};
        const quint64 start = first->first;
        runs.erase(first, std::next(second));
        runs.emplace(start, joined);
    }
    return true;
}

quint64 SeqLedger::expected() const
{
    quint64 run = 0;
    if (!runs.empty())
        run = std::prev(runs.end())->second.last - runs.begin()->first + 1;
    return closedExpected + run;
}

void SeqLedger::countSince(qint64 sinceMs, double* received, double* expected) const
{
    // Within a run the readings are spread evenly enough over its time to take a share of it.
    double got = 0;
    quint64 first = 0;
    bool any = false;
    for (const auto& [start, run] : runs) {
        if (run.lastMs < sinceMs)
            continue;
        const double count = double(run.last - start + 1);
        double share = 1;
        if (run.firstMs < sinceMs && run.lastMs > run.firstMs)
            share = double(run.lastMs - sinceMs) / double(run.lastMs - run.firstMs);
        got += count * share;
        if (!any)
            first = run.last + 1 - quint64(std::max(1.0, count * share));
        any = true;
    }
    *received = got;
    *expected = any ? double(std::prev(runs.end())->second.last - first + 1) : 0;
}

QVector<SeqLedger::Hole> SeqLedger::holes() const
{
    QVector<Hole> list;
    for (auto it = runs.begin(); it != runs.end(); ++it) {
        const auto next = std::next(it);
        if (next == runs.end())
            break;
        list.append({it->second.lastMs, next->second.firstMs, next->first - it->second.last - 1});
    }
    return list;
}

SiteMonitor::SiteMonitor(QObject* parent)
    : QObject(parent), sparkplug(std::make_unique<SparkplugSite>(*this))
{
    retry = new QTimer(this);
    retry->setSingleShot(true);
    connect(retry, &QTimer::timeout, this, &SiteMonitor::retryNow);
    // Stale is a matter of time: looked at once a second while a broker is open.
    states = new QTimer(this);
    states->setInterval(1000);
    connect(states, &QTimer::timeout, this,
            [this] { updateStates(QDateTime::currentMSecsSinceEpoch()); });
}

SiteMonitor::~SiteMonitor()
{
    // Whoever listens may be half destroyed by now (a view that owns this as its child): the
    // connection ends without a word.
    blockSignals(true);
    close();
}

QStringList SiteMonitor::splitFilters(const QString& text)
{
    return text.split(QRegularExpression(QStringLiteral("[\\s,;]+")), Qt::SkipEmptyParts);
}

bool SiteMonitor::open(const MqttSettings& wanted, const QStringList& topicFilters, QString* reason)
{
    // The same broker, user and filters: the session goes on under the same id. Otherwise the
    // old one ends, its subscriptions with it.
    if (idLock && wanted.host == settings.host && wanted.port == settings.port &&
        wanted.user == settings.user && topicFilters == filters) {
        retry->stop();
        if (client) {
            client->close();
            client.reset();
        }
    } else {
        close();
    }
    // Another broker or filters: the lines shown were another site's, unless the site should
    // have them. Their readings stay.
    if (wanted.host != settings.host || wanted.port != settings.port || topicFilters != filters) {
        for (auto it = known.begin(); it != known.end();) {
            if (it->expected) {
                it->seen = false;
                ++it;
            } else {
                changed(it.key());
                it = known.erase(it);
            }
        }
        emit linesChanged();
    }
    settings = wanted;
    // A session of its own, kept by the broker while the view is cut off: what the lines
    // publish meanwhile comes once it is back. A second view at once takes the next id, so that
    // two never take each other's session.
    settings.cleanSession = false;
    const QString stem = idStem();
    for (int slot = 1; slot <= 64 && !idLock; ++slot) {
        auto lock = std::make_unique<QLockFile>(
            QDir(QDir::tempPath())
                .filePath(QStringLiteral("velduo-view-%1-%2.lock").arg(stem).arg(slot)));
        lock->setStaleLockTime(0);
        if (lock->tryLock(0)) {
            idLock = std::move(lock);
            id = QStringLiteral("velduo-view-%1-%2").arg(stem).arg(slot);
        }
    }
    if (!idLock) {
        id.clear();
        *reason = QStringLiteral("открыто слишком много обзоров площадки");
        setState(Connection::Closed, *reason);
        return false;
    }
    settings.clientId = id;
    settings.willTopic.clear();
    filters = topicFilters;
    retryMs = firstRetryMs;
    refusedCount = 0;
    if (!makeClient(reason)) {
        idLock.reset();
        setState(Connection::Closed, *reason);
        return false;
    }
    setState(Connection::Connecting);
    states->start();
    return true;
}

void SiteMonitor::close()
{
    retry->stop();
    states->stop();
    if (client) {
        client->close();
        client.reset();
    }
    endSession();
    if (state != Connection::Closed)
        emit journal(QString(), QStringLiteral("отключено"));
    setState(Connection::Closed);
}

void SiteMonitor::endSession()
{
    if (!idLock)
        return;
    // Nothing must pile up on the broker for a view that is gone.
    new SessionEnd(settings, std::move(idLock));
}

bool SiteMonitor::makeClient(QString* reason)
{
    auto next = std::make_unique<MqttClient>();
    // QoS 1 in a persistent session: the broker keeps the readings for the view while it is
    // away. Subscribed again by the client after every reconnect.
    for (const QString& filter : qAsConst(filters))
        if (!next->subscribe(filter, 1, reason))
            return false;
    if (!next->open(settings, reason))
        return false;
    client = std::move(next);
    connect(client.get(), &MqttClient::connected, this, [this] {
        retryMs = firstRetryMs;
        connectedAt = QDateTime::currentMSecsSinceEpoch();
        // Whatever is still on the broker comes again now; what does not is missing.
        for (SiteLine& line : known)
            line.seen = false;
        setState(Connection::Connected);
        emit journal(QString(), QStringLiteral("подключено к %1:%2, клиент %3")
                                    .arg(settings.host)
                                    .arg(settings.port)
                                    .arg(id));
    });
    connect(client.get(), &MqttClient::connectionLost, this, [this](const QString& reason) {
        if (state == Connection::Connected)
            emit journal(QString(), QStringLiteral("связь с брокером потеряна: %1").arg(reason));
        setState(Connection::Lost, reason);
    });
    connect(client.get(), &MqttClient::refused, this, &SiteMonitor::refused);
    connect(client.get(), &MqttClient::message, this, &SiteMonitor::take);
    connect(client.get(), &MqttClient::subscriptionRefused, this,
            [this](const QString& filter, const QString& reason) {
                const QString text = QStringLiteral("подписка на «%1» не принята: %2")
                                         .arg(broker::shownText(filter, maxTextChars), reason);
                emit journal(QString(), text);
                setState(state, text);
            });
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
    emit journal(QString(), QStringLiteral("брокер не принял подключение: %1").arg(reason));
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
    if (next != Connection::Connected && lostAt == 0)
        lostAt = QDateTime::currentMSecsSinceEpoch();
    if (next == Connection::Connected)
        lostAt = 0;
    const bool stateChanged = next != state;
    if (!stateChanged && reason == why)
        return;
    state = next;
    why = reason;
    if (stateChanged)
        updateStates(QDateTime::currentMSecsSinceEpoch());
    emit connectionChanged();
}

QSet<QString> SiteMonitor::takeChanged()
{
    QSet<QString> taken;
    taken.swap(changes);
    return taken;
}

void SiteMonitor::changed(const QString& line)
{
    const bool first = changes.isEmpty();
    changes.insert(line);
    if (first)
        emit linesChanged();
}

void SiteMonitor::expect(const QString& name, const QString& port,
                         const QVector<SensorState>& sensors)
{
    auto it = known.find(name);
    if (it == known.end()) {
        if (known.size() >= maxLines)
            return;
        SiteLine line;
        line.name = name;
        it = known.insert(name, line);
        changed(name);
    }
    it->expected = true;
    hidden.remove(name);
    if (!port.isEmpty() && it->port.isEmpty()) {
        it->port = port;
        portOfLine.insert(name, port);
    }
    if (!sensors.isEmpty() && it->sensors.isEmpty()) {
        it->sensors = sensors;
        changed(name);
    }
}

void SiteMonitor::expectFile(const QString& path, const linefile::Line& file)
{
    if (std::any_of(known.cbegin(), known.cend(),
                    [&path](const SiteLine& line) { return line.file == path; }))
        return;
    const QString port = broker::shownText(file.port, maxTextChars);
    for (SiteLine& line : known)
        if (line.file.isEmpty() && !port.isEmpty() && line.port == port) {
            line.file = path;
            line.expected = true;
            return;
        }
    if (known.size() >= maxLines)
        return;
    hidden.remove(path);
    SiteLine line;
    line.name = path;
    line.file = path;
    line.expected = true;
    takeLineFile(*known.insert(path, line), file);
}

void SiteMonitor::hide(const QString& name)
{
    if (known.remove(name)) {
        hidden.insert(name);
        changed(name);
    }
}

SiteLine* SiteMonitor::lineFor(const QString& prefix)
{
    auto it = known.find(prefix);
    if (it != known.end()) {
        it->seen = true;
        return &it.value();
    }
    if (known.size() >= maxLines) {
        const qint64 now = QDateTime::currentMSecsSinceEpoch();
        ++tooManySince;
        if (now - tooManyToldAt >= 60000) {
            emit journal(broker::shownText(prefix, maxTextChars),
                         QStringLiteral("не показана: линий уже %1 (отказано новым: %2)")
                             .arg(maxLines)
                             .arg(tooManySince));
            tooManyToldAt = now;
            tooManySince = 0;
        }
        return nullptr;
    }
    SiteLine line;
    line.name = prefix;
    line.seen = true;
    it = known.insert(prefix, line);
    changed(prefix);
    return &it.value();
}

SensorState* SiteMonitor::sensorOf(SiteLine& line, int addr, int baudrate)
{
    const auto before = [](const SensorState& s, const std::pair<int, int>& key) {
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
    it = line.sensors.insert(it, SensorState{addr, baudrate});
    changed(line.name);
    return &*it;
}

void SiteMonitor::oversized(const QString& topic, int size)
{
    const qint64 now = QDateTime::currentMSecsSinceEpoch();
    ++oversizedSince;
    if (now - oversizedToldAt < 60000)
        return;
    emit journal(QString(), QStringLiteral("отброшено сообщений сверх допустимого размера: %1 "
                                           "(последнее — %2 байт в «%3»)")
                                .arg(oversizedSince)
                                .arg(size)
                                .arg(broker::shownText(topic, maxTextChars)));
    oversizedToldAt = now;
    oversizedSince = 0;
}

void SiteMonitor::take(const QString& topic, const QByteArray& payload, bool retained)
{
    if (SparkplugSite::covers(topic)) {
        sparkplug->take(topic, payload, retained);
        return;
    }
    // The publisher's account of itself: read tolerantly, by key.
    static const QString stateLevel = QStringLiteral("/state");
    if (topic.endsWith(stateLevel)) {
        const QString prefix = topic.left(topic.size() - stateLevel.size());
        broker::PublisherState told;
        if (payload.size() > maxPayload) {
            oversized(topic, payload.size());
            return;
        }
        if (hidden.contains(prefix) || !broker::checkPrefix(prefix, nullptr) ||
            !broker::parseStatePayload(payload, &told))
            return;
        SiteLine* line = lineFor(prefix);
        if (!line)
            return;
        line->publisherState = told.state;
        QString reason;
        if (told.state == QLatin1String("port-lost"))
            reason = QStringLiteral("адаптер потерян");
        else if (told.state == QLatin1String("stopping"))
            reason = QStringLiteral("остановлен");
        else if (told.state != QLatin1String("polling"))
            reason = told.state;
        if (!told.reason.isEmpty())
            reason = reason.isEmpty() ? told.reason : reason + QStringLiteral(": ") + told.reason;
        line->reason = reason;
        return;
    }
    broker::Topic parsed;
    if (!broker::parseTopic(topic, &parsed))
        return;
    if (payload.size() > (parsed.kind == broker::Topic::Line ? maxLinePayload : maxPayload)) {
        oversized(topic, payload.size());
        return;
    }
    // A hidden line comes back with its next live reading.
    if (hidden.contains(parsed.prefix)) {
        if (retained || parsed.kind != broker::Topic::Reading)
            return;
        hidden.remove(parsed.prefix);
    }

    switch (parsed.kind) {
    case broker::Topic::Status: {
        SiteLine::Status status = SiteLine::Status::Unknown;
        if (payload == "online")
            status = SiteLine::Status::Online;
        else if (payload == "offline")
            status = SiteLine::Status::Offline;
        else
            return;
        // The time of a status says nothing of the line's readings: a will is the broker's.
        if (SiteLine* line = lineFor(parsed.prefix)) {
            line->status = status;
            if (status == SiteLine::Status::Online && !retained)
                line->reason.clear();
        }
        return;
    }
    case broker::Topic::Line: {
        const linefile::ReadResult file = linefile::parse(payload, linefile::Mode::File);
        if (!file.ok())
            return;
        if (SiteLine* line = lineFor(parsed.prefix))
            takeLineFile(*line, file.line);
        return;
    }
    case broker::Topic::Sensor:
    case broker::Topic::Reading:
        takeReport(parsed.prefix, parsed.address, parsed.kind == broker::Topic::Reading, payload);
        return;
    }
}

void SiteMonitor::takeLineFile(SiteLine& line, const linefile::Line& file)
{
    line.port = broker::shownText(file.port, maxTextChars);
    // Kept for the export after the line left; bounded as the lines are.
    if (portOfLine.size() < 4 * maxLines || portOfLine.contains(line.name))
        portOfLine.insert(line.name, line.port);
    line.listed = true;
    QVector<SensorState> sensors;
    for (const linefile::Sensor& entry : file.sensors) {
        if (entry.address < 1 || entry.address > modbusAddressMax ||
            std::find(std::begin(listedSpeeds), std::end(listedSpeeds), entry.speed) ==
                std::end(listedSpeeds))
            continue;
        auto same =
            std::find_if(line.sensors.begin(), line.sensors.end(), [&entry](const SensorState& s) {
                return s.addr == entry.address && s.baudrate == entry.speed;
            });
        SensorState sensor =
            same != line.sensors.end() ? *same : SensorState{entry.address, entry.speed};
        if (entry.name)
            sensor.name = broker::shownText(*entry.name, maxTextChars);
        if (entry.version)
            sensor.version = broker::shownText(*entry.version, maxTextChars);
        sensors.append(sensor);
    }
    std::sort(sensors.begin(), sensors.end(), [](const SensorState& a, const SensorState& b) {
        return std::make_pair(a.addr, a.baudrate) < std::make_pair(b.addr, b.baudrate);
    });
    sensors.erase(std::unique(sensors.begin(), sensors.end(),
                              [](const SensorState& a, const SensorState& b) {
                                  return a.addr == b.addr && a.baudrate == b.baudrate;
                              }),
                  sensors.end());
    line.sensors = sensors;
    changed(line.name);
    // A line file loaded for this port: this line stands for it, the file's own row goes.
    if (!line.file.isEmpty() || line.port.isEmpty())
        return;
    for (auto it = known.cbegin(); it != known.cend(); ++it)
        if (it->name == it->file && it->port == line.port) {
            const QString loaded = it.key();
            line.file = loaded;
            line.expected = true;
            known.remove(loaded);
            changed(loaded);
            return;
        }
}

void SiteMonitor::takeReport(const QString& prefix, int address, bool isReading,
                             const QByteArray& payload)
{
    broker::SensorReport report;
    QString refusal;
    if (!(isReading ? broker::parseReadingPayload(payload, &report, &refusal)
                    : broker::parseSensorPayload(payload, &report, &refusal)) ||
        report.reading.addr != address)
        return;
    SiteLine* found = lineFor(prefix);
    if (!found)
        return;
    SiteLine& line = *found;
    const qint64 now = QDateTime::currentMSecsSinceEpoch();
    Reading reading = report.reading;
    reading.port = line.name;
    // A poll's own time stands for itself, never ahead of this clock.
    line.lastPublished = std::max(line.lastPublished, std::min(reading.msecs, now));
    if (!isReading)
        line.dropped = report.dropped;
    SensorState* sensor = sensorOf(line, reading.addr, reading.baudrate);
    if (!sensor)
        return;
    if (isReading) {
        // A QoS-1 message may come twice: its number tells.
        if (!line.ledger.take(report.seq, reading.msecs))
            return;
        line.lastArrived = now;
        qint64& readingAt = line.readingAt[{reading.addr, reading.baudrate}];
        const qint64 round = reading.msecs - readingAt;
        if (readingAt > 0 && round > 0 && round < hourMs)
            line.roundMs = line.roundMs ? (3 * line.roundMs + round) / 4 : round;
        readingAt = std::max(readingAt, reading.msecs);
    }
    // A failed poll's state brings the sensor's last answer along: a view that opens then
    // still shows what the sensor is and how old its value is.
    sensor->take(reading, reading.ok() ? QString() : broker::shownText(report.text, maxTextChars),
                 report.lastAnswer);
    if (report.name)
        sensor->name = broker::shownText(*report.name, maxTextChars);
    if (report.version)
        sensor->version = broker::shownText(*report.version, maxTextChars);
    if (report.workTime)
        sensor->workTime = quint32(*report.workTime);
    bool first = false;
    if (isReading && store.insert(reading, &first) && first)
        emit firstReading(line.name, reading.addr, reading.baudrate);
}

void SiteMonitor::updateStates(qint64 now)
{
    if (oversizedSince > 0 && now - oversizedToldAt >= 60000)
        oversized(QString(), 0);
    for (SiteLine& line : known) {
        using State = SiteLine::State;
        State next = State::Unknown;
        if (state != Connection::Connected) {
            next = State::Unknown;
        } else if (!line.seen) {
            // A Sparkplug node retains nothing: one not heard since the connect may be there,
            // quiet.
            next = now - connectedAt >= missingAfterMs && !SparkplugSite::isNodeLine(line.name)
                       ? State::Missing
                       : State::Unknown;
        } else if (line.status == SiteLine::Status::Offline) {
            next = State::Offline;
        } else if (line.status == SiteLine::Status::Online || line.lastArrived > 0 ||
                   !line.doubt.isEmpty()) {
            const qint64 round =
                line.roundMs > 0 ? std::max<qint64>(line.roundMs, 1000) : assumedRoundMs;
            const qint64 since = std::max(line.lastArrived, connectedAt);
            // A Sparkplug node sends only what changed: its silence says nothing.
            const bool silent =
                !SparkplugSite::isNodeLine(line.name) && now - since > staleRounds * round;
            next = silent || !line.doubt.isEmpty() ? State::Stale : State::Online;
        }
        line.state = next;
        // The view's own loss of the broker is told once, by the view's line.
        if (next == State::Unknown || next == line.told)
            continue;
        line.told = next;
        QString event;
        switch (next) {
        case State::Online:
            event = QStringLiteral("online");
            break;
        case State::Stale:
            event = line.doubt.isEmpty()
                        ? QStringLiteral("нет показаний дольше %1 циклов опроса").arg(staleRounds)
                        : line.doubt;
            break;
        case State::Offline:
            event = line.reason.isEmpty() ? QStringLiteral("offline")
                                          : QStringLiteral("offline: %1").arg(line.reason);
            break;
        case State::Missing:
            event = QStringLiteral("нет на брокере");
            break;
        case State::Unknown:
            break;
        }
        emit journal(broker::shownText(line.name, maxTextChars), event);
    }
}
