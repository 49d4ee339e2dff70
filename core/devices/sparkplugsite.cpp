#include "core/devices/sparkplugsite.h"
#include "codec/blocks.h"
#include "codec/rtu.h"
#include "codec/sensortype.h"
#include "codec/sitepayloads.h"
#include "codec/sparkplug.h"
#include "core/devices/sitemonitor.h"
#include "core/devices/sparkplugnode.h"

#include <QDateTime>
#include <QTimer>
#include <algorithm>
#include <cmath>

using namespace sparkplug;

namespace {

constexpr qint64 minuteMs = 60000;
// Later than any clock of a plant: a time beyond is none.
constexpr quint64 latestMs = 253402300799999ULL; // 9999-12-31

const QString seqAgain = QStringLiteral("ждём новое рождение узла");

qint64 now()
{
    return QDateTime::currentMSecsSinceEpoch();
}

// A metric's number, whichever numeric datatype it came in; none for the others.
std::optional<double> numberOf(const QVariant& value)
{
    switch (value.userType()) {
    case QMetaType::LongLong:
    case QMetaType::ULongLong:
    case QMetaType::Int:
    case QMetaType::UInt:
    case QMetaType::Float:
    case QMetaType::Double: {
        const double v = value.toDouble();
        if (std::isfinite(v))
            return v;
        return std::nullopt;
    }
    default:
        return std::nullopt;
    }
}

// A whole number from 0 to max, as another vendor may send it in any numeric type.
std::optional<quint64> wholeOf(const QVariant& value, double max)
{
    const std::optional<double> v = numberOf(value);
    if (!v || *v < 0 || *v > max || std::floor(*v) != *v)
        return std::nullopt;
    return quint64(*v);
}

std::optional<QString> textOf(const QVariant& value)
{
    if (value.userType() != QMetaType::QString)
        return std::nullopt;
    return value.toString();
}

// The sensor type that a Type metric's word or a Measure's unit names; 0 for none known.
SensorType typeOfWord(const QString& word)
{
    const QString w = word.trimmed();
    if (w.compare(QLatin1String("temperature"), Qt::CaseInsensitive) == 0)
        return SensorType::Temperature;
    if (w.compare(QLatin1String("voltage"), Qt::CaseInsensitive) == 0)
        return SensorType::Voltage;
    return SensorType::Undetermined;
}

SensorType typeOfUnit(const QString& unit)
{
    const QString u = unit.trimmed();
    if (u == QLatin1String("V") || u == QStringLiteral("В"))
        return SensorType::Voltage;
    if (u == QStringLiteral("°C") || u == QStringLiteral("°С") || u == QLatin1String("degC") ||
        u == QLatin1String("C"))
        return SensorType::Temperature;
    return SensorType::Undetermined;
}

// Which of our columns a metric's name is: SparkplugNode's names, in any case.
int columnOf(const QString& name)
{
    for (int m = SparkplugNode::Measure; m <= SparkplugNode::Address; ++m)
        if (name.compare(SparkplugNode::metricName(m), Qt::CaseInsensitive) == 0)
            return m == SparkplugNode::Setpoint ? 0 : m;
    return 0;
}

const Metric* named(const Payload& payload, const QString& name)
{
    for (const Metric& m : payload.metrics)
        if (m.name == name)
            return &m;
    return nullptr;
}

// bdSeq as a birth or a death carries it.
std::optional<qint64> bdSeqOf(const Payload& payload)
{
    const Metric* m = named(payload, QStringLiteral("bdSeq"));
    if (!m)
        return std::nullopt;
    const std::optional<quint64> n = wholeOf(m->value, 9007199254740992.0);
    return n ? std::optional<qint64>(qint64(*n)) : std::nullopt;
}

} // namespace

SparkplugSite::SparkplugSite(SiteMonitor& monitor) : monitor(monitor) {}

bool SparkplugSite::covers(const QString& topic)
{
    return topic.startsWith(QLatin1String(namespaceLevel)) &&
           topic.midRef(int(sizeof(namespaceLevel)) - 1).startsWith(QLatin1Char('/'));
}

