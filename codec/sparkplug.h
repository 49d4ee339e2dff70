#pragma once

#include <QByteArray>
#include <QString>
#include <QVariant>
#include <QVector>
#include <optional>

// Sparkplug B (Eclipse Sparkplug 3.0): its topics, its protobuf payloads and the primary
// host's state message. Pure, so that tests and fuzzers call it directly; the generated
// protobuf classes stay inside sparkplug.cpp.
namespace sparkplug {

constexpr char namespaceLevel[] = "spBv1.0";

// The datatypes a metric or a property declares.
enum DataType : quint32
{
    Unknown = 0,
    Int8 = 1,
    Int16 = 2,
    Int32 = 3,
    Int64 = 4,
    UInt8 = 5,
    UInt16 = 6,
    UInt32 = 7,
    UInt64 = 8,
    Float = 9,
    Double = 10,
    Boolean = 11,
    String = 12,
    DateTime = 13,
    Text = 14,
    Uuid = 15,
    DataSet = 16,
    Bytes = 17,
    File = 18,
    Template = 19,
    PropertySet = 20,
    PropertySetList = 21,
};

// Values as they are held here: qint64 for the signed integers, quint64 for the unsigned
// ones and DateTime, float, double, bool, QString for String, Text and UUID, QByteArray for
// Bytes and File. A null QVariant is a null value.
struct Property
{
    QString key;
    quint32 type = Unknown;
    QVariant value;
};

struct Metric
{
    QString name; // empty in data messages, which go by alias
    std::optional<quint64> alias;
    std::optional<quint64> timestamp; // ms since the epoch
    quint32 datatype = Unknown;       // Unknown: not told (data messages may leave it out)
    bool historical = false;
    bool transient = false;
    QVariant value; // null: the metric's value is null
    QVector<Property> properties;
};

struct Payload
{
    std::optional<quint64> timestamp; // ms since the epoch
    std::optional<quint64> seq;
    QVector<Metric> metrics;
};

QByteArray encode(const Payload& payload);
// False with the reason (Russian) when the bytes are not a payload, or a metric's value does
// not fit the datatype it declares: everything comes from the network.
bool decode(const QByteArray& bytes, Payload* payload, QString* why);

// The value converted to what a datatype holds; a null QVariant when it cannot be.
QVariant valueAs(quint32 datatype, const QVariant& value);

// A metric's or property's value for a datatype, in the form encode() writes.
Metric metric(const QString& name, quint64 alias, quint32 datatype, const QVariant& value);

// Topics: spBv1.0/GROUP/TYPE/NODE[/DEVICE].
QString nodeTopic(const QString& group, const QString& type, const QString& node);
QString deviceTopic(const QString& group, const QString& type, const QString& node,
                    const QString& device);
QString stateTopic(const QString& hostId);

struct Topic
{
    QString group;
    QString type; // NBIRTH, NDEATH, DBIRTH, DDEATH, NDATA, DDATA, NCMD, DCMD
    QString node;
    QString device; // empty for node messages
};
// False for anything that is not a node's or a device's topic in the namespace.
bool parseTopic(const QString& topic, Topic* parsed);

// A group, node, device or host id: not empty, and none of '/', '+', '#'.
bool checkId(const QString& id, QString* why);
// The text with every character an id cannot hold replaced by '_'; "node" when nothing is left.
QString validId(const QString& text);
// The edge node's id when none is given: the host name and the port's base name.
QString defaultNodeId(const QString& hostName, const QString& portName);
// A sensor's device id: s and its address in two digits, "s07".
QString deviceId(int address);

// The primary host's state (Sparkplug 3.0): {"online": bool, "timestamp": ms}.
struct HostState
{
    bool online = false;
    qint64 timestamp = 0;
};
QByteArray hostStatePayload(const HostState& state);
bool parseHostState(const QByteArray& bytes, HostState* state, QString* why);

// The edge node's state file, {"bdSeq": n}: the bdSeq of its last session, 0 to 255; -1 for
// anything else.
QByteArray nodeStatePayload(quint64 bdSeq);
int parseNodeState(const QByteArray& bytes);

} // namespace sparkplug
