#include "codec/sitepayloads.h"
#include "codec/blocks.h"
#include "codec/errortext.h"
#include "codec/sensortype.h"

#include <QDateTime>
#include <QJsonDocument>
#include <QJsonObject>
#include <QVector>
#include <algorithm>
#include <cmath>
#include <iterator>

namespace broker {

namespace {

QString utcText(qint64 msecs)
{
    return QDateTime::fromMSecsSinceEpoch(msecs, Qt::UTC).toString(Qt::ISODateWithMs);
}

// The values of an answer, shared by the reading and the state.
void insertValues(QJsonObject& object, SensorType type, double value, quint16 adc, quint8 coil)
{
    object.insert(QStringLiteral("type"), int(type));
    object.insert(QStringLiteral("measure"),
                  std::isnan(value) ? QJsonValue(QJsonValue::Null) : QJsonValue(value));
    object.insert(QStringLiteral("unit"), unitOf(type));
    object.insert(QStringLiteral("adc"), adc);
    object.insert(QStringLiteral("coil"), coil);
}

// What a poll says, shared by both payloads: the values of an answer, or a failure's text.
QJsonObject pollObject(int addr, int baudrate, qint64 msecs, int error, const QString& failure)
{
    QJsonObject object{{QStringLiteral("v"), payloadVersion},
                       {QStringLiteral("address"), addr},
                       {QStringLiteral("speed"), baudrate},
                       {QStringLiteral("readAt"), utcText(msecs)},
                       {QStringLiteral("error"), error}};
    if (error != 0)
        object.insert(QStringLiteral("text"), failure.isEmpty() ? errorTextFor(error) : failure);
    return object;
}

// A whole number within [low, high]; JSON gives every number as a double.
bool wholeIn(const QJsonValue& value, double low, double high, double* out)
{
    if (!value.isDouble())
        return false;
    const double number = value.toDouble();
    if (!(number >= low && number <= high) || std::floor(number) != number)
        return false;
    *out = number;
    return true;
}

// Both payloads are one object of plain values. Anything nested is refused before Qt's parser
// sees it: Qt 5.15 loses the memory of an object or array under a key that repeats, and a
// view runs for days on what anyone who may publish sends it.
bool flatObject(const QByteArray& payload)
{
    int opened = 0;
    bool inString = false;
    for (int i = 0; i < payload.size(); ++i) {
        const char c = payload.at(i);
        if (inString) {
            if (c == '\\')
                ++i;
            else if (c == '"')
                inString = false;
        } else if (c == '"') {
            inString = true;
        } else if (c == '[' || (c == '{' && ++opened > 1)) {
            return false;
        }
    }
    return true;
}

// The values of an answer, as insertValues() writes them; false with the key at fault.
bool parseValues(const QJsonObject& object, Reading* reading, const char** bad)
{
    double number = 0;
    if (!wholeIn(object.value(QLatin1String("type")), 0, 65535, &number)) {
        *bad = "type";
        return false;
    }
    // A word that names no type is undetermined, as the sensor's own would be.
    reading->sensorType = sensorTypeOf(quint16(number));
    const QJsonValue measure = object.value(QLatin1String("measure"));
    // Stored as the parameters block gives it: volts, or hundredths of a degree.
    const int typeScale = sensorTraits(reading->sensorType).scale;
    const double scale = typeScale ? typeScale : 1.0;
    *bad = "measure";
    if (typeScale) {
        if (!measure.isDouble())
            return false;
        const double raw = std::round(measure.toDouble() * scale);
        if (!(raw >= -32768 && raw <= 32767) ||
            (scale == 1.0 && std::floor(measure.toDouble()) != measure.toDouble()))
            return false;
        reading->measure = qint16(raw);
    } else if (!measure.isNull()) {
        return false;
    }
    *bad = "adc";
    if (!wholeIn(object.value(QLatin1String("adc")), 0, 65535, &number))
        return false;
    reading->adc = quint16(number);
    // Publishers before the coil was published leave it out.
    if (object.contains(QLatin1String("coil"))) {
        *bad = "coil";
        if (!wholeIn(object.value(QLatin1String("coil")), 0, 255, &number))
            return false;
        reading->coil = quint8(number);
    }
    return true;
}

// The fields both payloads carry, as readingObject() writes them.
bool parseCommon(const QByteArray& payload, QJsonObject* object, SensorReport* report, QString* why)
{
    if (!flatObject(payload)) {
        *why = QStringLiteral("вложенные объекты и массивы не ожидаются");
        return false;
    }
    QJsonParseError error{};
    const QJsonDocument document = QJsonDocument::fromJson(payload, &error);
    if (!document.isObject()) {
        *why = QStringLiteral("не объект JSON");
        return false;
    }
    *object = document.object();
    const auto refuse = [why](const char* key) {
        *why = QStringLiteral("ключ «%1» отсутствует или неверен").arg(QLatin1String(key));
        return false;
    };
    double number = 0;
    if (!wholeIn(object->value(QLatin1String("v")), payloadVersion, payloadVersion, &number))
        return refuse("v");
    Reading reading;
    if (!wholeIn(object->value(QLatin1String("address")), 1, 247, &number))
        return refuse("address");
    reading.addr = qint32(number);
    // Only the speeds a sensor can be set to: a line holds at most 247 × 8 sensors.
    if (!wholeIn(object->value(QLatin1String("speed")), 1, 115200, &number) ||
        std::find(std::begin(listedSpeeds), std::end(listedSpeeds), int(number)) ==
            std::end(listedSpeeds))
        return refuse("speed");
    reading.baudrate = qint32(number);
    const QDateTime at =
        QDateTime::fromString(object->value(QLatin1String("readAt")).toString(), Qt::ISODateWithMs);
    if (!at.isValid())
        return refuse("readAt");
    reading.msecs = at.toMSecsSinceEpoch();
    if (!wholeIn(object->value(QLatin1String("error")), 0, 255, &number))
        return refuse("error");
    reading.error = qint32(number);
    SensorReport result;
    if (reading.ok()) {
        const char* bad = nullptr;
        if (!parseValues(*object, &reading, &bad))
            return refuse(bad);
    } else {
        const QJsonValue text = object->value(QLatin1String("text"));
        if (!text.isUndefined() && !text.isString())
            return refuse("text");
        result.text = text.isString() ? text.toString() : errorTextFor(reading.error);
        // Some codes have no text of their own; the failure is shown all the same.
        if (result.text.isEmpty())
            result.text = QStringLiteral("Ошибка %1").arg(reading.error);
    }
    result.reading = reading;
    *report = result;
    return true;
}

} // namespace

bool parseReadingPayload(const QByteArray& payload, SensorReport* report, QString* why)
{
    QJsonObject object;
    SensorReport result;
    if (!parseCommon(payload, &object, &result, why))
        return false;
    double number = 0;
    // Sequence numbers count from 1 and stay below 2^53, where a double still counts exactly.
    if (!wholeIn(object.value(QLatin1String("seq")), 1, 9007199254740991.0, &number)) {
        *why = QStringLiteral("ключ «seq» отсутствует или неверен");
        return false;
    }
    result.seq = quint64(number);
    *report = result;
    return true;
}

bool parseSensorPayload(const QByteArray& payload, SensorReport* report, QString* why)
{
    QJsonObject object;
    SensorReport result;
    if (!parseCommon(payload, &object, &result, why))
        return false;
    const auto refuse = [why](const char* key) {
        *why = QStringLiteral("ключ «%1» неверен").arg(QLatin1String(key));
        return false;
    };
    double number = 0;
    const QJsonValue name = object.value(QLatin1String("name"));
    if (!name.isUndefined()) {
        if (!name.isString())
            return refuse("name");
        result.name = name.toString();
    }
    const QJsonValue setpoint = object.value(QLatin1String("setpoint"));
    if (!setpoint.isUndefined()) {
        if (!wholeIn(setpoint, -32768, 32767, &number))
            return refuse("setpoint");
        result.setpoint = int(number);
    }
    const QJsonValue workTime = object.value(QLatin1String("workTime"));
    if (!workTime.isUndefined()) {
        if (!wholeIn(workTime, 0, 4294967295.0, &number))
            return refuse("workTime");
        result.workTime = qint64(number);
    }
    const QJsonValue version = object.value(QLatin1String("version"));
    if (!version.isUndefined()) {
        if (!version.isString())
            return refuse("version");
        result.version = version.toString();
    }
    // After a failure, what the sensor answered last, when it answered before.
    if (!result.reading.ok() && object.contains(QLatin1String("answeredAt"))) {
        Reading answer = result.reading;
        answer.error = 0;
        const QDateTime at = QDateTime::fromString(
            object.value(QLatin1String("answeredAt")).toString(), Qt::ISODateWithMs);
        if (!at.isValid())
            return refuse("answeredAt");
        answer.msecs = at.toMSecsSinceEpoch();
        const char* bad = nullptr;
        if (!parseValues(object, &answer, &bad))
            return refuse(bad);
        result.lastAnswer = answer;
    }
    if (!wholeIn(object.value(QLatin1String("dropped")), 0, 9007199254740991.0, &number))
        return refuse("dropped");
    result.dropped = qint64(number);
    *report = result;
    return true;
}

bool parseStatePayload(const QByteArray& payload, PublisherState* state)
{
    if (payload.size() > 4096 || !flatObject(payload))
        return false;
    const QJsonDocument document = QJsonDocument::fromJson(payload);
    if (!document.isObject())
        return false;
    const QJsonObject object = document.object();
    const QJsonValue name = object.value(QLatin1String("state"));
    if (!name.isString())
        return false;
    PublisherState result;
    result.state = shownText(name.toString(), 32);
    // The writer's own words for it (statePayload above).
    const QJsonValue reason = object.value(QLatin1String("text"));
    if (reason.isString())
        result.reason = shownText(reason.toString(), 160);
    const QDateTime since =
        QDateTime::fromString(object.value(QLatin1String("since")).toString(), Qt::ISODateWithMs);
    if (since.isValid())
        result.since = since.toMSecsSinceEpoch();
    *state = result;
    return true;
}

QString shownText(const QString& text, int maxChars)
{
    QString shown;
    QVector<int> starts; // where each character's shown form starts: a cut falls between them
    for (int i = 0; i < text.size(); ++i) {
        const QChar c = text.at(i);
        const QChar::Category category = c.category();
        const bool pair =
            c.isHighSurrogate() && i + 1 < text.size() && text.at(i + 1).isLowSurrogate();
        // Controls, format characters (the bidirectional overrides and isolates among them),
        // separators and lone surrogates would move or hide the row's text: shown by code.
        const bool byCode = category == QChar::Other_Control || category == QChar::Other_Format ||
                            category == QChar::Separator_Line ||
                            category == QChar::Separator_Paragraph || (c.isSurrogate() && !pair);
        const QString piece =
            byCode ? QStringLiteral("\\u%1").arg(c.unicode(), 4, 16, QLatin1Char('0'))
            : pair ? text.mid(i, 2)
                   : QString(c);
        if (shown.size() + piece.size() > maxChars) {
            // Whole characters go until the ellipsis fits: never half of one written by code.
            while (!starts.isEmpty() && shown.size() > maxChars - 1)
                shown.truncate(starts.takeLast());
            return shown + QChar(0x2026);
        }
        starts.append(shown.size());
        shown += piece;
        if (pair)
            ++i;
    }
    return shown;
}

QString unitOf(SensorType type)
{
    return sensorTraits(type).payloadUnit;
}

QByteArray readingPayload(const Reading& reading, quint64 seq, const QString& failure)
{
    QJsonObject object =
        pollObject(reading.addr, reading.baudrate, reading.msecs, reading.error, failure);
    if (reading.ok())
        insertValues(object, reading.sensorType, reading.value(), reading.adc, reading.coil);
    object.insert(QStringLiteral("seq"), qint64(seq));
    return QJsonDocument(object).toJson(QJsonDocument::Compact);
}

QByteArray sensorPayload(const DeviceVEL_DUO300& dev, const SensorState& state, qint64 dropped)
{
    QJsonObject object =
        pollObject(state.addr, state.baudrate, state.lastAt, state.lastError, state.errorText);
    if (state.answered) {
        insertValues(object, state.type, state.value(), state.adc, state.coil);
        object.insert(QStringLiteral("answeredAt"), utcText(state.answeredAt));
    }
    if (dev.ustRead) {
        object.insert(QStringLiteral("name"), nameText(dev.ust));
        object.insert(QStringLiteral("setpoint"), int(dev.ust.threshold));
    }
    // The record keeps what its last good poll read; before one, it has nothing to tell.
    const ParamBlock& param = dev.param;
    if (state.lastError == 0 || paramsAnswered(param)) {
        object.insert(QStringLiteral("workTime"), qint64(param.workTime));
        object.insert(QStringLiteral("version"), versionText(param));
    }
    object.insert(QStringLiteral("dropped"), dropped);
    return QJsonDocument(object).toJson(QJsonDocument::Compact);
}

QString stateTopic(const QString& prefix)
{
    return prefix + QStringLiteral("/state");
}

QByteArray statePayload(const LineState& state, int queued, qint64 dropped)
{
    QJsonObject object{{QStringLiteral("v"), payloadVersion},
                       {QStringLiteral("state"), state.state},
                       {QStringLiteral("since"), utcText(state.since)},
                       {QStringLiteral("queued"), queued},
                       {QStringLiteral("dropped"), dropped}};
    if (!state.text.isEmpty())
        object.insert(QStringLiteral("text"), state.text);
    if (!state.system.isEmpty())
        object.insert(QStringLiteral("system"), state.system);
    return QJsonDocument(object).toJson(QJsonDocument::Compact);
}

} // namespace broker
