#include "gui/notices.h"
#include "gui/buildinfo.h"

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

QString sessionStartLine(const QDateTime& at)
{
    return QStringLiteral("=== %1 %2 %3 ===")
        .arg(at.toString(QStringLiteral("yyyy-MM-dd hh:mm:ss")),
             QString::fromLatin1(buildinfo::programName), QString::fromLatin1(buildinfo::version));
}

QString logUnavailableText(const QString& logPath, const QString& reason)
{
    return QStringLiteral("Журнал не ведётся: файл %1 не удалось открыть для дописывания (%2).")
        .arg(QDir::toNativeSeparators(logPath), reason);
}
