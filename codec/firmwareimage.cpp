#include "codec/firmwareimage.h"

#include "codec/blocks.h"
#include "codec/plural.h"

#include <QFile>
#include <QtEndian>

namespace firmware {

QByteArray paddedImage(const QByteArray& image)
{
    QByteArray padded = image;
    padded.append(QByteArray((4 - padded.size() % 4) % 4, char(0xFF)));
    return padded;
}

UploadPlan uploadPlan(const QByteArray& image)
{
    const QByteArray padded = paddedImage(image);
    UploadPlan plan;
    for (int offset = 0; offset < padded.size(); offset += chunkSize) {
        const QByteArray bytes = padded.mid(offset, chunkSize);
        plan.chunks.append({quint16(areaStart + offset), quint16(bytes.size() / 2), bytes});
    }
    plan.checksum =
        invertedSum(wordSum(reinterpret_cast<const uchar*>(padded.constData()), padded.size()));
    QByteArray word(4, '\0');
    qToLittleEndian(plan.checksum, word.data());
    plan.checksumWrite = {checksumAddr, 2, word};
    return plan;
}

namespace {

QString tooLarge(const QString& name, qint64 size)
{
    return QStringLiteral("Файл %1 слишком велик: %2, допустимо не более %3.")
        .arg(name, bytesText(size), bytesText(areaSize));
}

} // namespace

QString imageRefusal(const QByteArray& bytes, const QString& name)
{
    if (bytes.size() > areaSize)
        return tooLarge(name, bytes.size());
    if (bytes.isEmpty())
        return QStringLiteral("Файл %1 пуст.").arg(name);
    const QByteArray underChecksum = paddedImage(bytes).mid(checksumOffset);
    if (underChecksum.count(char(0xFF)) != underChecksum.size())
        return QStringLiteral("Файл %1 занимает слово контрольной суммы: байты %2–%3 образа "
                              "(адрес 0x%4, последние 4 байта области приложения) должны быть "
                              "пустыми (0xFF), туда записывается контрольная сумма образа.")
            .arg(name)
            .arg(checksumOffset)
            .arg(areaSize - 1)
            .arg(QString::number(checksumAddr, 16).toUpper());
    return QString();
}

ImageFile readImageFile(const QString& name)
{
    if (name.isEmpty())
        return {{}, QStringLiteral("Выберите файл для перепрошивки.")};
    QFile file(name);
    if (!file.exists())
        return {{}, name + QStringLiteral(" файла не существует.")};
    if (!file.open(QIODevice::ReadOnly))
        return {{}, QStringLiteral("Ошибка открытия файла ") + name};
    // One byte more than fits is enough to tell that the file is too large.
    const QByteArray bytes = file.read(areaSize + 1);
    if (file.error() != QFileDevice::NoError)
        return {{}, QStringLiteral("Ошибка чтения файла ") + name};
    if (file.size() > areaSize)
        return {{}, tooLarge(name, file.size())};
    const QString refusal = imageRefusal(bytes, name);
    if (!refusal.isEmpty())
        return {{}, refusal};
    return {bytes, {}};
}

} // namespace firmware
