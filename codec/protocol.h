#pragma once

#include <QByteArray>
#include <QString>

// The words of the sensor's protocol and the layout of its frames, as the program's
// transactions send them and the simulated sensor answers them. Frames here are bodies: the
// CRC (two bytes, rtu::calcCrc) follows each of them on the wire and is counted in every length.
namespace rtu {

// Function codes the sensor and its loader know.
enum class Function : quint8
{
    ReadCoils = 0x01,
    ReadRegisters = 0x03,
    // Without the byte count that the published framing puts before the data.
    WriteRegisters = 0x10,
    ErasePages = 0x11, // the loader's; its answer carries a flash status
    GoToLoader = 0x40,
    GoToApplication = 0x41,
    ReadPotentiometer = 0x50,
    WritePotentiometer = 0x51,
};

// Whether the byte is one of the function codes above.
bool isFunction(quint8 byte);

// An exception answer's function is the request's with this bit set.
constexpr quint8 exceptionFlag = 0x80;

// The exception codes a sensor answers with.
enum class Exception : quint8
{
    // "nonexistent command": also what the loader answers a request of the application's
    UnknownCommand = 1,
    ChecksumError = 2,
    RegisterAddressError = 3,
    RegisterError = 4,
    FlashWriteError = 10,
    BadSettings = 11,
};

// The flash statuses of the loader's erase answer. Only Complete means the pages are blank.
enum class FlashStatus : quint8
{
    Busy = 0x11,
    ErrorWrp = 0x12,
    ErrorProgram = 0x13,
    Complete = 0x14,
    Timeout = 0x15,
};

// Whether the byte is one of the loader's five statuses.
bool isFlashStatus(quint8 byte);

// The status by the name the monitor shows it under: "FLASH_ERROR_WRP".
QString flashStatusName(FlashStatus status);

constexpr quint8 code(Function function)
{
    return quint8(function);
}

constexpr int crcSize = 2;
// An exception answer: address, function with exceptionFlag, code, CRC.
constexpr int exceptionAnswerSize = 3 + crcSize;

// Frame lengths, CRC included. count is the register (or coil) count of the reads and writes
// and is not looked at for the other functions.
int requestSize(Function function, int count = 0);
int answerSize(Function function, int count = 0);

// Request bodies.
QByteArray readRequest(quint8 addr, Function function, quint16 reg, quint16 count);
// data holds at least 2 * count bytes; only those go out.
QByteArray writeRequest(quint8 addr, quint16 reg, quint16 count, const QByteArray& data);
QByteArray eraseRequest(quint8 addr, quint8 firstPage, quint8 pageCount);
// The loader's entry and exit and the potentiometer read: one argument byte, 0.
QByteArray plainRequest(quint8 addr, Function function);
QByteArray writePotentiometerRequest(quint8 addr, quint8 position);

// The first two bytes of every answer body: the address and the function.
QByteArray answerHead(quint8 addr, Function function);
// An exception answer with any code, as a sensor may send one the program does not know.
QByteArray exceptionAnswer(quint8 addr, quint8 function, quint8 code);
inline QByteArray exceptionAnswer(quint8 addr, Function function, Exception exception)
{
    return exceptionAnswer(addr, quint8(function), quint8(exception));
}
// The erase answer: the status and a zero byte.
QByteArray eraseAnswer(quint8 addr, quint8 status);

// The big-endian word at bytes[i] and bytes[i + 1]; both must be there.
quint16 wordAt(const QByteArray& bytes, int i);

} // namespace rtu
