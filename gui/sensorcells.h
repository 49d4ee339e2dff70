#pragma once

#include "codec/sensorstate.h"

#include <QColor>
#include <QString>
#include <QVariant>

// The sensor rows that "Обзор линии" and "Обзор площадки" share: their columns, texts, sorting
// keys and colours, from what a view knows of one sensor. A failed poll's text shows in place
// of the value; a state without one shows its last value with the failure's colour.
namespace overview {

// The columns of a sensor row, in order.
enum Column
{
    Address,
    Speed,
    Type,
    Name,
    Value,
    Adc,
    WorkTime,
    Version,
    Age,
    ColumnCount
};

QString columnTitle(int column);

// Qt::DisplayRole, and Qt::UserRole for sorting: rows without a value sort below every value.
QVariant cellText(const SensorState& state, int column, qint64 nowMs);
QVariant sortKey(const SensorState& state, int column, qint64 nowMs);
// The device list's colours, by the outcome of the last poll; before one, grey when the
// sensor is silent (it failed its last exchange elsewhere).
QVariant background(const SensorState& state, bool silent = false);
QVariant alignment(int column);

} // namespace overview
