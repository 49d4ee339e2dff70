#pragma once

#include "codec/linefile.h"
#include "core/ops/operations.h"

#include <QString>
#include <QVector>

// Keeping a line in a file: reading the listed sensors for it, comparing them with it, and
// putting one of its entries onto a sensor. Free of widgets; the window only shows the rows.
namespace ops {

// The caption of a line file key as the user reads it ("name" -> "Название").
QString fieldCaption(const QString& key);

// How a sensor of the file is named in a table: address, speed and, when known, the name.
QString sensorLabel(const linefile::Sensor& sensor);

// One row of a comparison: a field in which a sensor differs from the file.
struct CompareRow
{
    QString sensor;
    QString field;
    QString inFile;
    QString onSensor;
};

// The rows of every field that differs, entry by entry; read holds the sensors of file as
// read now, in the same order. A sensor that did not answer is one row.
QVector<CompareRow> compareRows(const linefile::Line& file, const linefile::Line& read);

// One field a restore changes on the sensor.
struct Change
{
    QString field;
    QString now;
    QString after;
};

// What putting the entry onto the sensor changes: address, speed, name, setpoint and, with
// calibration, the zero and nominal points. Empty when the sensor already holds the entry.
QVector<Change> restoreChanges(const linefile::Sensor& entry, const DeviceVEL_DUO300& now,
                               bool calibration);

// The sensor's settings block with the entry's address, name, speed and setpoint and, with
// calibration, its zero and nominal points; everything else stays as the sensor has it.
UstBlock restoredBlock(const UstBlock& now, const linefile::Sensor& entry, bool calibration);

// Why the entry cannot be put onto a sensor; empty when it can.
QString restoreRefusal(const linefile::Sensor& entry);

// How a restore names an entry to choose from: its label and, when the file knows it, its type.
QString entryChoiceText(const linefile::Sensor& entry);

// The entry that stands for the sensor, among those that can be put onto it: the one at its
// address and speed, else the only one with its name; -1 when none or several could be meant.
int matchingEntry(const QVector<linefile::Sensor>& entries, const DeviceVEL_DUO300& now);

// Every given sensor read whole, settings and live values, re-opening the port at each speed;
// whoever does not answer is kept with its address and speed as not read. The records take
// what was read, as a settings read gives it them.
class ReadLine : public Operation
{
public:
    using Operation::Operation;
    Result run(const QString& portName, const QVector<DeviceVEL_DUO300*>& devs);
    linefile::Line read;
    // The sensors of the run that did not answer, in order.
    QVector<linefile::Sensor> silent;
};

// A file entry put onto the sensor: address, name, speed, setpoint and perhaps the calibration
// points in one write, sent only when nothing answers at the entry's address and speed yet, then
// read back there.
class RestoreSensor : public Operation
{
public:
    using Operation::Operation;
    // The record's settings must have been read just before (ReadSettings::runForWrite): the
    // changes the user confirmed were worked out from them.
    Result run(DeviceVEL_DUO300* dev, const linefile::Sensor& entry, bool calibration);
    // What the sensor still lacks of the entry after the read-back; empty when it matches.
    QVector<Change> remaining;
};

} // namespace ops
