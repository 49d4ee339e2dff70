#pragma once

#include <QByteArray>

// Modbus CRC-16 computed bit by bit (reflected polynomial 0xA001, initial value 0xFFFF),
// independently of the program's table-driven codec, for checking frames in tests.
inline quint16 bitwiseCrc(const QByteArray& bytes)
{
    quint16 crc = 0xFFFF;
    for (char c : bytes) {
        crc ^= quint8(c);
        for (int i = 0; i < 8; ++i)
            crc = (crc & 1) ? quint16((crc >> 1) ^ 0xA001) : quint16(crc >> 1);
    }
    return crc;
}
