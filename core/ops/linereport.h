#pragma once

#include "codec/device.h"
#include "codec/linefile.h"
#include "core/ops/operations.h"

#include <QDateTime>
#include <QJsonObject>
#include <QString>
#include <QStringList>
#include <QVector>

// The commissioning report of a line: what every sensor of a line file answers now, set against
// the file. The content is made by a pure function, so that the command line, the window and
// the tests make the same report; drawing it is the print library's.
namespace linereport {

const QString title = QStringLiteral("Протокол наладки линии");

// Who made the report, where and when.
struct Header
{
    QString site;     // empty when not given
    QString line;     // the line's name; the file's port when not given
    QString engineer; // empty when not given
    QString program;  // the program's name and version, "velduo 1.0.2"
    QString host;     // the computer's host name
    QString port;     // the port the sensors were read on
    QDateTime at;     // local time, with its offset from UTC
};

// What one sensor of the file answered when the report was made.
struct Reading
{
    enum State
    {
        Answered, // settings, parameters and coil read
        InLoader, // answered "nonexistent command": a flash cut short left it in its loader
        Silent,   // did not answer, or not with what can be used: error holds the code
    };
    State state = Silent;
    int error = 0;
    DeviceVEL_DUO300 dev{}; // the record as read, at the entry's address and speed
};

// One row of the table, a sensor, its values as the report shows them.
struct Row
{
    int address = 0;
    int speed = 0;
    Reading::State state = Reading::Silent;
    QString note; // for a sensor that did not answer with its values: why
    QString type; // "Напряжение"
    QString name;
    QString setpoint; // with its unit
    QString version;
    QString zeroAdc;    // "—" for a sensor that is not calibrated
    QString nominalAdc; // "—" for a sensor that is not calibrated
    QString measure;    // with its unit
    QString adc;
    QString coil;        // "вкл", "выкл"
    QString workTime;    // "12 ч 05 мин 07 с"
    QStringList differs; // the line file's keys of the fields that differ from the file
    QJsonObject json;    // the same, for the JSON form, with the line file's keys
};

// A field in which a sensor differs from the file.
struct Difference
{
    int address = 0;
    int speed = 0;
    QString sensor; // "5@9600 «Ввод 1»"
    QString key;    // the line file's key
    QString field;  // as the user reads it
    QString inFile;
    QString onSensor;
};

struct Report
{
    Header header;
    QString fileName; // the line file's, as given
    QVector<Row> rows;
    QVector<Difference> differences;
    int answered = 0;
    bool matches = false; // every sensor answered and none differs
    QString summary;
};

// The report of the file's sensors, readings in the file's order, one for each entry.
Report make(const Header& header, const QString& fileName, const linefile::Line& file,
            const QVector<Reading>& readings);

// The same content for a plant's records.
QJsonObject toJson(const Report& report);

// The report's time as the document shows it: "11.12.2026 10:05:07 (UTC+03:00)".
QString timeText(const QDateTime& at);

// The table's column captions, in the order of Row's fields from type on (after "Адрес" and
// "Скорость").
QStringList columnCaptions();
// The texts of a row's cells past address and speed, in the order of columnCaptions.
QStringList cells(const Row& row);
// The keys of the line file that each column past address and speed shows.
QStringList columnKeys();

// Every sensor of the file read again, read only: the settings block, the parameters, coil 0.
// No write, no loader request, no broadcast is sent.
class ReadSensors : public ops::Operation
{
public:
    using Operation::Operation;
    ops::Result run(const QString& portName, const QVector<linefile::Sensor>& sensors);
    QVector<Reading> readings;
};

} // namespace linereport
