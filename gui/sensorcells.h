#pragma once

#include <QColor>
#include <QString>
#include <QVariant>

// The sensor rows that "Обзор линии" and "Обзор площадки" share: their columns, texts, sorting
// keys and colours, from what a view knows of one sensor.
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

// What a row shows of its sensor.
struct SensorCells
{
    int addr = 0;
    int baudrate = 0;
    QString name;          // empty until its settings were read
    bool answered = false; // it answered since the view began: the values below are known
    quint16 sensorType = 0;
    qint16 measure = 0; // as the parameters block gives it
    quint16 adc = 0;
    quint32 workTime = 0;
    QString version;
    qint64 answeredAt = 0; // ms since the epoch of its last answer
    int lastError = -1;    // the outcome of its last poll; -1: none seen yet
    quint8 coil = 0;       // the coil status byte of its last answer
    bool silent = false;   // grey while no poll was seen: it failed its last exchange
    QString errorText;     // shown in place of the value while its last poll failed
};

// Qt::DisplayRole, and Qt::UserRole for sorting: rows without a value sort below every value.
QVariant cellText(const SensorCells& cells, int column, qint64 nowMs);
QVariant sortKey(const SensorCells& cells, int column, qint64 nowMs);
// The device list's colours, by the outcome of the last poll.
QVariant background(const SensorCells& cells);
QVariant alignment(int column);

} // namespace overview
