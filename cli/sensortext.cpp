// How the commands show a sensor: the texts of its settings and live values, and its JSON.
#include "cli/sensortext.h"
#include "codec/sensortype.h"
#include "core/sensor/format.h"

#include <QDateTime>

namespace {

QString row(const QString& caption, const QString& value)
{
    return caption.leftJustified(22) + value + QLatin1Char('\n');
}

QString workTimeText(quint32 seconds)
{
    return QStringLiteral("%1 ч %2 мин %3 с")
        .arg(seconds / 3600)
        .arg(seconds / 60 % 60)
        .arg(seconds % 60);
}

} // namespace

DeviceVEL_DUO300 recordFor(const SensorArg& sensor)
{
    DeviceVEL_DUO300 dev{};
    dev.addr = sensor.address;
    dev.baudrate = sensor.speed;
    return dev;
}

linefile::Sensor described(const DeviceVEL_DUO300& dev, bool withParams)
{
    linefile::Sensor sensor = linefile::fromBlocks(dev.addr, dev.baudrate, dev.ust, dev.param,
                                                   QDateTime::currentDateTime());
    if (!withParams) {
        sensor.type.reset();
        sensor.version.reset();
    }
    return sensor;
}

QJsonValue measureValue(const ParamBlock& param)
{
    // In the type's unit; an undetermined type's word as it came.
    const int scale = sensorTraits(sensorTypeOf(param)).scale;
    if (scale > 1)
        return measuredValue(param);
    return param.measure;
}

QJsonObject withLiveValues(QJsonObject object, const ParamBlock& param)
{
    object.insert(QStringLiteral("measure"), measureValue(param));
    object.insert(QStringLiteral("adc"), param.adc);
    object.insert(QStringLiteral("workTime"), qint64(param.workTime));
    return object;
}

QString settingsText(const UstBlock& ust)
{
    return row(QStringLiteral("Имя:"), QStringLiteral("«%1»").arg(nameText(ust))) +
           row(QStringLiteral("Адрес:"), QString::number(ust.mbAddr)) +
           row(QStringLiteral("Скорость:"), QString::number(ust.speed * 100)) +
           row(QStringLiteral("Уставка:"), QString::number(ust.threshold)) +
           row(QStringLiteral("Точка нуля, АЦП:"), QString::number(ust.zeroAdc)) +
           row(QStringLiteral("Точка номинала, АЦП:"), QString::number(ust.nomAdc)) +
           row(QStringLiteral("Блок уставок:"), QString::fromLatin1(blockBytes(ust).toHex(' ')));
}

QString liveText(const DeviceVEL_DUO300& dev)
{
    const SensorCaptions captions = sensorCaptions(sensorTypeOf(dev.param));
    return row(QStringLiteral("Тип:"), sensorTypeText(sensorTypeOf(dev.param))) +
           row(captions.measureLabel + QLatin1Char(':'), measureText(dev.param)) +
           row(QStringLiteral("АЦП:"), QString::number(dev.param.adc)) +
           row(QStringLiteral("Время работы:"), workTimeText(dev.param.workTime)) +
           row(QStringLiteral("Версия ПО:"), versionText(dev.param));
}
