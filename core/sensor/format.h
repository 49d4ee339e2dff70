#pragma once

#include "codec/device.h"
#include "codec/sensortype.h"

#include <QString>

// Texts shown for a sensor; free of widgets so they can be tested.

// A row of the device list: address, TAB, speed and, when the sensor answered, TAB and all
// 16 bytes of the name field; when it answered "nonexistent command" as a sensor left in its
// loader does, TAB and that, with the way back.
QString deviceRowText(const DeviceVEL_DUO300& dev);

// The measured value as the parameters block gives it.
QString measureText(const ParamBlock& param);
QString measureText(SensorType type, qint16 measure);

// The sensor type in words, as the reprogramming confirmation names it.
QString sensorTypeText(SensorType type);

// Captions that follow the sensor type.
struct SensorCaptions
{
    bool calibration;       // the calibration group is shown
    QString measureLabel;   // caption of the measured value
    QString thresholdLabel; // caption of the setpoint; empty: keep the present one
};
SensorCaptions sensorCaptions(SensorType type);
