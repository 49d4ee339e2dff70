#pragma once

#include "sensor/device.h"

#include <QColor>
#include <QString>

// Texts and colours the window shows for a sensor; free of widgets so they can be tested.

// A row of the device list: address, TAB, speed and, when the sensor answered, TAB and all
// 16 bytes of the name field.
QString deviceRowText(const DeviceVEL_DUO300& dev);

// Background of a device row whose record failed to answer.
QColor silentRowColour();

// Background of the current row after an exchange that ended with the given error code.
QColor exchangeColour(int error, quint8 coilStatus);

// The measured value as the parameters block gives it.
QString measureText(const ParamBlock& param);

// Captions that follow the sensor type.
struct SensorCaptions
{
    bool calibration;       // the calibration group is shown
    QString measureLabel;   // caption of the measured value
    QString thresholdLabel; // caption of the setpoint; empty: keep the present one
};
SensorCaptions sensorCaptions(quint16 sensorType);
