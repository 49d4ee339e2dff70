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
    switch (param.sensorType) {
    case 2:
        return QString::number(param.measure);
    case 1:
        return QString::number(param.measure / 100.0, 'g', 6);
    default:
        return QStringLiteral("Ошибка!");
    }
}

QString sensorTypeText(quint16 sensorType)
{
    switch (sensorType) {
    case 1:
        return QStringLiteral("датчик температуры");
    case 2:
        return QStringLiteral("датчик напряжения");
    default:
        return QStringLiteral("тип не определён");
    }
}

SensorCaptions sensorCaptions(quint16 sensorType)
{
    switch (sensorType) {
    case 2:
        return {true, QStringLiteral("Напряжение, В"), QStringLiteral("Уставка напряжения, В")};
    case 1:
        return {false, QStringLiteral("Температура, °С"),
                QStringLiteral("Уставка температуры, °С")};
    default:
        return {false, QStringLiteral("Сбой определения типа датчика"), QString()};
    }
}
