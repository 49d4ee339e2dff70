#include "codec/sparkplug.h"
#include "codec/sparkplug.pb.h"

#include <QJsonDocument>
#include <QJsonObject>
#include <QStringList>
#include <cmath>
#include <limits>

namespace sparkplug {

namespace {

using Proto = velsparkplug::Payload;

bool isSigned(quint32 type)
{
    return type == Int8 || type == Int16 || type == Int32 || type == Int64;
}

bool isUnsigned(quint32 type)
{
    return type == UInt8 || type == UInt16 || type == UInt32 || type == UInt64 || type == DateTime;
}

bool isText(quint32 type)
{
    return type == String || type == Text || type == Uuid;
}

// The range an integer datatype holds.
bool fits(quint32 type, qint64 v)
{
    switch (type) {
    case Int8:
        return v >= -128 && v <= 127;
    case Int16:
        return v >= -32768 && v <= 32767;
    case Int32:
        return v >= std::numeric_limits<qint32>::min() && v <= std::numeric_limits<qint32>::max();
    default:
        return true;
    }
}

bool fitsUnsigned(quint32 type, quint64 v)
{
    switch (type) {
    case UInt8:
        return v <= 0xFF;
    case UInt16:
        return v <= 0xFFFF;
    case UInt32:
        return v <= 0xFFFFFFFFu;
    default:
        return true;
    }
}

// Small integers ride in the 32-bit field, the signed ones as their two's complement. UInt32
// goes in the 64-bit one, as Eclipse Tahu's libraries write it; either is read.
bool inIntField(quint32 type)
{
    return type == Int8 || type == Int16 || type == Int32 || type == UInt8 || type == UInt16;
}

// Writes a value into a message that has the oneof of a metric or a property: both have the
// same setters for the fields used here.
template <typename Message> void setValue(Message* message, quint32 type, const QVariant& value)
{
    if (type == Unknown) {
        // Untyped, as decode() reads it: by the field its value came in.
        switch (value.userType()) {
        case QMetaType::ULongLong:
            message->set_long_value(value.toULongLong());
            return;
        case QMetaType::Float:
            message->set_float_value(value.toFloat());
            return;
        case QMetaType::Double:
            message->set_double_value(value.toDouble());
            return;
        case QMetaType::Bool:
            message->set_boolean_value(value.toBool());
            return;
        case QMetaType::QString:
            message->set_string_value(value.toString().toStdString());
            return;
        default:
            return;
        }
    }
    const QVariant v = valueAs(type, value);
    if (v.isNull())
        return;
    if (isSigned(type)) {
        const qint64 n = v.toLongLong();
        if (type == Int64)
            message->set_long_value(quint64(n));
        else
            message->set_int_value(quint32(qint32(n)));
    } else if (isUnsigned(type)) {
        const quint64 n = v.toULongLong();
        if (inIntField(type))
            message->set_int_value(quint32(n));
        else
            message->set_long_value(n);
    } else if (type == Float) {
        message->set_float_value(v.toFloat());
    } else if (type == Double) {
        message->set_double_value(v.toDouble());
    } else if (type == Boolean) {
        message->set_boolean_value(v.toBool());
    } else if (isText(type)) {
        message->set_string_value(v.toString().toStdString());
    }
}

// The value a message carries, read by its declared type (Unknown: by the field that is set);
// false when the field set does not fit that type.
template <typename Message> bool readValue(const Message& message, quint32 type, QVariant* value)
{
    const bool isInt = message.value_case() == Message::kIntValue;
    const bool isLong = message.value_case() == Message::kLongValue;
    if (type == Unknown) {
        // Without a type the value is taken as the field gives it.
        if (isInt)
            *value = quint64(message.int_value());
        else if (isLong)
            *value = quint64(message.long_value());
        else if (message.value_case() == Message::kFloatValue)
            *value = message.float_value();
        else if (message.value_case() == Message::kDoubleValue)
            *value = message.double_value();
        else if (message.value_case() == Message::kBooleanValue)
            *value = message.boolean_value();
        else if (message.value_case() == Message::kStringValue)
            *value = QString::fromStdString(message.string_value());
        return true;
    }
    if (isSigned(type) || isUnsigned(type)) {
        if (type == UInt32 ? !isInt && !isLong : inIntField(type) ? !isInt : !isLong)
            return false;
        if (type == Int64) {
            *value = qint64(message.long_value());
        } else if (isSigned(type)) {
            const qint64 n = qint32(message.int_value());
            if (!fits(type, n))
                return false;
            *value = n;
        } else {
            const quint64 n = isInt ? quint64(message.int_value()) : message.long_value();
            if (!fitsUnsigned(type, n))
                return false;
            *value = n;
        }
        return true;
    }
    switch (type) {
    case Float:
        if (message.value_case() != Message::kFloatValue)
            return false;
        *value = message.float_value();
        return true;
    case Double:
        if (message.value_case() != Message::kDoubleValue)
            return false;
        *value = message.double_value();
        return true;
    case Boolean:
        if (message.value_case() != Message::kBooleanValue)
            return false;
        *value = message.boolean_value();
        return true;
    default:
        break;
    }
    if (isText(type)) {
        if (message.value_case() != Message::kStringValue)
            return false;
        *value = QString::fromStdString(message.string_value());
        return true;
    }
    // Bytes and files come in their own field; data sets and templates in fields skipped here.
    return false;
}

bool readBytes(const Proto::Metric& message, quint32 type, QVariant* value)
{
    if (type != Unknown && type != Bytes && type != File)
        return false;
    const std::string& bytes = message.bytes_value();
    *value = QByteArray(bytes.data(), int(bytes.size()));
    return true;
}

} // namespace

QVariant valueAs(quint32 datatype, const QVariant& value)
{
    if (value.isNull())
        return QVariant();
    bool ok = false;
    if (isSigned(datatype)) {
        const qint64 n = value.toLongLong(&ok);
        return ok && fits(datatype, n) ? QVariant(n) : QVariant();
    }
    if (isUnsigned(datatype)) {
        const quint64 n = value.toULongLong(&ok);
        return ok && fitsUnsigned(datatype, n) ? QVariant(n) : QVariant();
    }
    switch (datatype) {
    case Float: {
        const float f = value.toFloat(&ok);
        return ok ? QVariant(f) : QVariant();
    }
    case Double: {
        const double d = value.toDouble(&ok);
        return ok ? QVariant(d) : QVariant();
    }
    case Boolean:
        return QVariant(value.toBool());
    case Bytes:
    case File:
        return QVariant(value.toByteArray());
    default:
        break;
    }
    if (isText(datatype))
        return QVariant(value.toString());
    return QVariant();
}

Metric metric(const QString& name, quint64 alias, quint32 datatype, const QVariant& value)
{
    Metric m;
    m.name = name;
    m.alias = alias;
    m.datatype = datatype;
    m.value = valueAs(datatype, value);
    return m;
}

QByteArray encode(const Payload& payload)
{
    Proto message;
    if (payload.timestamp)
        message.set_timestamp(*payload.timestamp);
    if (payload.seq)
        message.set_seq(*payload.seq);
    for (const Metric& m : payload.metrics) {
        Proto::Metric* out = message.add_metrics();
        if (!m.name.isEmpty())
            out->set_name(m.name.toStdString());
        if (m.alias)
            out->set_alias(*m.alias);
        if (m.timestamp)
            out->set_timestamp(*m.timestamp);
        if (m.datatype != Unknown)
            out->set_datatype(m.datatype);
        if (m.historical)
            out->set_is_historical(true);
        if (m.transient)
            out->set_is_transient(true);
        if (m.value.isNull()) {
            out->set_is_null(true);
        } else if (m.datatype == Bytes || m.datatype == File ||
                   (m.datatype == Unknown && m.value.userType() == QMetaType::QByteArray)) {
            const QByteArray value = m.value.toByteArray();
            out->set_bytes_value(value.constData(), size_t(value.size()));
        } else {
            setValue(out, m.datatype, m.value);
        }
        if (!m.properties.isEmpty()) {
            Proto::PropertySet* set = out->mutable_properties();
            for (const Property& p : m.properties) {
                set->add_keys(p.key.toStdString());
                Proto::PropertyValue* v = set->add_values();
                v->set_type(p.type);
                if (p.value.isNull())
                    v->set_is_null(true);
                else
                    setValue(v, p.type, p.value);
            }
        }
    }
    const std::string bytes = message.SerializeAsString();
    return QByteArray(bytes.data(), int(bytes.size()));
}

bool decode(const QByteArray& bytes, Payload* payload, QString* why)
{
    Proto message;
    if (!message.ParseFromArray(bytes.constData(), bytes.size())) {
        *why = QStringLiteral("данные Sparkplug B не разбираются");
        return false;
    }
    Payload out;
    if (message.has_timestamp())
        out.timestamp = message.timestamp();
    if (message.has_seq())
        out.seq = message.seq();
    for (int i = 0; i < message.metrics_size(); ++i) {
        const Proto::Metric& in = message.metrics(i);
        Metric m;
        m.name = QString::fromStdString(in.name());
        if (in.has_alias())
            m.alias = in.alias();
        if (in.has_timestamp())
            m.timestamp = in.timestamp();
        m.datatype = in.datatype();
        m.historical = in.is_historical();
        m.transient = in.is_transient();
        const QString who = m.name.isEmpty() ? QStringLiteral("#%1").arg(in.alias()) : m.name;
        if (m.datatype > PropertySetList) {
            *why = QStringLiteral("метрика %1: неизвестный тип %2").arg(who).arg(m.datatype);
            return false;
        }
        if (!in.is_null() && in.value_case() != Proto::Metric::VALUE_NOT_SET) {
            if (in.value_case() == Proto::Metric::kBytesValue
                    ? !readBytes(in, m.datatype, &m.value)
                    : !readValue(in, m.datatype, &m.value)) {
                *why = QStringLiteral("метрика %1: значение не того типа (%2)")
                           .arg(who)
                           .arg(m.datatype);
                return false;
            }
        }
        if (in.has_properties()) {
            const Proto::PropertySet& set = in.properties();
            if (set.keys_size() != set.values_size()) {
                *why = QStringLiteral("метрика %1: у свойств %2 имён и %3 значений")
                           .arg(who)
                           .arg(set.keys_size())
                           .arg(set.values_size());
                return false;
            }
            for (int k = 0; k < set.keys_size(); ++k) {
                const Proto::PropertyValue& pv = set.values(k);
                Property p;
                p.key = QString::fromStdString(set.keys(k));
                p.type = pv.type();
                if (p.type > PropertySetList ||
                    (!pv.is_null() && pv.value_case() != Proto::PropertyValue::VALUE_NOT_SET &&
                     !readValue(pv, p.type, &p.value))) {
                    *why = QStringLiteral("метрика %1: свойство %2 не того типа (%3)")
                               .arg(who, p.key)
                               .arg(p.type);
                    return false;
                }
                m.properties.append(p);
            }
        }
        out.metrics.append(m);
    }
    *payload = out;
    return true;
}

QString nodeTopic(const QString& group, const QString& type, const QString& node)
{
    return QStringLiteral("%1/%2/%3/%4").arg(QLatin1String(namespaceLevel), group, type, node);
}

QString deviceTopic(const QString& group, const QString& type, const QString& node,
                    const QString& device)
{
    return nodeTopic(group, type, node) + QLatin1Char('/') + device;
}

QString stateTopic(const QString& hostId)
{
    return QStringLiteral("%1/STATE/%2").arg(QLatin1String(namespaceLevel), hostId);
}

bool parseTopic(const QString& topic, Topic* parsed)
{
    static const QStringList nodeTypes{QStringLiteral("NBIRTH"), QStringLiteral("NDEATH"),
                                       QStringLiteral("NDATA"), QStringLiteral("NCMD")};
    static const QStringList deviceTypes{QStringLiteral("DBIRTH"), QStringLiteral("DDEATH"),
                                         QStringLiteral("DDATA"), QStringLiteral("DCMD")};
    const QStringList levels = topic.split(QLatin1Char('/'));
    if (levels.size() < 4 || levels.size() > 5 || levels[0] != QLatin1String(namespaceLevel))
        return false;
    for (const QString& level : levels) {
        QString why;
        if (!checkId(level, &why))
            return false;
    }
    const bool device = levels.size() == 5;
    if (!(device ? deviceTypes : nodeTypes).contains(levels[2]))
        return false;
    parsed->group = levels[1];
    parsed->type = levels[2];
    parsed->node = levels[3];
    parsed->device = device ? levels[4] : QString();
    return true;
}

bool checkId(const QString& id, QString* why)
{
    if (id.isEmpty()) {
        *why = QStringLiteral("пустое имя Sparkplug");
        return false;
    }
    for (const QChar c : id) {
        if (c == QLatin1Char('/') || c == QLatin1Char('+') || c == QLatin1Char('#') ||
            c.unicode() == 0) {
            *why = QStringLiteral("имя Sparkplug «%1» содержит «%2»").arg(id, c);
            return false;
        }
    }
    return true;
}

QString validId(const QString& text)
{
    QString id = text;
    for (QChar& c : id) {
        if (c == QLatin1Char('/') || c == QLatin1Char('+') || c == QLatin1Char('#') ||
            c.unicode() == 0 || c.isSpace())
            c = QLatin1Char('_');
    }
    return id.isEmpty() ? QStringLiteral("node") : id;
}

QString defaultNodeId(const QString& hostName, const QString& portName)
{
    const QString base = portName.section(QLatin1Char('/'), -1);
    return validId(hostName.isEmpty() ? base : hostName + QLatin1Char('-') + base);
}

QString deviceId(int address)
{
    return QStringLiteral("s%1").arg(address, 2, 10, QLatin1Char('0'));
}

QByteArray hostStatePayload(const HostState& state)
{
    return QJsonDocument(QJsonObject{{QStringLiteral("online"), state.online},
                                     {QStringLiteral("timestamp"), state.timestamp}})
        .toJson(QJsonDocument::Compact);
}

bool parseHostState(const QByteArray& bytes, HostState* state, QString* why)
{
    QJsonParseError error{};
    const QJsonDocument document = QJsonDocument::fromJson(bytes, &error);
    if (!document.isObject()) {
        *why = QStringLiteral("состояние хоста Sparkplug не JSON-объект");
        return false;
    }
    const QJsonObject object = document.object();
    const QJsonValue online = object.value(QStringLiteral("online"));
    const QJsonValue timestamp = object.value(QStringLiteral("timestamp"));
    // Milliseconds since the epoch are whole and fit a double exactly up to 2^53.
    const double t = timestamp.toDouble(-1);
    if (!online.isBool() || !timestamp.isDouble() || t < 0 || t > 9007199254740992.0 ||
        std::floor(t) != t) {
        *why = QStringLiteral("в состоянии хоста Sparkplug нет online и timestamp");
        return false;
    }
    state->online = online.toBool();
    state->timestamp = qint64(t);
    return true;
}

QByteArray nodeStatePayload(quint64 bdSeq)
{
    return QJsonDocument(QJsonObject{{QStringLiteral("bdSeq"), qint64(bdSeq % 256)}})
               .toJson(QJsonDocument::Compact) +
           '\n';
}

int parseNodeState(const QByteArray& bytes)
{
    const QJsonValue value = QJsonDocument::fromJson(bytes).object().value(QStringLiteral("bdSeq"));
    const double n = value.toDouble(-1);
    return value.isDouble() && n >= 0 && n <= 255 && std::floor(n) == n ? int(n) : -1;
}

} // namespace sparkplug
