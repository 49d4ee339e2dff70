#pragma once

#include "core/devices/readings.h"
#include "core/sensor/device.h"

#include <QByteArray>

// What a line's sensors look like on the broker: compact JSON in UTF-8, keys as in the line
// file, times in ISO 8601 UTC with milliseconds.
namespace broker {

// Format version of the payloads, carried by each so that subscribers can tell a change.
constexpr int payloadVersion = 1;

// "V" or "°C"; empty while the type is undetermined.
QString unitOf(int sensorType);

// One reading: its per-process sequence number (a QoS-1 duplicate repeats it), when the poll
// ended, the sensor, and either its values or the poll's error code and text.
QByteArray readingPayload(const Reading& reading, quint64 seq);

// The sensor's latest state: the reading, with what its record knows besides (name and
// setpoint once its settings were read, operating time and version from its last good poll),
// and how many readings the queue has dropped so far.
QByteArray sensorPayload(const DeviceVEL_DUO300& dev, const Reading& reading, qint64 dropped);

} // namespace broker
