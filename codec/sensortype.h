#pragma once

#include "codec/blocks.h"

#include <QString>

// The two kinds of sensor, as the parameters block names them in its first word.
enum class SensorType : quint16
{
    Undetermined = 0, // any word but 1 and 2: the sensor did not say, or said what is not known
    Temperature = 1,
    Voltage = 2,
};

// The type a parameters block's word names.
SensorType sensorTypeOf(quint16 word);
inline SensorType sensorTypeOf(const ParamBlock& param)
{
    return sensorTypeOf(param.sensorType);
}

// What the program says of each type: the one place that knows its texts, its unit and how its
// measured word becomes a value.
struct SensorTypeTraits
{
    QString text; // how a confirmation or a listing names it: "датчик напряжения"
    QString quantity;        // what it measures, as a column shows it: "Напряжение"
    QString unit;            // as the user reads it: "В"; empty when undetermined
    QString setpointCaption; // "Уставка напряжения, В"; empty when undetermined
    QString payloadUnit;     // as payloads read by machines carry it: "V", "°C" with a Latin C
    int scale;               // the measured word divided by it is the value; 0 when undetermined
    bool calibrated;         // its zero and nominal points are set from the program
};
const SensorTypeTraits& sensorTraits(SensorType type);

// The measured value in the type's unit; NaN when the type is undetermined.
double measuredValue(const ParamBlock& param);
