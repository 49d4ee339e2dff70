#include "sim/framing.h"

#include "codec/protocol.h"
#include "sim/sensorlogic.h"

namespace sim {

// The sensors put the CRC high byte first, the published framing low byte first.
void swapCrcBytes(QByteArray& frame)
{
    const int n = frame.size();
    if (n < 2)
        return;
    const char last = frame.at(n - 1);
    frame[n - 1] = frame.at(n - 2);
    frame[n - 2] = last;
}

// With the standard framing: the CRC low byte first, and function 0x10 with its byte count.
QByteArray standardSealed(const QByteArray& body)
{
    QByteArray frame = sealed(body);
    swapCrcBytes(frame);
    return frame;
}

// The length of the standard request at the start of bytes, as requestLength counts them.
int standardRequestLength(const QByteArray& bytes)
{
    if (bytes.size() >= 2 && quint8(bytes.at(1)) == rtu::code(rtu::Function::WriteRegisters)) {
        if (bytes.size() < 7)
            return 0;
        const int length = 9 + quint8(bytes.at(6));
        return bytes.size() >= length ? length : 0;
    }
    return requestLength(bytes);
}

// A standard request as the sensor frames it; empty when its CRC is wrong.
QByteArray fromStandard(const QByteArray& frame)
{
    if (frame.size() < 4)
        return frame;
    QByteArray body = frame.left(frame.size() - 2);
    if (standardSealed(body) != frame)
        return QByteArray();
    if (quint8(body.at(1)) == rtu::code(rtu::Function::WriteRegisters) && body.size() > 6)
        body.remove(6, 1);
    return sealed(body);
}

} // namespace sim
