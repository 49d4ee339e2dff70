#pragma once

#include "cli/command.h"
#include "codec/brokerurl.h"
#include "codec/readings.h"
#include "core/devices/mqttclient.h"
#include "core/devices/registry.h"
#include "core/devices/sparkplugnode.h"

#include <QObject>
#include <QSet>
#include <memory>

// watch --mqtt --sparkplug: the line published as a Sparkplug B edge node in place of the
// JSON topics, while the poller reads it.
class SparkplugWatch : public QObject
{
    Q_OBJECT
public:
    // Checks --sparkplug and --sparkplug-host (and that the JSON contract's own options are
    // not given with them); false with *code set after telling why.
    bool prepare(Context& context, int* code);
    // Opens the node on the broker that --mqtt and its options named; after open.
    void start(Context& context, SensorRegistry& registry, const MqttSettings& settings,
               const broker::Url& url);
    void add(const Reading& reading, const DeviceVEL_DUO300& dev);
    // True while settings wait to be read: the poller yields to them.
    bool busy() const { return !unread.isEmpty(); }
    // The port was lost: the node tells every device's death.
    void portLost();
    // NDEATH, then the connection closes.
    void finish();
    QString refusal() const { return refusedWith; }

    // Where the node keeps its bdSeq between runs.
    static QString stateFile(const QString& group, const QString& node);

signals:
    void refused();

private:
    void readSettings();
    void tell(const QString& event, const QString& text);

    Context* context = nullptr;
    SensorRegistry* registry = nullptr;
    broker::Url url;
    QString group;
    QString node; // empty until start() when not given
    QString hostId;
    std::unique_ptr<SparkplugNode> edge;
    QSet<int> unread; // rows of sensors that answered and whose settings were not read
    bool away = false;
    bool everConnected = false;
    QString refusedWith;
};
