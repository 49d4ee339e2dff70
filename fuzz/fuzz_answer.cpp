// The judgement of an answer against any request, and the hexadecimal text of any bytes.
// Input: expected address, expected function, expected size (two bytes, big-endian), then
// the answer as it came off the line.
#include "check.h"
#include "codec/errortext.h"
#include "codec/rtu.h"

#include <QByteArray>
#include <QString>
#include <cstddef>
#include <cstdint>
#include <set>

namespace {

// As on the worker's side, a byte past the end reads as 0.
quint8 at(const QByteArray& bytes, int i)
{
    return i < bytes.size() ? quint8(bytes.at(i)) : 0;
}

void checkHexText(const QByteArray& bytes)
{
    const QString hex = rtu::hexText(bytes);
    FUZZ_CHECK(hex.size() == 2 * bytes.size());
    for (QChar c : hex)
        FUZZ_CHECK((c >= QLatin1Char('0') && c <= QLatin1Char('9')) ||
                   (c >= QLatin1Char('a') && c <= QLatin1Char('f')));
    FUZZ_CHECK(QByteArray::fromHex(hex.toLatin1()) == bytes);
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size)
{
    if (size < 4)
        return 0;
    const quint8 addr = data[0];
    const quint8 cmd = data[1];
    const int expectedSize = data[2] << 8 | data[3];
    const QByteArray answer(reinterpret_cast<const char*>(data + 4), int(size - 4));

    checkHexText(answer);

    const int error = rtu::checkAnswer(answer, addr, cmd, expectedSize);
    FUZZ_CHECK(!errorTextFor(error).isEmpty() || error == rtu::NoError);
    if (answer.isEmpty()) {
        FUZZ_CHECK(error == rtu::NoAnswer);
        return 0;
    }

    // The answer's CRC bytes are never verified: other CRC bytes, the same judgement.
    if (answer.size() >= 5) {
        QByteArray otherCrc = answer;
        otherCrc[otherCrc.size() - 1] = char(~at(answer, answer.size() - 1));
        otherCrc[otherCrc.size() - 2] = char(at(answer, answer.size() - 2) ^ 0x5A);
        FUZZ_CHECK(rtu::checkAnswer(otherCrc, addr, cmd, expectedSize) == error);
    }

    // Only a request for the loader's erase reads the flash status of an erase answer, and
    // only "complete" is its success.
    const quint8 erase = rtu::code(rtu::Function::ErasePages);
    if (cmd == erase) {
        if (at(answer, 1) == erase && answer.size() >= 3) {
            const quint8 status = at(answer, 2);
            if (!rtu::isFlashStatus(status))
                FUZZ_CHECK(error == rtu::UnknownFlashStatus);
            else if (status != quint8(rtu::FlashStatus::Complete))
                FUZZ_CHECK(error == status);
            else
                FUZZ_CHECK(error != rtu::UnknownFlashStatus && error != status);
        }
        return 0;
    }
    const bool exception = at(answer, 1) == (cmd | rtu::exceptionFlag);
    // The exception codes the sensor names, passed on as they are.
    static const std::set<int> namedExceptions = {1, 2, 3, 4, 10, 11};
    if (namedExceptions.count(error) != 0) {
        FUZZ_CHECK(exception && answer.size() >= 3 && at(answer, 2) == error);
        return 0;
    }
    switch (error) {
    case rtu::NoError:
        FUZZ_CHECK(answer.size() == expectedSize);
        FUZZ_CHECK(at(answer, 0) == addr);
        FUZZ_CHECK(at(answer, 1) == cmd);
        break;
    case rtu::UnknownError:
        FUZZ_CHECK(exception);
        break;
    case rtu::WrongLength:
        FUZZ_CHECK(!exception && answer.size() != expectedSize);
        break;
    case rtu::WrongAddress:
        FUZZ_CHECK(!exception && answer.size() == expectedSize && at(answer, 0) != addr);
        break;
    case rtu::WrongFunction:
        FUZZ_CHECK(!exception && answer.size() == expectedSize && at(answer, 0) == addr &&
                   at(answer, 1) != cmd);
        break;
    default:
        FUZZ_CHECK(!"a code no answer to this request can give");
    }
    return 0;
}
