#include "codec/readings.h"

#include <QDateTime>
#include <QSaveFile>
#include <algorithm>
#include <cmath>
#include <functional>
#include <queue>

double Reading::value() const
{
    if (!ok())
        return std::nan("");
    const int scale = sensorTraits(sensorType).scale;
    return scale ? double(measure) / scale : std::nan("");
}

ReadingBuffer::ReadingBuffer(const QString& port, qint32 addr, qint32 baudrate, int capacity)
    : portName(port), address(addr), speed(baudrate), limit(std::max(1, capacity))
{
}

bool ReadingBuffer::append(const Reading& reading)
{
    if (reading.addr != address || reading.baudrate != speed || reading.port != portName)
        return false;
    if (reading.ok() && reading.sensorType != SensorType::Undetermined)
        lastType = reading.sensorType;
    if (size() >= limit)
        samples.pop_front();
    samples.push_back({reading.msecs, reading.measure, reading.adc, quint8(reading.sensorType),
                       quint8(std::clamp(reading.error, 0, 255)), reading.coil, 0});
    return true;
}

bool ReadingBuffer::insert(const Reading& reading)
{
    if (samples.empty() || reading.msecs > samples.back().msecs)
        return append(reading);
    if (reading.addr != address || reading.baudrate != speed || reading.port != portName)
        return false;
    const auto it = std::lower_bound(samples.begin(), samples.end(), reading.msecs,
                                     [](const Sample& s, qint64 t) { return s.msecs < t; });
    if (it != samples.end() && it->msecs == reading.msecs)
        return false;
    // Full, the oldest goes; a reading older than all kept is not worth keeping then.
    if (size() >= limit) {
        if (it == samples.begin())
            return false;
        samples.pop_front();
    }
    const auto at = std::lower_bound(samples.begin(), samples.end(), reading.msecs,
                                     [](const Sample& s, qint64 t) { return s.msecs < t; });
    samples.insert(at, {reading.msecs, reading.measure, reading.adc, quint8(reading.sensorType),
                        quint8(std::clamp(reading.error, 0, 255)), reading.coil, 0});
    return true;
}

Reading ReadingBuffer::at(int i) const
{
    const Sample& s = samples[size_t(i)];
    Reading r;
    r.msecs = s.msecs;
    r.port = portName;
    r.addr = address;
    r.baudrate = speed;
    r.error = s.error;
    r.sensorType = SensorType(s.sensorType);
    r.measure = s.measure;
    r.adc = s.adc;
    r.coil = s.coil;
    return r;
}

int ReadingBuffer::firstAtOrAfter(qint64 msecs) const
{
    const auto it = std::lower_bound(samples.begin(), samples.end(), msecs,
                                     [](const Sample& s, qint64 t) { return s.msecs < t; });
    return int(it - samples.begin());
}

ReadingBuffer& ReadingStore::bufferFor(const Reading& reading, bool* first)
{
    const std::tuple<QString, int, int> key{reading.port, reading.addr, reading.baudrate};
    auto it = buffers.find(key);
    if (first)
        *first = it == buffers.end();
    if (it == buffers.end())
        it =
            buffers.emplace(key, ReadingBuffer(reading.port, reading.addr, reading.baudrate)).first;
    return it->second;
}

bool ReadingStore::add(const Reading& reading, bool* first)
{
    ReadingBuffer& buffer = bufferFor(reading, first);
    if (buffer.size() > 0 && reading.msecs <= buffer.timeAt(buffer.size() - 1))
        return false;
    return buffer.append(reading);
}

bool ReadingStore::insert(const Reading& reading, bool* first)
{
    return bufferFor(reading, first).insert(reading);
}

const ReadingBuffer* ReadingStore::find(const QString& port, int addr, int baudrate) const
{
    const auto it = buffers.find({port, addr, baudrate});
    return it == buffers.end() ? nullptr : &it->second;
}

QVector<const ReadingBuffer*> ReadingStore::all() const
{
    QVector<const ReadingBuffer*> list;
    for (const auto& entry : buffers)
        list.append(&entry.second);
    return list;
}

