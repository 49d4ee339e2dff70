#pragma once

#include <QByteArray>
#include <QString>
#include <QtEndian>
#include <cstddef>
#include <type_traits>

// The sensor's register blocks, held as byte images exactly as they stand in the data field
// of a Modbus frame. Every multi-byte field is little-endian on the wire; the images are
// copied bytewise, so the host must be little-endian too.
static_assert(Q_BYTE_ORDER == Q_LITTLE_ENDIAN, "register images are copied bytewise");

#pragma pack(push, 1)

// Settings block: 20 registers at 0x0100.
struct UstBlock
{
    quint16 speed;       // baud rate / 100
    quint16 reserved[3]; // not interpreted; written back as read
    qint16 threshold;    // setpoint, V or °C
    quint16 mbAddr;      // the sensor's own address setting
    quint16 zeroAdc;     // ADC reading of the zero point
    quint16 nomAdc;      // ADC reading of the nominal point
    char name[16];       // Windows-1251, NUL padded, not necessarily terminated
    quint32 loaderCode;  // LoaderRequest asks the sensor to enter its loader
    quint32 checksum;    // ~sum of the nine words before it
};

// Current-parameters block: 14 registers at 0x0000.
struct ParamBlock
{
    quint16 sensorType; // 1 temperature, 2 voltage, anything else undetermined
    qint16 measure;     // volts (type 2) or hundredths of °C (type 1)
    quint16 reserved;
    quint16 adc;
    quint32 workTime; // seconds
    char version[16]; // ASCII, NUL ended or filling the field
};

#pragma pack(pop)

static_assert(sizeof(UstBlock) == 40 && offsetof(UstBlock, threshold) == 8 &&
                  offsetof(UstBlock, mbAddr) == 10 && offsetof(UstBlock, zeroAdc) == 12 &&
                  offsetof(UstBlock, nomAdc) == 14 && offsetof(UstBlock, name) == 16 &&
                  offsetof(UstBlock, loaderCode) == 32 && offsetof(UstBlock, checksum) == 36,
              "settings block layout");
static_assert(sizeof(ParamBlock) == 28 && offsetof(ParamBlock, measure) == 2 &&
                  offsetof(ParamBlock, adc) == 6 && offsetof(ParamBlock, workTime) == 8 &&
                  offsetof(ParamBlock, version) == 12,
              "parameters block layout");

namespace regmap {
constexpr quint16 ustAddr = 0x0100;
constexpr quint16 ustCount = 20;
constexpr quint16 paramAddr = 0x0000;
constexpr quint16 paramCount = 14;
constexpr quint32 loaderRequest = 0x5C3E9A71;
} // namespace regmap

// ~(sum mod 2^32 of the little-endian 32-bit words of bytes[0 .. len-1]); a trailing part
// shorter than a word is not counted.
quint32 wordSum(const uchar* bytes, int len, quint32 start = 0);
inline quint32 invertedSum(quint32 sum)
{
    return ~sum;
}

// The checksum field of a settings image: over bytes 0-35.
quint32 ustChecksum(const UstBlock& ust);
void sealChecksum(UstBlock& ust);

// Where a sensor answers as it leaves the factory, as its factory settings block says.
constexpr int factoryAddress = 1;
constexpr int factorySpeed = 115200;

// The factory settings block, checksum included.
UstBlock defaultUstBlock();

// Bytes of a block image, for sending.
template <typename Block> QByteArray blockBytes(const Block& block)
{
    static_assert(std::is_trivially_copyable<Block>::value, "byte image");
    return QByteArray(reinterpret_cast<const char*>(&block), int(sizeof(Block)));
}

// Copies size bytes of an answer from offset on into dst, 0 for every byte the answer lacks.
void copyFromAnswer(void* dst, int size, const QByteArray& answer, int offset = 3);

// Fixed-size text fields. The name is Windows-1251 on every platform.
bool nameEncodable(const QString& name);              // every character has a byte
QString nameText(const UstBlock& ust);                // up to the first NUL
void setNameText(UstBlock& ust, const QString& name); // cut at 16 bytes, NUL padded
QString fullNameText(const UstBlock& ust);            // all 16 bytes, NULs included
QString versionText(const ParamBlock& param);         // ASCII up to the first NUL
// A record's parameters block is zero until a poll fills it: false before the first answer.
bool paramsAnswered(const ParamBlock& param);

// The setpoint is an int16 on the sensor, and the sensor takes only this range.
constexpr int thresholdMin = -30000;
constexpr int thresholdMax = 30000;

// The speeds a sensor can be set to, bit/s, fastest first.
constexpr int listedSpeeds[] = {115200, 57600, 38400, 19200, 9600, 4800, 2400, 1200};

// The largest address the address change writes.
constexpr int addressMax = 31;
// The largest address the window's address fields take: a sensor added by hand may sit at 32,
// and the address change says in words of its own why it does not write that.
constexpr int enteredAddressMax = 32;
// The largest address Modbus gives a slave: line files, scans and the simulator take any of them.
constexpr int modbusAddressMax = 247;
