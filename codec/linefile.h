#pragma once

#include "codec/blocks.h"

#include <QByteArray>
#include <QDateTime>
#include <QJsonObject>
#include <QString>
#include <QStringList>
#include <QVector>
#include <optional>

// The line file: the sensors of one line as they were read, or as a plan says they must
// become, in one JSON document that people read and edit. Pure: no port, no window, so that
// tests and fuzzers call it directly.
namespace linefile {

constexpr char formatName[] = "velduo-line";
constexpr int formatVersion = 1;

// One sensor of the line. A sensor read whole has every value; a sensor that did not answer
// keeps only its address and speed; a plan entry has address, speed, name and setpoint and
// perhaps what to calibrate and whether to flash. A value the entry does not have is empty.
struct Sensor
{
    int address = 0; // Modbus address it answers at
    int speed = 0;   // bit/s it answers at
    bool answered = true;
    std::optional<int> type; // the parameters block's sensor type, as read
    std::optional<QString> name;
    std::optional<int> setpoint;
    std::optional<int> zeroAdc;
    std::optional<int> nomAdc;
    std::optional<QString> version;
    QByteArray block;      // the settings block as read, 40 bytes; empty when not read
    QDateTime readAt;      // invalid when unknown
    QStringList calibrate; // plan: "zero", "nominal"
    bool flash = false;    // plan
    QJsonObject unknown;   // keys this version does not know, written back unchanged

    bool operator==(const Sensor& other) const;
    bool operator!=(const Sensor& other) const { return !(*this == other); }
};

struct Line
{
    QString port;
    QVector<Sensor> sensors;
    QJsonObject unknown; // top-level keys this version does not know

    bool operator==(const Line& other) const;
    bool operator!=(const Line& other) const { return !(*this == other); }
};

// A line file must describe every sensor it names as read or as not answering; a plan says
// only what each sensor must become. Either is a line to open: read as a line file, or, when
// none of its entries has a sensor type (which every sensor read has), as a plan, with the
// values it holds and none other.
enum class Mode
{
    File,
    Plan,
    FileOrPlan
};

// The line, or why the text is refused: the entry (1-based, with its address when known)
// and the key at fault, in Russian for the user.
struct ReadResult
{
    Line line;
    QString refusal; // empty when line holds the file
    bool ok() const { return refusal.isEmpty(); }
};

ReadResult parse(const QByteArray& json, Mode mode);
ReadResult readFile(const QString& path, Mode mode);

// Indented JSON, known keys in a fixed order, unknown keys after them (at the top, before the
// long list of sensors).
QByteArray toJson(const Line& line);
// The same document on one line, the keys in the same order: for a broker, where every payload
// is compact.
QByteArray toCompactJson(const Line& line);

// Writes the file atomically: on failure the old file stays whole. Returns why the file could
// not be written, empty when it was.
QString save(const Line& line, const QString& path);

// A fault that stops a plan before anything is sent to a sensor.
struct PlanFault
{
    int entry;    // 1-based; 0 for the plan as a whole
    QString key;  // the key at fault
    QString text; // in Russian, naming entry and key
};

// Every fault of a plan: addresses within what the address change writes and unique per
// speed, listed speeds, names the sensor can hold, setpoints it takes, known calibrations.
QVector<PlanFault> checkPlan(const Line& plan);

// A sensor as read from its settings and parameters blocks.
Sensor fromBlocks(int address, int speed, const UstBlock& ust, const ParamBlock& param,
                  const QDateTime& readAt);

// One sensor with the keys it has in a line file, for output that describes sensors the same
// way.
QJsonObject toObject(const Sensor& sensor);

// The settings block the entry was read with; empty when it has none.
std::optional<UstBlock> ustBlock(const Sensor& sensor);

// One field in which a sensor differs from what an entry expects, the values as shown.
struct Difference
{
    QString key; // the line file's key: address, speed, answered, name, setpoint, ...
    QString expected;
    QString actual;
};

// The fields that the expected entry has (address, speed, name, setpoint, zero and nominal
// points, software version) and whether it was read, where the actual sensor differs. A value
// the actual sensor lacks is shown as "—"; when either did not answer, nothing past address,
// speed and that is compared.
QVector<Difference> differences(const Sensor& expected, const Sensor& actual);

} // namespace linefile
