#include "codec/errortext.h"
#include "core/ops/confirmation.h"
#include "core/ops/operations.h"

#include <QFileInfo>

namespace ops {

namespace {

const QString failureTitle = QStringLiteral("Ошибка");

} // namespace

Question Reprogram::confirmation(const DeviceVEL_DUO300& dev, const QString& imagePath)
{
    return {QStringLiteral("flash"),
            Icon::Question,
            QStringLiteral("Перепрограммирование"),
            reprogConfirmationText(dev, QFileInfo(imagePath)),
            Yes | No,
            No};
}

void Reprogram::step(int newValue, int newMaximum)
{
    value = newValue;
    maximum = newMaximum;
    host.progress(value, maximum);
}

Result Reprogram::writeLoaderRequest(DeviceVEL_DUO300* dev)
{
    // Only a block read whole and sound in this run is written back: the request must not carry
    // settings that the sensor does not hold. A sensor that no longer answers settings reads
    // may sit in its loader already, so the procedure goes on without the request.
    const Result read = soundSettings(dev, failureTitle, true);
    if (read.kind == Result::Failed || read.kind == Result::Ending)
        return read;
    if (!read.done()) {
        line.note(QStringLiteral("Error: "),
                  QStringLiteral("Запрос на переход в загрузчик не записан: не удалось "
                                 "считать настройки датчика: ") +
                      errorTextFor(read.error));
        return Result::success();
    }
    const quint32 readCode = dev->ust.loaderCode;
    UstBlock block = dev->ust;
    block.loaderCode = regmap::loaderRequest;
    sealChecksum(block);
    writeBlock(dev, block, failureTitle);
    // The request is for this run only: a later settings write from the record must not send
    // the sensor into its loader again at its next start.
    dev->ust.loaderCode = readCode;
    sealChecksum(dev->ust);
    return Result::success();
}

Result Reprogram::run(DeviceVEL_DUO300* dev, const QString& imagePath)
{
    // Read and checked whole before the first byte goes out: a bad image found after the
    // erase would leave the sensor without an application.
    return run(dev, imagePath, firmware::readImageFile(imagePath));
}

Result Reprogram::run(DeviceVEL_DUO300* dev, const QString& imagePath,
                      const firmware::ImageFile& image)
{
    if (!image.refusal.isEmpty()) {
        line.note(QStringLiteral("Warning: "), image.refusal);
        return Result::refused(QStringLiteral("Warning"), image.refusal);
    }
    if (!dev)
        return Result::refused(QString(), QString());
    if (host.ask(confirmation(*dev, imagePath)) != Yes)
        return Result::declined();
    host.committed();

    const firmware::UploadPlan plan = firmware::uploadPlan(image.bytes);
    const quint8 addr = quint8(dev->addr);
    step(0, 100);
    // A sensor that rejected the last command may sit in its loader already. Failures of the
    // loader entry and of the erase are shown, and the procedure goes on.
    leftInLoader = dev->cmdRejected;
    if (!dev->cmdRejected) {
        const Result request = writeLoaderRequest(dev);
        if (request.kind == Result::Failed) {
            line.note(QStringLiteral("Error: "),
                      QStringLiteral("Перепрограммирование остановлено: ") + request.text);
            return Result::failed(0, failureTitle,
                                  QStringLiteral("Перепрограммирование остановлено, датчик "
                                                 "работает по-прежнему:\n") +
                                      request.text);
        }
        if (line.ending())
            return Result::ending();
        const Reply entry = line.goToLoader(addr, 3);
        if (entry.ending)
            return Result::ending();
        record(dev, entry);
        leftInLoader = entry.ok();
        if (!entry.ok())
            host.ask({QStringLiteral("loader"), Icon::Warning, failureTitle,
                      QStringLiteral("Ошибка перехода в загрузчик:\n") + errorTextFor(entry.error),
                      Ok, NoButton});
        step(3, maximum);
        // The sensor needs the time to restart into its loader.
        if (!line.pause(1000))
            return Result::ending();
    }

    const Reply erase = line.erasePage(addr, firmware::firstPage, firmware::pageCount, 3);
    if (erase.ending)
        return Result::ending();
    record(dev, erase);
    // Its application is gone: only an upload brings the sensor back.
    leftInLoader = leftInLoader || erase.ok();
    if (!erase.ok())
        host.ask({QStringLiteral("erase"), Icon::Warning, failureTitle,
                  QStringLiteral("Ошибка очистки флеш:\n") + errorTextFor(erase.error), Ok,
                  NoButton});

    const auto uploadFailed = [this](int error) {
        line.note(QStringLiteral("Error: "),
                  QStringLiteral("Ошибка перепрограммирования устройства"));
        return Result::failed(error, failureTitle,
                              QStringLiteral("Ошибка перепрограммирования  устройства:\n") +
                                  errorTextFor(error));
    };
    // One step for each chunk and one for the checksum.
    step(value, value + plan.chunks.size() + 1);
    for (const firmware::FlashWrite& chunk : plan.chunks) {
        const Reply written = line.write(addr, chunk.regAddr, chunk.regCount, chunk.bytes, 3);
        if (written.ending)
            return Result::ending();
        record(dev, written);
        if (!written.ok())
            return uploadFailed(written.error);
        step(value + 1, maximum);
    }
    const firmware::FlashWrite& sum = plan.checksumWrite;
    const Reply summed = line.write(addr, sum.regAddr, sum.regCount, sum.bytes, 3);
    if (summed.ending)
        return Result::ending();
    if (!summed.ok())
        return uploadFailed(summed.error);
    step(value + 1, maximum);

    const Reply start = line.goToMainAppl(addr, 1);
    if (start.ending)
        return Result::ending();
    record(dev, start);
    leftInLoader = !start.ok();
    if (!start.ok())
        return Result::failed(start.error, failureTitle,
                              QStringLiteral("Ошибка перехода на основную программу:\n") +
                                  errorTextFor(start.error));
    step(value, value);
    return Result::success();
}

} // namespace ops