namespace csv {

QString styleName(Style style)
{
    return style == Style::Semicolon ? QStringLiteral("semicolon") : QStringLiteral("comma");
}

bool parseStyle(const QString& name, Style* style)
{
    if (name == QLatin1String("comma"))
        *style = Style::Comma;
    else if (name == QLatin1String("semicolon"))
        *style = Style::Semicolon;
    else
        return false;
    return true;
}

namespace {

QChar separator(Style style)
{
    return style == Style::Semicolon ? QLatin1Char(';') : QLatin1Char(',');
}

// A field as RFC 4180 has it: quoted, inner quotes doubled, when it would split the row.
QString field(const QString& text, Style style)
{
    if (!text.contains(separator(style)) && !text.contains(QLatin1Char('"')) &&
        !text.contains(QLatin1Char('\n')) && !text.contains(QLatin1Char('\r')))
        return text;
    QString quoted = text;
    quoted.replace(QLatin1Char('"'), QLatin1String("\"\""));
    return QLatin1Char('"') + quoted + QLatin1Char('"');
}

} // namespace

QString header(Style style)
{
    return QStringList{QStringLiteral("time"),  QStringLiteral("port"), QStringLiteral("address"),
                       QStringLiteral("speed"), QStringLiteral("type"), QStringLiteral("name"),
                       QStringLiteral("value"), QStringLiteral("unit"), QStringLiteral("adc"),
                       QStringLiteral("error")}
        .join(separator(style));
}

QString row(const Reading& reading, const QString& name, Style style)
{
    QDateTime time = QDateTime::fromMSecsSinceEpoch(reading.msecs);
    // With its offset the time says which moment it is wherever the file is read.
    time.setOffsetFromUtc(time.offsetFromUtc());
    const SensorTypeTraits& traits = sensorTraits(reading.sensorType);
    QString value;
    if (reading.ok() && traits.scale == 1)
        value = QString::number(reading.measure);
    else if (reading.ok() && traits.scale)
        value = QString::number(reading.value(), 'f', 2);
    if (style == Style::Semicolon)
        value.replace(QLatin1Char('.'), QLatin1Char(','));
    const bool answered = reading.ok();
    return QStringList{time.toString(Qt::ISODateWithMs),
                       field(reading.port, style),
                       QString::number(reading.addr),
                       QString::number(reading.baudrate),
                       answered ? QString::number(int(reading.sensorType)) : QString(),
                       field(name, style),
                       value,
                       answered ? traits.payloadUnit : QString(),
                       answered ? QString::number(reading.adc) : QString(),
                       QString::number(reading.error)}
        .join(separator(style));
}

namespace {

// Every reading of the buffers, merged by time, one row each.
bool writeMerged(const QString& path, const QVector<const ReadingBuffer*>& buffers,
                 const QString& headerLine, const std::function<QString(const Reading&)>& rowOf,
                 QString* error, bool byteOrderMark = false)
{
    QSaveFile file(path);
    if (!file.open(QIODevice::WriteOnly)) {
        if (error)
            *error = file.errorString();
        return false;
    }
    QByteArray chunk = (headerLine + QLatin1Char('\n')).toUtf8();
    if (byteOrderMark)
        chunk.prepend("\xEF\xBB\xBF");

    // Merged by time: the buffer whose next reading is the oldest goes first.
    struct Cursor
    {
        qint64 msecs;
        int buffer;
        int index;
        bool operator>(const Cursor& other) const
        {
            return msecs != other.msecs ? msecs > other.msecs : buffer > other.buffer;
        }
    };
    std::priority_queue<Cursor, std::vector<Cursor>, std::greater<Cursor>> next;
    for (int b = 0; b < buffers.size(); ++b)
        if (buffers[b]->size() > 0)
            next.push({buffers[b]->timeAt(0), b, 0});
    bool written = true;
    while (!next.empty() && written) {
        const Cursor c = next.top();
        next.pop();
        chunk += rowOf(buffers[c.buffer]->at(c.index)).toUtf8();
        chunk += '\n';
        if (c.index + 1 < buffers[c.buffer]->size())
            next.push({buffers[c.buffer]->timeAt(c.index + 1), c.buffer, c.index + 1});
        if (chunk.size() >= 64 * 1024) {
            written = file.write(chunk) == chunk.size();
            chunk.clear();
        }
    }
    if (written)
        written = file.write(chunk) == chunk.size();
    if (!written || !file.commit()) {
        if (error)
            *error = file.errorString();
        return false;
    }
    return true;
}

} // namespace

bool write(const QString& path, const QVector<const ReadingBuffer*>& buffers, const NameOf& nameOf,
           Style style, QString* error)
{
    return writeMerged(
        path, buffers, header(style),
        [&](const Reading& reading) { return row(reading, nameOf(reading), style); }, error);
}

QString siteHeader(Style style)
{
    return header(style) + separator(style) + QStringLiteral("line");
}

bool writeSite(const QString& path, const QVector<const ReadingBuffer*>& buffers,
               const QHash<QString, QString>& portOfLine, const NameOf& nameOf, Style style,
               QString* error)
{
    return writeMerged(
        path, buffers, siteHeader(style),
        [&](const Reading& reading) {
            Reading onPort = reading;
            onPort.port = portOfLine.value(reading.port);
            QString text = row(onPort, nameOf(reading), style);
            // Spreadsheets take a local time without its offset for a date and time; with the
            // offset it stays text.
            if (style == Style::Semicolon)
                text.replace(0, text.indexOf(separator(style)),
                             QDateTime::fromMSecsSinceEpoch(reading.msecs)
                                 .toString(QStringLiteral("yyyy-MM-dd hh:mm:ss.zzz")));
            return text + separator(style) + field(reading.port, style);
        },
        error, style == Style::Semicolon);
}

} // namespace csv