bool SparkplugSite::isNodeLine(const QString& line)
{
    return covers(line);
}

QString SparkplugSite::lineName(const QString& group, const QString& node)
{
    return QStringLiteral("%1/%2/%3").arg(QLatin1String(namespaceLevel), group, node);
}

void SparkplugSite::take(const QString& topic, const QByteArray& bytes, bool retained)
{
    Topic parsed;
    // The hosts' STATE and whatever else is not a node's is no line; commands are the hosts'
    // words to a node, not the node's state. A node never retains: a retained copy is no
    // session's.
    if (!parseTopic(topic, &parsed) || parsed.type == QLatin1String("NCMD") ||
        parsed.type == QLatin1String("DCMD") || retained)
        return;
    if (bytes.size() > maxPayload) {
        monitor.oversized(topic, bytes.size());
        return;
    }
    Payload payload;
    QString why;
    if (!decode(bytes, &payload, &why)) {
        refuse(topic, why);
        return;
    }
    if (payload.metrics.size() > maxMetrics) {
        refuse(topic,
               QStringLiteral("метрик %1, больше %2").arg(payload.metrics.size()).arg(maxMetrics));
        return;
    }
    const bool death = parsed.type == QLatin1String("NDEATH");
    if (!death && (!payload.seq || *payload.seq > 255)) {
        refuse(topic, QStringLiteral("нет seq от 0 до 255"));
        return;
    }
    const bool birth = parsed.type == QLatin1String("NBIRTH");
    if ((birth || death) && !bdSeqOf(payload)) {
        refuse(topic, QStringLiteral("нет bdSeq"));
        return;
    }
    const QString name = lineName(parsed.group, parsed.node);
    // A hidden line comes back when its node is born again or sends data.
    if (monitor.hidden.contains(name)) {
        if (!birth && parsed.type != QLatin1String("DDATA"))
            return;
        monitor.hidden.remove(name);
    }
    const bool existed = monitor.known.contains(name);
    SiteLine* line = monitor.lineFor(name);
    if (!line)
        return;
    // A line the view had forgotten (another broker, hidden): what was known of its node is
    // another session's.
    if (!existed)
        nodes.remove(name);
    Node* node = nodeFor(*line);
    if (birth) {
        nodeBirth(*line, *node, payload);
        return;
    }
    if (death) {
        nodeDeath(*line, *node, payload);
        return;
    }
    checkSeq(*line, *node, *payload.seq);
    if (parsed.type == QLatin1String("NDATA")) {
        for (const Metric& m : payload.metrics) {
            const bool port = m.name == QLatin1String("Port") ||
                              (m.name.isEmpty() && m.alias && m.alias == node->portAlias);
            if (port)
                setPort(*line, m.value);
        }
    } else if (parsed.type == QLatin1String("DBIRTH")) {
        deviceBirth(*line, *node, parsed.device, payload);
    } else if (parsed.type == QLatin1String("DDATA")) {
        deviceData(*line, *node, parsed.device, payload);
    } else if (parsed.type == QLatin1String("DDEATH")) {
        deviceDeath(*line, *node, parsed.device, payload);
    }
}

SparkplugSite::Column SparkplugSite::Device::columnOfAlias(quint64 alias) const
{
    for (Column c = SparkplugNode::Measure; c <= SparkplugNode::Address; ++c)
        if (aliasOf[c] == alias)
            return c;
    return 0;
}

SparkplugSite::Node* SparkplugSite::nodeFor(SiteLine& line)
{
    auto it = nodes.find(line.name);
    if (it != nodes.end())
        return &it.value();
    // Lines leave the view; their nodes leave with them, so that the nodes stay as bounded.
    if (nodes.size() >= SiteMonitor::maxLines) {
        for (auto n = nodes.begin(); n != nodes.end();)
            n = monitor.known.contains(n.key()) ? std::next(n) : nodes.erase(n);
    }
    return &nodes.insert(line.name, Node()).value();
}

