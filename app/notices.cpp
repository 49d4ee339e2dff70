#include "app/notices.h"

#include <QDir>

QString helpMissingText(const QString& fileName, const QStringList& searchedDirs)
{
    QStringList dirs;
    for (const QString& dir : searchedDirs)
        dirs << QDir::toNativeSeparators(dir);
    return QStringLiteral("Файл справки %1 не найден. Он ищется в папках:\n%2")
        .arg(fileName, dirs.join(QLatin1Char('\n')));
}

QString helpNoViewerText(const QString& manualPath)
{
    return QStringLiteral("Справку не удалось открыть: не установлена программа для просмотра "
                          "файлов PDF. Установите её или откройте файл вручную:\n%1")
        .arg(QDir::toNativeSeparators(manualPath));
}

