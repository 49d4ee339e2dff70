#include "core/devices/sitepayloads.h"
#include "codec/errortext.h"
#include "codec/blocks.h"

#include <QDateTime>
#include <QJsonDocument>
#include <QJsonObject>
#include <cmath>

namespace broker {

namespace {

QString utcText(qint64 msecs)
{
    return QDateTime::fromMSecsSinceEpoch(msecs, Qt::UTC).toString(Qt::ISODateWithMs);
}

// What a reading says, shared by both payloads.
QJsonObject readingObject(const Reading& reading)
{
    QJsonObject object{{QStringLiteral("v"), payloadVersion},
                       {QStringLiteral("address"), reading.addr},
                       {QStringLiteral("speed"), reading.baudrate},
                       {QStringLiteral("readAt"), utcText(reading.msecs)},
                       {QStringLiteral("error"), reading.error}};
    if (reading.ok()) {
        const double value = reading.value();
        object.insert(QStringLiteral("type"), reading.sensorType);
        object.insert(QStringLiteral("measure"),
                      std::isnan(value) ? QJsonValue(QJsonValue::Null) : QJsonValue(value));
        object.insert(QStringLiteral("unit"), unitOf(reading.sensorType));
        object.insert(QStringLiteral("adc"), reading.adc);
    } else {
        object.insert(QStringLiteral("text"), errorTextFor(reading.error));
    }
    return object;
}

} // namespace

QString unitOf(int sensorType)
{
    switch (sensorType) {
    case 1:
        return QStringLiteral("°C");
    case 2:
        return QStringLiteral("V");
    default:
        return QString();
    }
}

QByteArray readingPayload(const Reading& reading, quint64 seq)
{
    QJsonObject object = readingObject(reading);
    object.insert(QStringLiteral("seq"), qint64(seq));
    return QJsonDocument(object).toJson(QJsonDocument::Compact);
}

QByteArray sensorPayload(const DeviceVEL_DUO300& dev, const Reading& reading, qint64 dropped)
{
    QJsonObject object = readingObject(reading);
    if (dev.ustRead) {
        object.insert(QStringLiteral("name"), nameText(dev.ust));
        object.insert(QStringLiteral("setpoint"), int(dev.ust.threshold));
    }
    // The record keeps what its last good poll read; before one, it has nothing to tell.
    const ParamBlock param = dev.param;
    if (reading.ok() || param.sensorType != 0 || param.workTime != 0) {
        object.insert(QStringLiteral("workTime"), qint64(param.workTime));
        object.insert(QStringLiteral("version"), versionText(param));
    }
    object.insert(QStringLiteral("dropped"), dropped);
    return QJsonDocument(object).toJson(QJsonDocument::Compact);
}

} // namespace broker
