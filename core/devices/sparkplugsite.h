#pragma once

#include "codec/blocks.h"
#include "core/devices/sparkplugnode.h"

#include <QByteArray>
#include <QHash>
#include <QString>
#include <QVariant>
#include <QVector>
#include <optional>
#include <utility>

class SiteMonitor;
struct SiteLine;
namespace sparkplug {
struct Metric;
struct Payload;
} // namespace sparkplug

// A site's Sparkplug B edge nodes as the site view shows them: each node a line named
// spBv1.0/GROUP/NODE, each of its devices a sensor. Births and deaths tell online and offline;
// a gap in a node's seq, or data the view cannot place (before a birth, by an alias not born),
// leaves the line stale until the node is born again. The view only listens: it never asks for
// a rebirth. A device is a sensor by its metrics' names: velduo's own (Address, Speed, Type,
// Name, Measure, ADC, Coil, WorkTime, Version) fill every column; another vendor's device shows
// those it has, under its device id. Everything comes from the network and is bounded as the
// JSON contract's payloads are.
class SparkplugSite
{
public:
    explicit SparkplugSite(SiteMonitor& monitor);

    // Beyond what any node of a line sends; a birth of 247 × 8 named metrics stays below.
    static constexpr int maxPayload = 256 * 1024;
    static constexpr int maxMetrics = 2000;
    // A node holds at most the sensors a line may have.
    static constexpr int maxDevices = modbusAddressMax * 8;
    // A device id longer than a row can show names no sensor of ours.
    static constexpr int maxDeviceId = 200;

    // Whether a topic is read here rather than as the JSON contract.
    static bool covers(const QString& topic);
    // Whether a line of the view is a node's.
    static bool isNodeLine(const QString& line);
    static QString lineName(const QString& group, const QString& node);

    void take(const QString& topic, const QByteArray& payload, bool retained);

private:
    // What a device's metric names: SparkplugNode's DeviceMetric, 0 for none of ours.
    using Column = int;
    struct Device
    {
        int addr = 0; // the sensor's row, once born: by Address and Speed, or a number of its own
        int baudrate = 0;
        bool born = false;
        // Each column's alias as its birth gave it: one a column, however many it named.
        std::optional<quint64> aliasOf[SparkplugNode::metricCount + 1];
        Column columnOfAlias(quint64 alias) const;
    };
    struct Node
    {
        std::optional<qint64> bdSeq; // of the session whose birth came
        bool born = false;
        int nextSeq = -1; // of the next message; -1 before a birth
        std::optional<quint64> portAlias;
        QHash<QString, Device> devices; // by device id
        // A device without a Modbus address and speed: its row's number, kept while the view
        // is open so that its curve and export rows stay its own across births.
        QHash<QString, int> numberOf;
    };

    Node* nodeFor(SiteLine& line);
    void nodeBirth(SiteLine& line, Node& node, const sparkplug::Payload& payload);
    // The serial port the node's Port metric names, for the row and the export.
    void setPort(SiteLine& line, const QVariant& value);
    void nodeDeath(SiteLine& line, Node& node, const sparkplug::Payload& payload);
    // A message that cannot be placed after the ones before leaves the line stale.
    void checkSeq(SiteLine& line, Node& node, quint64 seq);
    void deviceBirth(SiteLine& line, Node& node, const QString& id,
                     const sparkplug::Payload& payload);
    void deviceData(SiteLine& line, Node& node, const QString& id,
                    const sparkplug::Payload& payload);
    void deviceDeath(SiteLine& line, Node& node, const QString& id,
                     const sparkplug::Payload& payload);
    // The metrics in order, those of one time together, into the sensor and the readings.
    void apply(SiteLine& line, const Device& device,
               const QVector<std::pair<Column, const sparkplug::Metric*>>& metrics,
               qint64 payloadMs);
    void doubt(SiteLine& line, const QString& why);
    void refuse(const QString& topic, const QString& why);
    void tellRefused();

    SiteMonitor& monitor;
    QHash<QString, Node> nodes; // by line name
    // Messages refused are told at most once a minute.
    qint64 refusedToldAt = 0;
    int refusedSince = 0;
    QString lastRefused;
    bool tellPending = false;
};
