#include "gui/sensorcells.h"
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

QVariant cellText(const SensorState& state, int column, qint64 nowMs)
{
    // Values show once the sensor answered; the age says how old they are.
    const bool answered = state.answered;
    switch (column) {
    case Address:
        return QString::number(state.addr);
    case Speed:
        return QString::number(state.baudrate);
    case Type:
        if (!answered)
            return QString();
        return sensorTraits(state.type).quantity;
    case Name:
        return state.name;
    case Value: {
        if (state.lastError > 0 && !state.errorText.isEmpty())
            return state.errorText;
        if (!answered)
            return QString();
        const QString text = measureText(state.type, state.measure);
        const QString unit = sensorTraits(state.type).unit;
        return unit.isEmpty() ? text : text + QLatin1Char(' ') + unit;
    }
    case Adc:
        return answered ? QString::number(state.adc) : QString();
    case WorkTime:
        return answered ? QString::number(state.workTime) : QString();
    case Version:
        return answered ? state.version : QString();
    case Age:
        return answered ? QString::number(std::max<qint64>(0, nowMs - state.answeredAt) / 1000)
                        : QStringLiteral("—");
    }
    return QVariant();
}

QVariant sortKey(const SensorState& state, int column, qint64 nowMs)
{
    const bool answered = state.answered;
    const double none = -std::numeric_limits<double>::infinity();
    switch (column) {
    case Address:
        return state.addr;
    case Speed:
        return state.baudrate;
    case Type:
        return answered ? int(state.type) : -1;
    case Name:
        return state.name;
    case Value: {
        const double v = state.value();
        return std::isnan(v) ? none : v;
    }
    case Adc:
        return answered ? double(state.adc) : none;
    case WorkTime:
        return answered ? double(state.workTime) : none;
    case Version:
        return cellText(state, Version, nowMs);
    case Age:
        return answered ? double(nowMs - state.answeredAt)
                        : std::numeric_limits<double>::infinity();
    }
    return QVariant();
}

QVariant background(const SensorState& state, bool silent)
{
    if (state.lastError >= 0)
        return exchangeColour(state.lastError, state.coil);
    if (silent)
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