void SparkplugSite::nodeBirth(SiteLine& line, Node& node, const Payload& payload)
{
    node.bdSeq = bdSeqOf(payload);
    node.born = true;
    node.nextSeq = int((*payload.seq + 1) % 256);
    node.portAlias.reset();
    // Every device is born anew in this session, with aliases of its own.
    for (Device& device : node.devices) {
        device.born = false;
        std::fill(std::begin(device.aliasOf), std::end(device.aliasOf), std::nullopt);
    }
    line.status = SiteLine::Status::Online;
    line.reason.clear();
    line.doubt.clear();
    line.lastArrived = now();
    if (const Metric* port = named(payload, QStringLiteral("Port"))) {
        node.portAlias = port->alias;
        setPort(line, port->value);
    }
}

void SparkplugSite::setPort(SiteLine& line, const QVariant& value)
{
    if (!textOf(value))
        return;
    line.port = broker::shownText(value.toString(), SiteMonitor::maxTextChars);
    // Kept for the export after the line left; bounded as the lines are.
    if (monitor.portOfLine.size() < 4 * SiteMonitor::maxLines ||
        monitor.portOfLine.contains(line.name))
        monitor.portOfLine.insert(line.name, line.port);
}

void SparkplugSite::nodeDeath(SiteLine& line, Node& node, const Payload& payload)
{
    // The will of an earlier session may come after the next one was born.
    if (node.bdSeq && *node.bdSeq != *bdSeqOf(payload))
        return;
    node.born = false;
    node.nextSeq = -1;
    for (Device& device : node.devices)
        device.born = false;
    line.status = SiteLine::Status::Offline;
    line.reason.clear();
}

void SparkplugSite::checkSeq(SiteLine& line, Node& node, quint64 seq)
{
    if (!node.born)
        doubt(line, QStringLiteral("данные до рождения узла, %1").arg(seqAgain));
    else if (int(seq) != node.nextSeq)
        doubt(line, QStringLiteral("пропуск в seq: %1 вместо %2, %3")
                        .arg(seq)
                        .arg(node.nextSeq)
                        .arg(seqAgain));
    node.nextSeq = int((seq + 1) % 256);
}

void SparkplugSite::doubt(SiteLine& line, const QString& why)
{
    // The first reason stands until the birth that clears it.
    if (line.doubt.isEmpty())
        line.doubt = why;
}

void SparkplugSite::deviceBirth(SiteLine& line, Node& node, const QString& id,
                                const Payload& payload)
{
    if (id.size() > maxDeviceId) {
        refuse(line.name + QLatin1Char('/') + id,
               QStringLiteral("DBIRTH: id устройства длиннее %1 знаков").arg(maxDeviceId));
        return;
    }
    auto found = node.devices.find(id);
    if (found == node.devices.end() && node.devices.size() >= maxDevices) {
        refuse(line.name + QLatin1Char('/') + id,
               QStringLiteral("DBIRTH: у узла уже %1 устройств").arg(maxDevices));
        return;
    }
    // velduo's own devices are sensors by their address and speed; any other gets a number of
    // its own in the address column, with no speed.
    std::optional<quint64> addr;
    std::optional<quint64> speed;
    bool hasName = false;
    QVector<std::pair<Column, const Metric*>> metrics;
    for (const Metric& m : payload.metrics) {
        const Column column = columnOf(m.name);
        if (!column)
            continue;
        if (column == SparkplugNode::Address)
            addr = wholeOf(m.value, modbusAddressMax);
        else if (column == SparkplugNode::Speed)
            speed = wholeOf(m.value, 4000000);
        hasName = hasName || column == SparkplugNode::Name;
        metrics.append({column, &m});
    }
    const bool knownSpeed = speed && std::find(std::begin(listedSpeeds), std::end(listedSpeeds),
                                               int(*speed)) != std::end(listedSpeeds);
    int key[2] = {0, 0};
    if (addr && *addr >= 1 && knownSpeed) {
        key[0] = int(*addr);
        key[1] = int(*speed);
    } else {
        int number = node.numberOf.value(id);
        if (!number) {
            if (node.numberOf.size() >= maxDevices)
                return;
            number = node.numberOf.size() + 1;
            node.numberOf.insert(id, number);
        }
        key[0] = number;
    }
    SensorState* sensor = monitor.sensorOf(line, key[0], key[1]);
    if (!sensor)
        return;
    Device& device = found != node.devices.end() ? found.value() : node.devices[id];
    device.addr = key[0];
    device.baudrate = key[1];
    device.born = true;
    for (const auto& [column, m] : metrics)
        device.aliasOf[column] = m->alias;
    if (!hasName)
        sensor->name = broker::shownText(id, SiteMonitor::maxTextChars);
    line.lastArrived = now();
    apply(line, device, metrics, payload.timestamp ? qint64(*payload.timestamp) : now());
}

