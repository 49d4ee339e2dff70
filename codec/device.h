#pragma once

#include "codec/blocks.h"

#include <cstddef>
#include <type_traits>

// What the program knows of one sensor. A plain value: records are copied bytewise.
struct DeviceVEL_DUO300
{
    qint32 addr = 0;          // the address the program talks to; requests carry its low byte
    qint32 baudrate = 0;      // the speed at which the sensor answers
    bool commError = false;   // the last exchange with it failed
    bool cmdRejected = false; // the last exchange failed with "nonexistent command"
    UstBlock ust{};
    ParamBlock param{};
    quint8 coil[4]{}; // answer bytes from index 3 of the last coil read; [0] is the status byte
    // ust came from the sensor: a write built on a block never read would send what nobody
    // chose (address 0, speed 0, the calibration points 0).
    bool ustRead = false;
    // ust as last read was whole and sound (checksum, speed, address), or was written by the
    // program and acknowledged: only such a block is the base of a write. The program's own
    // changes to the record (a calibration point kept for a later write) leave it as it is.
    bool ustSound = false;
};

static_assert(std::is_trivially_copyable<DeviceVEL_DUO300>::value, "records are copied bytewise");
// The blocks are packed: their 16-bit fields are aligned only when the blocks start at even
// offsets.
static_assert(offsetof(DeviceVEL_DUO300, ust) % 2 == 0 &&
                  offsetof(DeviceVEL_DUO300, param) % 2 == 0,
              "settings and parameters blocks at even offsets");
