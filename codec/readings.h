#pragma once

#include "codec/sensortype.h"

#include <QHash>
#include <QMetaType>
#include <QString>
#include <QVector>
#include <deque>
#include <functional>
#include <map>
#include <tuple>

// What one poll of one sensor brought: when it ended, whom it asked, and what came back.
struct Reading
{
    qint64 msecs = 0; // milliseconds since the epoch, when the poll ended
    QString port;     // two lines may each have a sensor at the same address and speed
    qint32 addr = 0;
    qint32 baudrate = 0;
    qint32 error = 0; // 0: the sensor answered both reads; otherwise the poll's error code
    SensorType sensorType = SensorType::Undetermined;
    qint16 measure = 0; // as the parameters block gives it: volts, or hundredths of °C
    quint16 adc = 0;
    quint8 coil = 0; // coil status byte
    bool ok() const { return error == 0; }
    // The measured value in volts or degrees Celsius; NaN when the poll failed or the type
    // is undetermined.
    double value() const;
};
Q_DECLARE_METATYPE(Reading)

// Rounds of the line's poller start at most once a second, so no sensor is read more often:
// a day of readings is at most this many.
namespace trend {
constexpr int fastestRoundMs = 1000;
constexpr qint64 keptMs = 24LL * 3600 * 1000;
constexpr int dayOfReadings = int(keptMs / fastestRoundMs);
} // namespace trend

// The readings of one sensor, oldest first, bounded: once full, each new reading drops the
// oldest. Stored in small blocks, so that memory grows with the readings and never by jumps.
class ReadingBuffer
{
public:
    explicit ReadingBuffer(const QString& port = QString(), qint32 addr = 0, qint32 baudrate = 0,
                           int capacity = trend::dayOfReadings);

    // Readings come in time order; one of another sensor (port, address or speed) is refused.
    bool append(const Reading& reading);
    // A reading that came late (held by a broker while its subscriber was away) takes its place
    // by time; false for another sensor's, or when one of the same time is kept already.
    bool insert(const Reading& reading);
    int size() const { return int(samples.size()); }
    int capacity() const { return limit; }
    QString port() const { return portName; }
    qint32 addr() const { return address; }
    qint32 baudrate() const { return speed; }
    // The type the sensor last answered with, whichever readings the buffer still holds;
    // undetermined before the first answer that named one.
    SensorType sensorType() const { return lastType; }
    Reading at(int i) const; // 0 is the oldest
    qint64 timeAt(int i) const { return samples[size_t(i)].msecs; }
    // The first reading at or after msecs; size() when none is.
    int firstAtOrAfter(qint64 msecs) const;

    // What one reading takes in the buffer.
    static constexpr int readingBytes = 16;

private:
    // A reading without its sensor, packed.
    struct Sample
    {
        qint64 msecs;
        qint16 measure;
        quint16 adc;
        quint8 sensorType;
        quint8 error;
        quint8 coil;
        quint8 spare;
    };
    static_assert(sizeof(Sample) == readingBytes, "packed reading");

    QString portName;
    qint32 address;
    qint32 speed;
    int limit;
    SensorType lastType = SensorType::Undetermined;
    std::deque<Sample> samples;
};

// Every sensor's readings, by port, address and speed: two lines may each have a sensor at
// 2@38400. The port is whatever names the line: the serial port, or a site's topic prefix.
class ReadingStore
{
public:
    // Kept in the sensor's buffer, made at its first reading; false when the reading is not
    // newer than the last one kept (a message delivered twice, or late), so that each buffer
    // stays in time order.
    bool add(const Reading& reading, bool* first = nullptr);
    // The same, but a reading older than the last one kept takes its place by time.
    bool insert(const Reading& reading, bool* first = nullptr);
    // Null before the sensor's first reading.
    const ReadingBuffer* find(const QString& port, int addr, int baudrate) const;
    QVector<const ReadingBuffer*> all() const;
    int sensorCount() const { return int(buffers.size()); }

private:
    // The reading's sensor's buffer, made when it is the first; *first says whether it was.
    ReadingBuffer& bufferFor(const Reading& reading, bool* first);

    std::map<std::tuple<QString, int, int>, ReadingBuffer> buffers;
};

// The readings as CSV, the same columns wherever they are written (the overviews' export,
// velduo watch --csv): time in ISO 8601 with milliseconds and the UTC offset, port, address,
// speed, type (1 temperature, 2 voltage, 0 undetermined; empty when the poll failed), name (empty
// when not known), value in its unit (empty when the poll failed or the type is
// undetermined), unit ("V" or "°C"), ADC reading (empty when the poll failed), error (0
// answered, otherwise the poll's error code). Fields that hold the separator, a quote or a line
// break are quoted as RFC 4180 has it.
namespace csv {

// "," between fields with a decimal point, or ";" with a decimal comma, as spreadsheets set to
// Russian read them.
enum class Style
{
    Comma,
    Semicolon,
};
// The styles as the settings and the command line name them: "comma", "semicolon".
QString styleName(Style style);
bool parseStyle(const QString& name, Style* style);

// A reading's sensor name; empty when not known.
using NameOf = std::function<QString(const Reading&)>;

QString header(Style style);
QString row(const Reading& reading, const QString& name, Style style);
// Every reading of the buffers, oldest first across the sensors, a row each, after the
// header; written whole or not at all: false with the reason.
bool write(const QString& path, const QVector<const ReadingBuffer*>& buffers, const NameOf& nameOf,
           Style style, QString* error = nullptr);
// A site's readings: the same columns, then the line's name (its topic prefix, which is each
// buffer's port here); the port column gives the serial port that the line's own file names,
// empty when none is known. The ";" style is the spreadsheets': its file starts with a UTF-8
// byte-order mark, its time is local without the offset ("2025-03-05 07:08:09.045"), as
// spreadsheets read a date and time.
QString siteHeader(Style style);
bool writeSite(const QString& path, const QVector<const ReadingBuffer*>& buffers,
               const QHash<QString, QString>& portOfLine, const NameOf& nameOf, Style style,
               QString* error = nullptr);
} // namespace csv
