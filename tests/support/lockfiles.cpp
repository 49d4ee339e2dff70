#include "support/lockfiles.h"

#include <QFileInfo>
#include <QStandardPaths>

QStringList lockFiles(const QString& portPath)
{
    QString name = portPath.mid(portPath.startsWith(QLatin1String("/dev/")) ? 5 : 0);
    name.replace(QLatin1Char('/'), QLatin1Char('_'));
    QStringList found;
    for (const QString& dir :
         {QStringLiteral("/var/lock"), QStringLiteral("/etc/locks"),
          QStringLiteral("/var/spool/locks"), QStringLiteral("/var/spool/uucp"),
          QStringLiteral("/tmp"), QStringLiteral("/var/tmp"), QStringLiteral("/var/lock/lockdev"),
          QStringLiteral("/run/lock"),
          QStandardPaths::writableLocation(QStandardPaths::TempLocation)}) {
        const QString path = dir + QStringLiteral("/LCK..") + name;
        if (QFileInfo::exists(path))
            found << path;
    }
    return found;
}