void SparkplugSite::deviceData(SiteLine& line, Node& node, const QString& id,
                               const Payload& payload)
{
    const auto found = node.devices.constFind(id);
    if (found == node.devices.constEnd() || !found->born) {
        doubt(line, QStringLiteral("данные устройства «%1» до его рождения, %2")
                        .arg(broker::shownText(id, SiteMonitor::maxTextChars), seqAgain));
        return;
    }
    QVector<std::pair<Column, const Metric*>> metrics;
    for (const Metric& m : payload.metrics) {
        Column column = 0;
        if (m.alias) {
            column = found->columnOfAlias(*m.alias);
            if (!column && m.name.isEmpty()) {
                doubt(line, QStringLiteral("неизвестный псевдоним %1 устройства «%2», %3")
                                .arg(*m.alias)
                                .arg(broker::shownText(id, SiteMonitor::maxTextChars), seqAgain));
                continue;
            }
        }
        if (!column)
            column = columnOf(m.name);
        if (column)
            metrics.append({column, &m});
    }
    line.lastArrived = now();
    apply(line, *found, metrics, payload.timestamp ? qint64(*payload.timestamp) : now());
}

void SparkplugSite::deviceDeath(SiteLine& line, Node& node, const QString& id,
                                const Payload& payload)
{
    auto found = node.devices.find(id);
    if (found == node.devices.end() || !found->born)
        return;
    found->born = false;
    SensorState* sensor = monitor.sensorOf(line, found->addr, found->baudrate);
    if (!sensor)
        return;
    Reading reading;
    reading.msecs =
        payload.timestamp && *payload.timestamp <= latestMs ? qint64(*payload.timestamp) : now();
    reading.port = line.name;
    reading.addr = found->addr;
    reading.baudrate = found->baudrate;
    reading.error = rtu::NoAnswer;
    sensor->take(reading, QStringLiteral("Нет связи (DDEATH)"));
    bool first = false;
    if (monitor.store.insert(reading, &first) && first)
        emit monitor.firstReading(line.name, reading.addr, reading.baudrate);
}

