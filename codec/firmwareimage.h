#pragma once

#include <QByteArray>
#include <QString>
#include <QVector>

// A firmware image and how it goes into the sensor's flash through its loader. Pure: no
// window, no line, so that tests and fuzzers call it directly.
namespace firmware {

// The application area as the loader's write requests address it: register addresses are
// byte offsets into flash there.
constexpr quint16 areaStart = 0x1400;
constexpr int areaSize = 10240;
constexpr quint8 firstPage = 5; // of 1024 bytes: the area is pages 5 to 14
constexpr quint8 pageCount = 10;
constexpr int chunkSize = 192;
// The last four bytes of the area hold the image checksum.
constexpr quint16 checksumAddr = 0x3BFC;
constexpr int checksumOffset = checksumAddr - areaStart; // in the image: 10236

// One write request of the upload.
struct FlashWrite
{
    quint16 regAddr;
    quint16 regCount;
    QByteArray bytes; // 2 * regCount bytes
};

struct UploadPlan
{
    QVector<FlashWrite> chunks;
    quint32 checksum; // ~(sum of the padded image's little-endian words)
    FlashWrite checksumWrite;
};

// The image padded with 0xFF, the erased flash value, to a whole number of 32-bit words, so
// that neither an odd register count nor the word checksum drops a byte.
QByteArray paddedImage(const QByteArray& image);

// The writes that put the image into the area, in order, and the checksum write after them.
// readImageFile refuses images that do not fit the area; a larger one would run past it.
UploadPlan uploadPlan(const QByteArray& image);

// Why the image read from the named file cannot be uploaded: empty, larger than the area, or
// with data under the checksum word (bytes at checksumOffset and after that are not the
// erased value 0xFF), where the checksum written after the upload would replace them and the
// stored image would no longer match it. Empty when it can; blank bytes there are sent as
// they are.
QString imageRefusal(const QByteArray& bytes, const QString& name);

// An image file read whole, or why it cannot be used: missing, unreadable, or refused by
// imageRefusal. refusal is the text shown to the user; empty when bytes can be uploaded.
struct ImageFile
{
    QByteArray bytes;
    QString refusal;
};
ImageFile readImageFile(const QString& name);

} // namespace firmware
