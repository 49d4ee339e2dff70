#pragma once

#include "codec/protocol.h"

#include <QByteArray>

// Modbus RTU framing as the VEL_DUO300 sensor and its loader speak it.
//
// CRC: Modbus CRC-16, reflected polynomial 0xA001, initial value 0xFFFF, no final XOR
// (check value 0x4B37 over "123456789"). The table holds the standard reflected table
// with the two bytes of every entry exchanged, so the running register always holds the
// standard CRC byte-exchanged. Storing that register low byte first therefore puts the
// standard CRC on the wire high-order byte first: the reverse of the published RTU order,
// which is what the sensors expect. Answer CRCs are never verified (sensors in the field
// rely on that).
//
// Address and count fields inside a frame body are big-endian; register data are raw bytes.
namespace rtu {

// One table step: returns ((r << 8) ^ table[(r >> 8) ^ b]) truncated to 16 bits.
quint16 getCRC(quint16 r, quint8 b);

// The byte-exchanged table entry i.
quint16 crcTableEntry(int i);

// Computes the CRC over data[0 .. len-1] (missing bytes count as 0) and stores it at
// data[len] and data[len+1], growing data when shorter; bytes beyond stay as they are.
void calcCrc(QByteArray& data, int len);

// Error codes that checkAnswer and the transactions produce: the sensor's own exception codes
// (1 to 4, 10, 11), the master's verdicts on an answer (5 to 9, 12) and the loader's failed
// flash statuses (17 to 19, 21).
enum ErrorCode
{
    NoError = 0,
    UnknownCommand = int(Exception::UnknownCommand),
    ChecksumError = int(Exception::ChecksumError),
    RegisterAddressError = int(Exception::RegisterAddressError),
    RegisterError = int(Exception::RegisterError),
    WrongLength = 5,
    NoAnswer = 6,
    WrongAddress = 7,
    WrongFunction = 8,
    UnknownError = 9,
    FlashWriteError = int(Exception::FlashWriteError),
    BadSettings = int(Exception::BadSettings),
    // An erase answer whose status is none of the loader's: the pages may not be blank.
    UnknownFlashStatus = 12,
    FlashBusy = int(FlashStatus::Busy),
    FlashWriteProtected = int(FlashStatus::ErrorWrp),
    FlashProgramError = int(FlashStatus::ErrorProgram),
    FlashTimeout = int(FlashStatus::Timeout),
};

// Judges an answer against the request's address and function code and the full expected
// answer length (CRC included). Tests run in a fixed order; a byte past the end reads as 0.
int checkAnswer(const QByteArray& answer, quint8 expectedAddr, quint8 expectedCmd,
                int expectedSize);

// Lower-case hexadecimal, two digits a byte, no separators.
QString hexText(const QByteArray& bytes);

} // namespace rtu
