#pragma once

#include "codec/readings.h"
#include "codec/sensorstate.h"
#include "core/devices/mqttclient.h"

#include <QHash>
#include <QMap>
#include <QObject>
#include <QSet>
#include <QString>
#include <QStringList>
#include <QVector>
#include <map>
#include <memory>

class QLockFile;
class SparkplugSite;
namespace linefile {
struct Line;
}
class QTimer;

// Which of a line's readings came, by their sequence numbers: runs of numbers received, with the
// times of their first and last readings. A publisher that starts anew counts from 1 again: the
// runs of its earlier process are closed into the totals.
class SeqLedger
{
public:
    struct Hole
    {
        qint64 fromMs; // the last reading before it
        qint64 toMs;   // the first reading after it
        quint64 missing;
    };
    // False for a number received already (a duplicate); a reading newer than all and with a
    // number not above the highest tells a new process.
    bool take(quint64 seq, qint64 readAtMs);
    // Readings received and published (received or not), since the view opened.
    quint64 received() const { return closedReceived + runReceived; }
    quint64 expected() const;
    // The same for the readings taken from sinceMs on.
    void countSince(qint64 sinceMs, double* received, double* expected) const;
    // The holes of the current process, oldest first, at most the latest maxHoles.
    QVector<Hole> holes() const;

    static constexpr int maxRuns =
        256; // beyond, the two oldest runs are joined: memory stays bounded

private:
    struct Run
    {
        quint64 last;
        qint64 firstMs;
        qint64 lastMs;
    };
    std::map<quint64, Run> runs; // by the first number of each run
    quint64 runReceived = 0;
    quint64 closedReceived = 0;
    quint64 closedExpected = 0;
    quint64 forgotten = 0; // numbers left out when runs were joined
    qint64 newestMs = 0;
};

// One line of a site: everything published under one prefix.
struct SiteLine
{
    enum class Status
    {
        Unknown,
        Online,
        Offline
    };
    // What the view tells of the line, from its status, its readings and the view's own
    // connection.
    enum class State
    {
        Online,  // readings arriving
        Stale,   // online, but no reading for three of its rounds
        Offline, // its status says so
        Unknown, // the view has no broker, or the line told nothing of its status yet
        Missing, // remembered or loaded, but not on the broker
    };
    QString name; // the prefix, as it came (showing it is the view's business)
    Status status = Status::Unknown;
    State state = State::Unknown;
    State told = State::Unknown; // the last state the journal told
    QString publisherState;      // from PREFIX/state: "polling", "port-lost", "stopping"…
    QString reason;              // from PREFIX/state; empty when none was given
    qint64 lastPublished = 0;    // poll time of the last reading; 0: none came yet
    qint64 lastArrived = 0;      // this computer's time when the last reading came
    qint64 roundMs = 0;          // the usual time between two readings of a sensor; 0 unknown
    QString port;                // the serial port the line's file names
    bool listed = false;         // its line file came: its sensors are the line's
    bool seen = false;           // something of it came from the broker since the view connected
    bool expected = false;       // remembered or loaded: the site should have it
    qint64 dropped = 0;          // readings the publisher's queue dropped, as its last state says
    // Why its values cannot be trusted whole until its Sparkplug node is born again (a gap in
    // seq, data the view could not place): stale while set.
    QString doubt;
    SeqLedger ledger;
    QVector<SensorState> sensors; // by address, then speed
    // Each sensor's newest reading, by address and speed: the round is measured from it.
    QHash<QPair<int, int>, qint64> readingAt;
    // The line file loaded for the line, by its path. Until a line on the broker names the
    // file's port, the file is a line of its own, under its path for a name.
    QString file;
};

// The lines of a site, from a broker: subscribes to topic filters and keeps every line's
// status, its sensors' latest state and their readings. It never publishes. The session is
// persistent and subscribed at QoS 1, under a client id of this user on this computer, so that
// the readings published while the view was cut off come once it is back; close() ends it on
// the broker. A broker that cannot be reached is tried again by the client; one that refuses
// the credentials or the certificate is tried again here, with a growing pause, since a broker's
// users and certificates may be put right while the view stays open. What comes from the
// network is bounded: payload sizes, texts, sensors of a line and lines. No widgets.
class SiteMonitor : public QObject
{
    Q_OBJECT
public:
    enum class Connection
    {
        Closed,
        Connecting,
        Connected,
        Lost,    // the client tries again by itself
        Refused, // tried again after retryDelayMs()
    };
    // The pause after a refusal: from the first to the longest, doubling.
    static constexpr int firstRetryMs = 5000;
    static constexpr int longestRetryMs = 60000;
    // Beyond what velduo ever publishes: a line file of 247 × 8 named sensors stays far below
    // the first, every other payload below the second.
    static constexpr int maxLinePayload = 1024 * 1024;
    static constexpr int maxPayload = 4096;
    static constexpr int maxLines = 1000;
    // Names, versions and error texts as a row can show them.
    static constexpr int maxTextChars = 80;
    // A line is stale after this many of its rounds without a reading (at least a second each).
    static constexpr int staleRounds = 3;