void SparkplugSite::apply(SiteLine& line, const Device& device,
                          const QVector<std::pair<Column, const Metric*>>& metrics,
                          qint64 payloadMs)
{
    SensorState* sensor = monitor.sensorOf(line, device.addr, device.baudrate);
    if (!sensor || metrics.isEmpty())
        return;
    if (payloadMs < 0 || quint64(payloadMs) > latestMs)
        payloadMs = now();
    const auto timeOf = [payloadMs](const Metric& m) {
        return m.timestamp && *m.timestamp <= latestMs ? qint64(*m.timestamp) : payloadMs;
    };
    // Metrics of one time are one reading; a payload may bring several, historical ones too.
    for (int from = 0; from < metrics.size();) {
        const qint64 at = timeOf(*metrics[from].second);
        int to = from;
        while (to < metrics.size() && timeOf(*metrics[to].second) == at)
            ++to;
        SensorType type = sensor->type;
        std::optional<double> measure;
        std::optional<quint64> adc;
        std::optional<quint64> coil;
        std::optional<quint64> workTime;
        std::optional<QString> version;
        std::optional<QString> name;
        for (int i = from; i < to; ++i) {
            const Metric& m = *metrics[i].second;
            switch (metrics[i].first) {
            case SparkplugNode::Type:
                if (const auto word = textOf(m.value);
                    word && typeOfWord(*word) != SensorType::Undetermined)
                    type = typeOfWord(*word);
                break;
            case SparkplugNode::Measure:
                measure = numberOf(m.value);
                for (const Property& p : m.properties)
                    if (p.key == QLatin1String("engUnit") && textOf(p.value) &&
                        typeOfUnit(p.value.toString()) != SensorType::Undetermined)
                        type = typeOfUnit(p.value.toString());
                break;
            case SparkplugNode::Adc:
                adc = wholeOf(m.value, 0xFFFF);
                break;
            case SparkplugNode::Coil:
                coil = wholeOf(m.value, 0xFF);
                break;
            case SparkplugNode::WorkTime:
                workTime = wholeOf(m.value, 0xFFFFFFFFu);
                break;
            case SparkplugNode::Version:
                version = textOf(m.value);
                break;
            case SparkplugNode::Name:
                name = textOf(m.value);
                break;
            default:
                break;
            }
        }
        from = to;
        // The value in the sensor's own word: hundredths of a degree, whole volts. One that the
        // word cannot hold is left out.
        std::optional<qint16> word;
        const int scale = sensorTraits(type).scale;
        if (measure && scale) {
            const double scaled = std::round(*measure * scale);
            if (scaled >= -32768 && scaled <= 32767)
                word = qint16(scaled);
        }
        if (name && !name->isEmpty())
            sensor->name = broker::shownText(*name, SiteMonitor::maxTextChars);
        if (version)
            sensor->version = broker::shownText(*version, SiteMonitor::maxTextChars);
        if (workTime && at >= sensor->lastAt)
            sensor->workTime = quint32(*workTime);
        // A value is shown once the sensor's type is known: without it, no column can say
        // what the number is.
        if (!scale || !(word || adc || coil))
            continue;
        Reading reading;
        reading.msecs = at;
        reading.port = line.name;
        reading.addr = device.addr;
        reading.baudrate = device.baudrate;
        reading.sensorType = type;
        reading.measure = word ? *word : sensor->measure;
        reading.adc = adc ? quint16(*adc) : sensor->adc;
        reading.coil = coil ? quint8(*coil) : sensor->coil;
        if (sensor->take(reading)) {
            qint64& readingAt = line.readingAt[{device.addr, device.baudrate}];
            readingAt = std::max(readingAt, at);
        }
        // A reading's own time stands for itself, never ahead of this clock.
        line.lastPublished = std::max(line.lastPublished, std::min(at, now()));
        bool first = false;
        if (monitor.store.insert(reading, &first) && first)
            emit monitor.firstReading(line.name, reading.addr, reading.baudrate);
    }
}

void SparkplugSite::refuse(const QString& topic, const QString& why)
{
    ++refusedSince;
    lastRefused = QStringLiteral("«%1»: %2")
                      .arg(broker::shownText(topic, SiteMonitor::maxTextChars),
                           broker::shownText(why, SiteMonitor::maxTextChars));
    const qint64 since = now() - refusedToldAt;
    if (since >= minuteMs) {
        tellRefused();
    } else if (!tellPending) {
        // Those refused within the minute are told together once it is over.
        tellPending = true;
        QTimer::singleShot(int(minuteMs - since), &monitor, [this] {
            tellPending = false;
            tellRefused();
        });
    }
}

void SparkplugSite::tellRefused()
{
    if (refusedSince == 0)
        return;
    emit monitor.journal(QString(), QStringLiteral("сообщений Sparkplug не принято: %1 "
                                                   "(последнее — %2)")
                                        .arg(refusedSince)
                                        .arg(lastRefused));
    refusedToldAt = now();
    refusedSince = 0;
}
