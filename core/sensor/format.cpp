#include "core/sensor/format.h"

QString deviceRowText(const DeviceVEL_DUO300& dev)
{
    QString text = QString::number(dev.addr) + QLatin1Char('\t') + QString::number(dev.baudrate);
    if (!dev.commError)
        text += QLatin1Char('\t') + fullNameText(dev.ust);
    else if (dev.cmdRejected)
        text += QStringLiteral("\tв загрузчике: «Перепрограммирование»");
    return text;
}

QString measureText(const ParamBlock& param)
{
    return measureText(sensorTypeOf(param), param.measure);
}

QString measureText(SensorType type, qint16 measure)
{
    const int scale = sensorTraits(type).scale;
    if (!scale)
        return QStringLiteral("Ошибка!");
    return QString::number(double(measure) / scale, 'g', 6);
}

QString sensorTypeText(SensorType type)
{
    return sensorTraits(type).text;
}

SensorCaptions sensorCaptions(SensorType type)
{
    if (type == SensorType::Undetermined)
        return {false, QStringLiteral("Сбой определения типа датчика"), QString()};
    const SensorTypeTraits& traits = sensorTraits(type);
    return {traits.calibrated, traits.quantity + QStringLiteral(", ") + traits.unit,
            traits.setpointCaption};
}
