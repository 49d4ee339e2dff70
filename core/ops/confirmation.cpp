#include "core/ops/confirmation.h"
#include "codec/plural.h"
#include "core/sensor/format.h"

#include <QDateTime>

namespace {

QString nameClause(const DeviceVEL_DUO300& dev)
{
    if (!dev.ustRead)
        return QStringLiteral("название не считано");
    const QString name = nameText(dev.ust);
    if (name.isEmpty())
        return QStringLiteral("без названия");
    return QStringLiteral("название «%1»").arg(name);
}

} // namespace

QString reprogConfirmationText(const DeviceVEL_DUO300& dev, const QFileInfo& image)
{
    return QStringLiteral("Датчик: адрес %1, скорость %2, %3, %4.\n"
                          "Файл: %5, %6, изменён %7.\n\n"
                          "Программа датчика будет стёрта и заменена программой из этого файла. "
                          "Продолжить?")
        .arg(QString::number(dev.addr), QString::number(dev.baudrate),
             sensorTypeText(sensorTypeOf(dev.param)), nameClause(dev), image.fileName(),
             bytesText(image.size()),
             image.lastModified().toString(QStringLiteral("dd.MM.yyyy hh:mm:ss")));
}
