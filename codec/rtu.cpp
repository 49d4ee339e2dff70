#include "codec/rtu.h"

#include <QString>
#include <array>

namespace rtu {
namespace {

constexpr std::array<quint16, 256> makeExchangedTable()
{
    std::array<quint16, 256> table{};
    for (int i = 0; i < 256; ++i) {
        quint16 crc = quint16(i);
        for (int bit = 0; bit < 8; ++bit)
            crc = (crc & 1) ? quint16((crc >> 1) ^ 0xA001) : quint16(crc >> 1);
        table[i] = quint16((crc << 8) | (crc >> 8));
    }
    return table;
}

constexpr std::array<quint16, 256> crcTable = makeExchangedTable();

static_assert(crcTable[1] == 0xC1C0 && crcTable[2] == 0x81C1 && crcTable[3] == 0x4001,
              "the table must be the standard Modbus table with its bytes exchanged");

quint8 byteAt(const QByteArray& bytes, int i)
{
    return i < bytes.size() ? quint8(bytes.at(i)) : 0;
}

} // namespace

quint16 getCRC(quint16 r, quint8 b)
{
    return quint16((r << 8) ^ crcTable[((r >> 8) ^ b) & 0xFF]);
}

quint16 crcTableEntry(int i)
{
    return crcTable[i & 0xFF];
}

void calcCrc(QByteArray& data, int len)
{
    quint16 reg = 0xFFFF;
    for (int i = 0; i < len; ++i)
        reg = getCRC(reg, byteAt(data, i));
    if (data.size() < len + 2)
        data.append(QByteArray(len + 2 - data.size(), '\0'));
    data[len] = char(reg & 0xFF);
    data[len + 1] = char(reg >> 8);
}

int checkAnswer(const QByteArray& answer, quint8 expectedAddr, quint8 expectedCmd, int expectedSize)
{
    if (answer.isEmpty())
        return NoAnswer;

    const quint8 function = byteAt(answer, 1);
    const quint8 erase = code(Function::ErasePages);
    if (expectedCmd == erase && function == erase) {
        // The loader's erase answer carries a flash status; only "complete" says the pages are
        // blank. An answer to any other request that merely looks like one is judged as a wrong
        // answer below.
        if (answer.size() < 3)
            return WrongLength;
        const quint8 status = byteAt(answer, 2);
        if (!isFlashStatus(status))
            return UnknownFlashStatus;
        if (status != quint8(FlashStatus::Complete))
            return status;
    } else if (function == (expectedCmd | exceptionFlag)) {
        if (answer.size() < 3)
            return UnknownError;
        switch (byteAt(answer, 2)) {
        case UnknownCommand:
        case ChecksumError:
        case RegisterAddressError:
        case RegisterError:
        case FlashWriteError:
        case BadSettings:
            return byteAt(answer, 2);
        default:
            return UnknownError;
        }
    }

    if (answer.size() != expectedSize)
        return WrongLength;
    if (byteAt(answer, 0) != expectedAddr)
        return WrongAddress;
    if (function != expectedCmd)
        return WrongFunction;
    return NoError;
}

QString hexText(const QByteArray& bytes)
{
    return QString::fromLatin1(bytes.toHex());
}

} // namespace rtu
