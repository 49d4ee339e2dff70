#include "codec/protocol.h"

namespace rtu {
namespace {

void appendWord(QByteArray& frame, quint16 value)
{
    frame.append(char(value >> 8));
    frame.append(char(value & 0xFF));
}

QByteArray head(quint8 addr, quint8 function)
{
    QByteArray frame;
    frame.append(char(addr));
    frame.append(char(function));
    return frame;
}

} // namespace

bool isFunction(quint8 byte)
{
    switch (Function(byte)) {
    case Function::ReadCoils:
    case Function::ReadRegisters:
    case Function::WriteRegisters:
    case Function::ErasePages:
    case Function::GoToLoader:
    case Function::GoToApplication:
    case Function::ReadPotentiometer:
    case Function::WritePotentiometer:
        return true;
    }
    return false;
}

bool isFlashStatus(quint8 byte)
{
    return byte >= quint8(FlashStatus::Busy) && byte <= quint8(FlashStatus::Timeout);
}

QString flashStatusName(FlashStatus status)
{
    switch (status) {
    case FlashStatus::Busy:
        return QStringLiteral("FLASH_BUSY");
    case FlashStatus::ErrorWrp:
        return QStringLiteral("FLASH_ERROR_WRP");
    case FlashStatus::ErrorProgram:
        return QStringLiteral("FLASH_ERROR_PROGRAM");
    case FlashStatus::Complete:
        return QStringLiteral("FLASH_COMPLETE");
    case FlashStatus::Timeout:
        return QStringLiteral("FLASH_TIMEOUT");
    }
    return QString();
}

int requestSize(Function function, int count)
{
    switch (function) {
    case Function::ReadCoils:
    case Function::ReadRegisters:
        return 6 + crcSize;
    case Function::WriteRegisters:
        return 6 + 2 * count + crcSize;
    case Function::ErasePages:
    case Function::WritePotentiometer:
        return 4 + crcSize;
    case Function::GoToLoader:
    case Function::GoToApplication:
    case Function::ReadPotentiometer:
        break;
    }
    return 3 + crcSize;
}

int answerSize(Function function, int count)
{
    switch (function) {
    case Function::ReadCoils:
        return 3 + (count + 7) / 8 + crcSize; // a byte count, then eight coils a byte
    case Function::ReadRegisters:
        return 3 + 2 * count + crcSize; // a byte count, then the registers
    case Function::WriteRegisters:
        return 6 + crcSize; // the request's register and count
    case Function::ErasePages:
    case Function::ReadPotentiometer:
        return 4 + crcSize;
    case Function::GoToLoader:
    case Function::GoToApplication:
    case Function::WritePotentiometer:
        break;
    }
    return 3 + crcSize;
}

QByteArray readRequest(quint8 addr, Function function, quint16 reg, quint16 count)
{
    QByteArray frame = head(addr, code(function));
    appendWord(frame, reg);
    appendWord(frame, count);
    return frame;
}

QByteArray writeRequest(quint8 addr, quint16 reg, quint16 count, const QByteArray& data)
{
    QByteArray frame = readRequest(addr, Function::WriteRegisters, reg, count);
    frame.append(data.left(2 * count));
    return frame;
}

QByteArray eraseRequest(quint8 addr, quint8 firstPage, quint8 pageCount)
{
    QByteArray frame = head(addr, code(Function::ErasePages));
    frame.append(char(firstPage));
    frame.append(char(pageCount));
    return frame;
}

QByteArray plainRequest(quint8 addr, Function function)
{
    QByteArray frame = head(addr, code(function));
    frame.append('\0');
    return frame;
}

QByteArray writePotentiometerRequest(quint8 addr, quint8 position)
{
    QByteArray frame = plainRequest(addr, Function::WritePotentiometer);
    frame.append(char(position));
    return frame;
}

QByteArray answerHead(quint8 addr, Function function)
{
    return head(addr, code(function));
}

QByteArray exceptionAnswer(quint8 addr, quint8 function, quint8 code)
{
    QByteArray frame = head(addr, quint8(function | exceptionFlag));
    frame.append(char(code));
    return frame;
}

QByteArray eraseAnswer(quint8 addr, quint8 status)
{
    QByteArray frame = answerHead(addr, Function::ErasePages);
    frame.append(char(status));
    frame.append('\0');
    return frame;
}

quint16 wordAt(const QByteArray& bytes, int i)
{
    return quint16(quint8(bytes.at(i)) << 8 | quint8(bytes.at(i + 1)));
}

} // namespace rtu
