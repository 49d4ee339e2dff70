#pragma once

#include "codec/device.h"

#include <QVector>

// The records of the sensors known on a line, in list order: row i shows record i. No two
// records share an address and a speed.
class SensorRegistry
{
public:
    const QVector<DeviceVEL_DUO300>& records() const { return list; }
    int size() const { return list.size(); }
    bool isEmpty() const { return list.isEmpty(); }
    DeviceVEL_DUO300& operator[](int row) { return list[row]; }
    const DeviceVEL_DUO300& operator[](int row) const { return list[row]; }
    // The record of a row, or null when there is no such row.
    DeviceVEL_DUO300* at(int row);

    // Appends the record and returns its row; -1 when one at its address and speed is known,
    // which is then kept as it is.
    int add(const DeviceVEL_DUO300& dev);
    void remove(int row);
    void clear() { list.clear(); }
    // The row of a record with this address and speed, or -1.
    int find(int addr, int baudrate) const;
    // The row that holds this record, or -1 for a record held apart from the list.
    int rowOf(const DeviceVEL_DUO300* dev) const;

    // What one exchange with the sensor says of it: it failed, and whether it failed with
    // "nonexistent command" (its loader may be running instead of its application). True when
    // the record started or stopped answering as the loader does.
    static bool recordOutcome(DeviceVEL_DUO300& dev, int error);

    // The line's port changed while the records were kept: their settings blocks were read
    // from the sensors of the other port, and a write built on one would put that sensor's
    // address, speed and calibration into whatever answers here. Each write reads its block
    // again first.
    void blocksFromAnotherPort();

private:
    QVector<DeviceVEL_DUO300> list;
};
