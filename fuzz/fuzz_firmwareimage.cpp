// The firmware upload plan of any image that fits the application area: its chunks must put
// the padded image into flash exactly once, in order, and its checksum must be the word sum.
// An image the reader accepts fits the area and puts nothing but the erased value under the
// checksum word.
#include "check.h"
#include "codec/firmwareimage.h"

#include <QByteArray>
#include <cstddef>
#include <cstdint>

namespace {

// ~(sum of the little-endian 32-bit words), counted byte by byte.
quint32 independentChecksum(const QByteArray& padded)
{
    quint32 sum = 0;
    for (int word = 0; word + 4 <= padded.size(); word += 4) {
        quint32 value = 0;
        for (int b = 3; b >= 0; --b)
            value = value << 8 | quint8(padded.at(word + b));
        sum += value;
    }
    return ~sum;
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size)
{
    const QByteArray whole(reinterpret_cast<const char*>(data), int(size));
    if (firmware::imageRefusal(whole, QStringLiteral("fuzz")).isEmpty()) {
        FUZZ_CHECK(!whole.isEmpty() && whole.size() <= firmware::areaSize);
        for (const firmware::FlashWrite& chunk : firmware::uploadPlan(whole).chunks)
            for (int i = 0; i < chunk.bytes.size(); ++i)
                FUZZ_CHECK(chunk.regAddr + i < firmware::checksumAddr ||
                           chunk.bytes.at(i) == char(0xFF));
    }

    // Larger files are refused before any plan is made.
    const int length = int(size < size_t(firmware::areaSize) ? size : size_t(firmware::areaSize));
    const QByteArray image(reinterpret_cast<const char*>(data), length);

    const QByteArray padded = firmware::paddedImage(image);
    FUZZ_CHECK(padded.size() % 4 == 0 && padded.size() - image.size() < 4);
    FUZZ_CHECK(padded.startsWith(image));
    for (int i = image.size(); i < padded.size(); ++i)
        FUZZ_CHECK(padded.at(i) == char(0xFF));

    const firmware::UploadPlan plan = firmware::uploadPlan(image);
    QByteArray written;
    int next = firmware::areaStart;
    for (const firmware::FlashWrite& chunk : plan.chunks) {
        FUZZ_CHECK(chunk.regAddr == next);
        FUZZ_CHECK(!chunk.bytes.isEmpty() && chunk.bytes.size() <= firmware::chunkSize);
        FUZZ_CHECK(chunk.bytes.size() == 2 * chunk.regCount);
        next += chunk.bytes.size();
        FUZZ_CHECK(next <= firmware::areaStart + firmware::areaSize);
        written += chunk.bytes;
    }
    FUZZ_CHECK(written == padded);

    FUZZ_CHECK(plan.checksum == independentChecksum(padded));
    const firmware::FlashWrite& sum = plan.checksumWrite;
    FUZZ_CHECK(sum.regAddr == firmware::checksumAddr && sum.regCount == 2);
    FUZZ_CHECK(sum.bytes.size() == 4);
    for (int b = 0; b < 4; ++b)
        FUZZ_CHECK(quint8(sum.bytes.at(b)) == quint8(plan.checksum >> (8 * b)));
    return 0;
}
