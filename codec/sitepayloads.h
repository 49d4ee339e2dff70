#pragma once

#include "codec/device.h"
#include "codec/readings.h"
#include "codec/sensorstate.h"

#include <QByteArray>
#include <optional>

// What a line's sensors look like on the broker: compact JSON in UTF-8, keys as in the line
// file, times in ISO 8601 UTC with milliseconds.
namespace broker {

// Format version of the payloads, carried by each so that subscribers can tell a change.
constexpr int payloadVersion = 1;

// "V" or "°C"; empty while the type is undetermined.
QString unitOf(SensorType type);

// One reading: its per-process sequence number (a QoS-1 duplicate repeats it), when the poll
// ended, the sensor, and either its values or the poll's error code and text. A failure's
// text is the error code's own unless one is given (the port lost, with its reason).
QByteArray readingPayload(const Reading& reading, quint64 seq, const QString& failure = QString());

// The sensor's latest state: its last poll, with what its record knows besides (name and
// setpoint once its settings were read, operating time and version from its last good poll),
// and how many readings the queue has dropped so far. The values of its last answer stay in
// it with their time, answeredAt, after a failed poll too, so that a reader that comes then
// still sees what the sensor is and what it last measured; `error` tells a value from a
// failure, whose text is the state's, or its code's own when the state has none.
QByteArray sensorPayload(const DeviceVEL_DUO300& dev, const SensorState& state, qint64 dropped);

// What a line is doing, retained on PREFIX/state, so that a subscriber can tell why a line is
// silent. `state` is one of the names below (a publisher may add others: readers show any
// name), `since` when it was entered.
namespace linestate {
constexpr char polling[] = "polling";    // the port is open and the sensors are polled
constexpr char portLost[] = "port-lost"; // the port is gone; it is tried again once a second
constexpr char stopping[] = "stopping";  // a signal ends the publisher: offline follows
// Another client under this line's id keeps taking its session on the broker.
constexpr char sessionTaken[] = "session-taken";
} // namespace linestate

struct LineState
{
    QString state;
    qint64 since = 0; // ms since the epoch
    QString text;     // what it means, in Russian; empty for polling
    QString system;   // the system's own words for it, when it gave any
};

QString stateTopic(const QString& prefix);
// With the queue as it stands when the state is published: readings waiting and dropped.
QByteArray statePayload(const LineState& state, int queued, qint64 dropped);

// What a subscriber reads back from a reading or a sensor's state. Everything comes from the
// network, so each field is checked against what the writers above can give.
struct SensorReport
{
    Reading reading; // its port left empty: the subscriber knows the line by its topic
    quint64 seq = 0; // readings only
    QString text;    // the poll's error text, never empty when it failed
    // The state's own: what the sensor's record knew besides the reading.
    std::optional<QString> name;
    std::optional<int> setpoint;
    std::optional<qint64> workTime;
    std::optional<QString> version;
    // A failed poll's state: the sensor's last answer (its time and values), when it
    // answered before.
    std::optional<Reading> lastAnswer;
    qint64 dropped = 0;
};
// False with the reason when the payload is not one of this version's.
bool parseReadingPayload(const QByteArray& payload, SensorReport* report, QString* why);
bool parseSensorPayload(const QByteArray& payload, SensorReport* report, QString* why);

// What the publisher says of itself under PREFIX/state, read by key: whatever else the object
// holds is left aside, and a state this version does not know is kept as its text.
struct PublisherState
{
    QString state;    // "polling", "port-lost", "stopping" or one to come
    QString reason;   // empty when none was given
    qint64 since = 0; // ms since the epoch; 0 when not given
};
bool parseStatePayload(const QByteArray& payload, PublisherState* state);

// A text from the network as a row may show it: at most maxChars characters (an ellipsis
// ends a longer one), control, format and bidirectional characters written by their code (a
// backslash, u and four hex digits), so that none can hide or reorder what the row says.
QString shownText(const QString& text, int maxChars);

} // namespace broker
