#include "codec/blocks.h"

#include <QTextCodec>
#include <cstring>

quint32 wordSum(const uchar* bytes, int len, quint32 start)
{
    quint32 sum = start;
    for (int i = 0; i + 4 <= len; i += 4)
        sum += qFromLittleEndian<quint32>(bytes + i);
    return sum;
}

quint32 ustChecksum(const UstBlock& ust)
{
    return invertedSum(
        wordSum(reinterpret_cast<const uchar*>(&ust), int(offsetof(UstBlock, checksum))));
}

void sealChecksum(UstBlock& ust)
{
    ust.checksum = ustChecksum(ust);
}

UstBlock defaultUstBlock()
{
    UstBlock ust{};
    ust.speed = factorySpeed / 100; // the block holds hundreds of bit/s
    ust.threshold = 100;
    ust.mbAddr = factoryAddress;
    ust.zeroAdc = 2048;
    ust.nomAdc = 4096;
    sealChecksum(ust);
    return ust;
}

void copyFromAnswer(void* dst, int size, const QByteArray& answer, int offset)
{
    auto* out = static_cast<char*>(dst);
    const int available = qBound(0, answer.size() - offset, size);
    if (available > 0)
        std::memcpy(out, answer.constData() + offset, size_t(available));
    std::memset(out + available, 0, size_t(size - available));
}

namespace {

// Sensors in the field carry names written by tools on Russian Windows: one byte a letter,
// whatever the encoding of the system this program runs on.
QTextCodec* nameCodec()
{
    static QTextCodec* const codec = [] {
        QTextCodec* found = QTextCodec::codecForName("Windows-1251");
        if (!found)
            qFatal("the Windows-1251 text codec is missing");
        return found;
    }();
    return codec;
}

} // namespace

bool nameEncodable(const QString& name)
{
    return nameCodec()->canEncode(name);
}

QString nameText(const UstBlock& ust)
{
    return nameCodec()->toUnicode(ust.name, int(qstrnlen(ust.name, sizeof ust.name)));
}

void setNameText(UstBlock& ust, const QString& name)
{
    const QByteArray bytes = nameCodec()->fromUnicode(name);
    std::memset(ust.name, 0, sizeof ust.name);
    std::memcpy(ust.name, bytes.constData(), size_t(qMin(bytes.size(), int(sizeof ust.name))));
}

QString fullNameText(const UstBlock& ust)
{
    return nameCodec()->toUnicode(ust.name, int(sizeof ust.name));
}

QString versionText(const ParamBlock& param)
{
    return QString::fromLatin1(param.version, int(qstrnlen(param.version, sizeof param.version)));
}

bool paramsAnswered(const ParamBlock& param)
{
    static const ParamBlock blank{};
    return std::memcmp(&param, &blank, sizeof param) != 0;
}
