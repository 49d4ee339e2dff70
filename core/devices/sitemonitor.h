#pragma once

#include "core/devices/mqttclient.h"
#include "codec/readings.h"

#include <QMap>
#include <QObject>
#include <QString>
#include <QVector>
#include <memory>

class QTimer;

// One sensor of a line as its topics tell it.
struct SiteSensor
{
    int addr = 0;
    int baudrate = 0;
    QString name;          // once the line's file or the sensor's state named it
    bool answered = false; // a reading or state with values came: those below are known
    quint16 sensorType = 0;
    qint16 measure = 0; // as the parameters block gives it
    quint16 adc = 0;
    quint8 coil = 0;
    quint32 workTime = 0;
    QString version;
    qint64 answeredAt = 0; // ms since the epoch of its last answer
    int lastError = -1;    // outcome of its last poll; -1: none came yet
    QString errorText;     // the last poll's error, as the publisher named it
    qint64 lastAt = 0;     // time of the newest poll taken in: an older one changes nothing
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
    QString name; // the prefix
    Status status = Status::Unknown;
    qint64 lastPublished = 0;    // ms since the epoch; 0: nothing with a time came yet
    QString port;                // the serial port the line's file names
    bool listed = false;         // its line file came: its sensors are the line's
    QVector<SiteSensor> sensors; // by address, then speed
};

// The lines of a site, from a broker: subscribes to a topic filter and keeps every line's
// status, its sensors' latest state and their readings. It never publishes. A broker that
// cannot be reached is tried again by the client; one that refuses the credentials or the
// certificate is tried again here, with a growing pause, since a broker's users and
// certificates may be put right while the view stays open. No widgets.
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

    explicit SiteMonitor(QObject* parent = nullptr);
    ~SiteMonitor() override;

    // Connects in the background and subscribes to the filter; the client id is made here.
    // Another broker or filter than the last forgets the lines known (not their readings).
    // False with the reason when the settings cannot be used (an unreadable CA file).
    bool open(const MqttSettings& settings, const QString& filter, QString* why);
    void close();

    Connection connection() const { return state; }
    // Why the connection is down, as the client or the broker said it.
    QString reason() const { return why; }
    // Until the next attempt after a refusal; -1 when none is waiting.
    int retryInMs() const;
    // Connection attempts refused so far, since open().
    int refusals() const { return refusedCount; }

    const QMap<QString, SiteLine>& lines() const { return known; }
    // Each sensor's readings, under its line's prefix as the port.
    const ReadingStore& readings() const { return store; }

signals:
    void connectionChanged();
    // A line or a sensor was added or removed.
    void linesChanged();
    // A sensor's first reading was kept: its buffer exists from now on.
    void firstReading(const QString& line, int addr, int baudrate);

private:
    // What a message on a topic brings; called for every message the client receives.
    void take(const QString& topic, const QByteArray& payload, bool retained);
    bool makeClient(QString* reason);
    void retryNow();
    void refused(const QString& reason);
    void setState(Connection next, const QString& reason = QString());
    SiteSensor* sensorOf(SiteLine& line, int addr, int baudrate);
    static void apply(SiteSensor& sensor, const Reading& reading, const QString& text);

    MqttSettings settings;
    QString filter;
    std::unique_ptr<MqttClient> client;
    QTimer* retry = nullptr;
    Connection state = Connection::Closed;
    QString why;
    int retryMs = firstRetryMs;
    int refusedCount = 0;

    QMap<QString, SiteLine> known;
    ReadingStore store;
};
