#pragma once

#include <QByteArray>

// The published Modbus RTU framing, which a common Modbus master speaks, beside the sensors'
// own (sim/sensorlogic): the CRC low byte first, and function 0x10 with its byte count.
namespace sim {

void swapCrcBytes(QByteArray& frame);
// body followed by its CRC in the published order.
QByteArray standardSealed(const QByteArray& body);
// The length of the standard request at the start of bytes, as requestLength counts them.
int standardRequestLength(const QByteArray& bytes);
// A standard request as the sensor frames it; empty when its CRC is wrong.
QByteArray fromStandard(const QByteArray& frame);

} // namespace sim
