#include "gui/sensorcells.h"
#include "codec/readings.h"
#include "codec/sensortype.h"
#include "core/sensor/format.h"
#include "gui/colours.h"

#include <cmath>
#include <limits>

namespace overview {

QString columnTitle(int column)
{
    switch (column) {
    case Address:
        return QStringLiteral("Адрес");
    case Speed:
        return QStringLiteral("Скорость");
    case Type:
        return QStringLiteral("Тип");
    case Name:
        return QStringLiteral("Название");
    case Value:
        return QStringLiteral("Измерение");
    case Adc:
        return QStringLiteral("АЦП");
    case WorkTime:
        return QStringLiteral("Время работы, сек");
    case Version:
        return QStringLiteral("Версия ПО");
    case Age:
        return QStringLiteral("Возраст ответа, с");
    }
    return QString();
}

QVariant cellText(const SensorCells& cells, int column, qint64 nowMs)
{
    // Values show once the sensor answered; the age says how old they are.
    const bool answered = cells.answered;
    switch (column) {
    case Address:
        return QString::number(cells.addr);
    case Speed:
        return QString::number(cells.baudrate);
    case Type:
        if (!answered)
            return QString();
        return sensorTraits(sensorTypeOf(cells.sensorType)).quantity;
    case Name:
        return cells.name;
    case Value: {
        if (cells.lastError > 0 && !cells.errorText.isEmpty())
            return cells.errorText;
        if (!answered)
            return QString();
        ParamBlock param{};
        param.sensorType = cells.sensorType;
        param.measure = cells.measure;
        const QString unit = sensorTraits(sensorTypeOf(param)).unit;
        return unit.isEmpty() ? measureText(param) : measureText(param) + QLatin1Char(' ') + unit;
    }
    case Adc:
        return answered ? QString::number(cells.adc) : QString();
    case WorkTime:
        return answered ? QString::number(cells.workTime) : QString();
    case Version:
        return answered ? cells.version : QString();
    case Age:
        return answered ? QString::number(std::max<qint64>(0, nowMs - cells.answeredAt) / 1000)
                        : QStringLiteral("—");
    }
    return QVariant();
}

QVariant sortKey(const SensorCells& cells, int column, qint64 nowMs)
{
    const bool answered = cells.answered;
    const double none = -std::numeric_limits<double>::infinity();
    switch (column) {
    case Address:
        return cells.addr;
    case Speed:
        return cells.baudrate;
    case Type:
        return answered ? int(cells.sensorType) : -1;
    case Name:
        return cells.name;
    case Value: {
        Reading r;
        r.sensorType = cells.sensorType;
        r.measure = cells.measure;
        const double v = r.value();
        return answered && !std::isnan(v) ? v : none;
    }
    case Adc:
        return answered ? double(cells.adc) : none;
    case WorkTime:
        return answered ? double(cells.workTime) : none;
    case Version:
        return cellText(cells, Version, nowMs);
    case Age:
        return answered ? double(nowMs - cells.answeredAt)
                        : std::numeric_limits<double>::infinity();
    }
    return QVariant();
}

QVariant background(const SensorCells& cells)
{
    if (cells.lastError >= 0)
        return exchangeColour(cells.lastError, cells.coil);
    if (cells.silent)
        return silentRowColour();
    return QVariant();
}

QVariant alignment(int column)
{
    if (column != Name && column != Version && column != Type)
        return int(Qt::AlignRight | Qt::AlignVCenter);
    return QVariant();
}

} // namespace overview
