#pragma once

#include "sensor/blocks.h"

#include <type_traits>

// What the program knows of one sensor. A plain value: records are copied bytewise.
struct DeviceVEL_DUO300
{
    qint32 addr = 0;          // the address the program talks to; requests carry its low byte
    qint32 baudrate = 0;      // the speed at which the sensor answers
    bool commError = false;   // the last exchange with it failed
    bool cmdRejected = false; // the last exchange failed with "nonexistent command"
    // The settings image came from this sensor: only then may it be written back to it.
    bool ustRead = false;
    UstBlock ust{};
    ParamBlock param{};
    quint8 coil[4]{}; // answer bytes from index 3 of the last coil read; [0] is the status byte
};

static_assert(std::is_trivially_copyable<DeviceVEL_DUO300>::value, "records are copied bytewise");
