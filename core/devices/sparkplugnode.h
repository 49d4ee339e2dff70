#pragma once

#include "codec/device.h"
#include "codec/readings.h"
#include "codec/sparkplug.h"
#include "core/devices/mqttclient.h"

#include <QDateTime>
#include <QHash>
#include <QMap>
#include <QObject>
#include <QString>
#include <deque>
#include <memory>

// A line published as one Sparkplug B edge node (Sparkplug 3.0): the node born with NBIRTH
// after every connection, its death registered as the will, one device per sensor born with
// DBIRTH once its type is known, then DDATA by alias with only what changed. Each MQTT
// session has a new bdSeq, kept in a small file so that it also grows across runs. The one
// command honoured is Node Control/Rebirth: nothing that arrives from the broker reaches the
// line.
class SparkplugNode : public QObject
{
    Q_OBJECT
public:
    struct Settings
    {
        QString group;
        QString node;
        QString hostId;    // empty: no primary host is followed
        QString port;      // the line's port, a node metric
        QString version;   // the program's version, a node metric
        int lineSize = 0;  // sensors in the line file, a node metric
        QString stateFile; // where bdSeq is kept between runs
    };

    // Node metrics' aliases; a device's are its address times 100 plus the metric's number.
    enum NodeAlias : quint64
    {
        RebirthAlias = 1,
        PortAlias = 2,
        VersionAlias = 3,
        LineSizeAlias = 4,
    };
    enum DeviceMetric
    {
        Measure = 1,
        Adc,
        Coil,
        WorkTime,
        Version,
        Type,
        Name,
        Setpoint,
        Speed,
        Address,
        metricCount = Address
    };
    static QString metricName(int metric);
    static quint32 metricType(int metric);
    static quint64 alias(int address, int metric)
    {
        return quint64(address) * 100 + quint64(metric);
    }

    // Readings kept while the node is not born: an hour of a full line at one round a second.
    static constexpr int defaultQueueLimit = 31 * 3600;
    // Refused commands are told at most this often.
    static constexpr int refusalLogMs = 60000;

    explicit SparkplugNode(const Settings& settings, int queueLimit = defaultQueueLimit,
                           QObject* parent = nullptr);
    ~SparkplugNode() override;

    // Takes the next bdSeq from the state file and starts connecting; false with the reason
    // when the broker settings cannot be used or the state file cannot be written. The will,
    // the session and the client id are the node's own: those fields of mqtt are replaced.
    bool open(const MqttSettings& mqtt, QString* why);
    // One poll of one sensor.
    void add(const Reading& reading, const DeviceVEL_DUO300& dev);
    // The port was lost: every device dies. Their births follow their next answers.
    void portLost();
    // NDEATH, then waits up to timeoutMs for the broker to take it; closes the connection.
    bool finish(int timeoutMs);

    quint64 bdSeq() const { return sessionBdSeq; }
    bool born() const { return nodeBorn; }
    int queued() const { return int(history.size()); }
    qint64 dropped() const { return droppedCount; }

    // The bdSeq kept in a state file; -1 when there is none or it cannot be read.
    static int storedBdSeq(const QString& path);
    // Keeps it there; false with the reason.
    static bool storeBdSeq(const QString& path, quint64 bdSeq, QString* why);

signals:
    void connected();
    void connectionLost(const QString& reason);
    void refused(const QString& reason);
    // A command other than a rebirth arrived and was not carried out (at most once a
    // minute); the text says what and how many since the last time.
    void commandRefused(const QString& text);
    void hostChanged(bool online);
    // The history queue was full and its oldest readings began to go; once per outage.
    void dropping();

private:
    struct Device
    {
        bool born = false;
        SensorType type = SensorType::Undetermined;
        QVariant values[metricCount + 1]; // as last published, by DeviceMetric
    };

    bool startSession(QString* why);
    void sessionUp();
    void sessionLost(const QString& reason);
    void message(const QString& topic, const QByteArray& payload);
    void birth();
    void nodeBirth();
    void deviceBirth(int address, const DeviceVEL_DUO300& dev, qint64 msecs);
    void deviceDeath(int address, qint64 msecs);
    void sendHistory();
    bool canPublish() const;
    int publish(const QString& topic, sparkplug::Payload payload, int qos = 0);
    QByteArray deathPayload() const;
    void refuse(const QString& what);
    QVariant currentValue(int metric, const DeviceVEL_DUO300& dev, const Reading& reading) const;
    QString deviceTopic(const char* type, int address) const;

    Settings settings;
    MqttSettings mqttSettings;
    int limit;
    std::unique_ptr<MqttClient> client;
    bool sessionWasUp = false;
    bool nodeBorn = false;
    bool hostOnline = false;
    qint64 hostTimestamp = -1;
    quint64 sessionBdSeq = 0;
    quint64 seq = 0;                         // of the next message
    QMap<int, Device> devices;               // by address
    QHash<int, DeviceVEL_DUO300> lastRecord; // the record behind each device's values
    QHash<int, Reading> lastReading;
    std::deque<Reading> history;
    qint64 droppedCount = 0;
    bool droppingReported = false;
    bool historyScheduled = false;
    qint64 lastRefusalLog = 0;
    int refusalsUntold = 0;
};