    explicit SiteMonitor(QObject* parent = nullptr);
    ~SiteMonitor() override;

    // The filters, split at spaces, commas and semicolons; empty ones dropped.
    static QStringList splitFilters(const QString& text);
    // Connects in the background and subscribes to each filter. Another broker or filters than
    // the last forgets the lines seen (not those expected, nor the readings). False with the
    // reason when the settings cannot be used (an unreadable CA file, a filter MQTT refuses).
    bool open(const MqttSettings& settings, const QStringList& filters, QString* why);
    // Ends the connection and the broker's session of this view.
    void close();

    Connection connection() const { return state; }
    // Why the connection is down, as the client or the broker said it.
    QString reason() const { return why; }
    // When the view last lost its broker (ms since the epoch); 0 while connected or never.
    qint64 brokerLostAt() const { return lostAt; }
    // Until the next attempt after a refusal; -1 when none is waiting.
    int retryInMs() const;
    // Connection attempts refused so far, since open().
    int refusals() const { return refusedCount; }
    // The client id this view connects under: the same for this user on this computer, another
    // for each further view open at once.
    QString clientId() const { return id; }

    const QMap<QString, SiteLine>& lines() const { return known; }
    // Each sensor's readings, under its line's prefix as the port.
    const ReadingStore& readings() const { return store; }
    // Every line's serial port as its line file last named it, kept when the line leaves.
    const QHash<QString, QString>& ports() const { return portOfLine; }
    // The lines added, removed or given other sensors since the last call.
    QSet<QString> takeChanged();

    // A line the site should have (remembered, or from a line file): listed as missing until
    // it is on the broker. The port and sensors a line file gives are kept for it.
    void expect(const QString& line, const QString& port = QString(),
                const QVector<SensorState>& sensors = {});
    // A line file loaded as a line the site should have. A line on the broker whose own file
    // names the same port stands for it from then on; until one does, the file is a line of its
    // own, missing, with the file's port and sensors. Loading a file again changes nothing.
    void expectFile(const QString& path, const linefile::Line& file);
    // Out of the view, until it publishes a reading again; nothing is sent to the broker.
    void hide(const QString& line);
    // Every line's state anew at this time; the changes go to the journal.
    void updateStates(qint64 nowMs);

signals:
    void connectionChanged();
    // A line or a sensor was added or removed (takeChanged() says which).
    void linesChanged();
    // A sensor's first reading was kept: its buffer exists from now on.
    void firstReading(const QString& line, int addr, int baudrate);
    // What happened, for the journal: the line concerned (empty for the view's own connection)
    // and the event, in words.
    void journal(const QString& line, const QString& event);

private:
    // Sparkplug B nodes are read there, into these lines, sensors and readings.
    friend class SparkplugSite;
    // What a message on a topic brings; called for every message the client receives.
    void take(const QString& topic, const QByteArray& payload, bool retained);
    bool makeClient(QString* reason);
    void retryNow();
    void refused(const QString& reason);
    void setState(Connection next, const QString& reason = QString());
    void endSession();
    SiteLine* lineFor(const QString& prefix);
    SensorState* sensorOf(SiteLine& line, int addr, int baudrate);
    void takeLineFile(SiteLine& line, const linefile::Line& file);
    void takeReport(const QString& prefix, int address, bool isReading, const QByteArray& payload);
    void oversized(const QString& topic, int size);
    void changed(const QString& line);

    MqttSettings settings;
    QStringList filters;
    QString id;
    std::unique_ptr<QLockFile> idLock;
    std::unique_ptr<MqttClient> client;
    QTimer* retry = nullptr;
    QTimer* states = nullptr;
    Connection state = Connection::Closed;
    QString why;
    int retryMs = firstRetryMs;
    int refusedCount = 0;
    qint64 connectedAt = 0;
    qint64 lostAt = 0;

    QMap<QString, SiteLine> known;
    QSet<QString> hidden;
    QHash<QString, QString> portOfLine;
    QSet<QString> changes;
    ReadingStore store;
    std::unique_ptr<SparkplugSite> sparkplug;
    // Oversized payloads and refused lines are told at most once a minute.
    qint64 oversizedToldAt = 0;
    int oversizedSince = 0;
    qint64 tooManyToldAt = 0;
    int tooManySince = 0;
};
