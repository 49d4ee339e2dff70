// An answer of any length copied into the register blocks, their checksums and the text
// fields. Input: the data offset (one byte), then the answer.
#include "check.h"
#include "codec/blocks.h"

#include <QByteArray>
#include <QString>
#include <cstddef>
#include <cstdint>
#include <cstring>

namespace {

// A block between two guards that a copy must leave alone.
template <typename Block> struct Guarded
{
    char before[8];
    Block block;
    char after[8];
};

template <typename Block> void checkCopy(const QByteArray& answer, int offset)
{
    Guarded<Block> guarded;
    std::memset(&guarded, 0xA5, sizeof guarded);
    copyFromAnswer(&guarded.block, int(sizeof(Block)), answer, offset);
    for (size_t i = 0; i < sizeof guarded.before; ++i)
        FUZZ_CHECK(guarded.before[i] == char(0xA5) && guarded.after[i] == char(0xA5));
    const auto* copied = reinterpret_cast<const char*>(&guarded.block);
    for (int i = 0; i < int(sizeof(Block)); ++i) {
        const int from = offset + i;
        FUZZ_CHECK(copied[i] == (from < answer.size() ? answer.at(from) : '\0'));
    }
}

// The checksum field counted afresh: ~(sum of the nine little-endian words before it).
quint32 independentChecksum(const UstBlock& ust)
{
    const auto* bytes = reinterpret_cast<const uchar*>(&ust);
    quint32 sum = 0;
    for (int word = 0; word < 9; ++word) {
        quint32 value = 0;
        for (int b = 3; b >= 0; --b)
            value = value << 8 | bytes[4 * word + b];
        sum += value;
    }
    return ~sum;
}

void checkText(const UstBlock& ust)
{
    const int nameBytes = int(qstrnlen(ust.name, sizeof ust.name));
    const QString name = nameText(ust);
    // A byte is at most one character; the text stops at the first NUL.
    FUZZ_CHECK(name.size() <= nameBytes && !name.contains(QChar(0)));
    FUZZ_CHECK(fullNameText(ust).size() <= int(sizeof ust.name));

    // Writing a name back changes the name field alone and leaves it NUL padded.
    UstBlock written = ust;
    setNameText(written, name + QStringLiteral("-sensor-name-longer-than-the-field"));
    FUZZ_CHECK(std::memcmp(&written, &ust, offsetof(UstBlock, name)) == 0);
    FUZZ_CHECK(std::memcmp(&written.loaderCode, &ust.loaderCode,
                           sizeof(UstBlock) - offsetof(UstBlock, loaderCode)) == 0);
    const int writtenBytes = int(qstrnlen(written.name, sizeof written.name));
    for (int i = writtenBytes; i < int(sizeof written.name); ++i)
        FUZZ_CHECK(written.name[i] == '\0');
}

void checkVersion(const ParamBlock& param)
{
    const int bytes = int(qstrnlen(param.version, sizeof param.version));
    const QString version = versionText(param);
    FUZZ_CHECK(version.size() == bytes);
    for (int i = 0; i < bytes; ++i)
        FUZZ_CHECK(version.at(i).unicode() == uchar(param.version[i]));
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size)
{
    if (size < 1)
        return 0;
    const int offset = data[0];
    const QByteArray answer(reinterpret_cast<const char*>(data + 1), int(size - 1));

    checkCopy<UstBlock>(answer, offset);
    checkCopy<ParamBlock>(answer, offset);
    checkCopy<quint8[2]>(answer, offset);

    UstBlock ust;
    copyFromAnswer(&ust, int(sizeof ust), answer);
    FUZZ_CHECK(ustChecksum(ust) == independentChecksum(ust));
    FUZZ_CHECK((ust.checksum == ustChecksum(ust)) == (ust.checksum == independentChecksum(ust)));
    UstBlock sealedUst = ust;
    sealChecksum(sealedUst);
    FUZZ_CHECK(sealedUst.checksum == independentChecksum(ust));
    FUZZ_CHECK(std::memcmp(&sealedUst, &ust, offsetof(UstBlock, checksum)) == 0);
    checkText(ust);

    ParamBlock param;
    copyFromAnswer(&param, int(sizeof param), answer);
    checkVersion(param);
    return 0;
}
