#include "reprog/firmwareimage.h"

#include "sensor/blocks.h"

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
    const qint64 size = qMax(file.size(), qint64(bytes.size()));
    if (size > areaSize)
        return {{},
                QStringLiteral("Файл %1 слишком велик: %2 байт, допустимо не более %3 байт.")
                    .arg(name)
                    .arg(size)
                    .arg(areaSize)};
    if (bytes.isEmpty())
        return {{}, QStringLiteral("Файл %1 пуст.").arg(name)};
    return {bytes, {}};
}

} // namespace firmware
