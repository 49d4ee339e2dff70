#include "codec/filefault.h"

#include <cerrno>

QString systemErrorText(int errnum)
{
    switch (errnum) {
    case ENOENT:
        return QStringLiteral("нет такого файла или папки");
    case EACCES:
    case EPERM:
        return QStringLiteral("нет прав доступа");
    case EISDIR:
        return QStringLiteral("это папка, а не файл");
    case ENOTDIR:
        return QStringLiteral("часть пути - не папка");
    case ENOSPC:
        return QStringLiteral("нет места на диске");
    case EROFS:
        return QStringLiteral("файловая система только для чтения");
    case ENAMETOOLONG:
        return QStringLiteral("слишком длинное имя");
    case EEXIST:
        return QStringLiteral("файл уже существует");
    case EMFILE:
    case ENFILE:
        return QStringLiteral("открыто слишком много файлов");
    case EIO:
        return QStringLiteral("ошибка ввода-вывода");
    case ELOOP:
        return QStringLiteral("слишком много символических ссылок в пути");
    default:
        break;
    }
    return QStringLiteral("системная ошибка %1").arg(errnum);
}

bool openFile(QFileDevice& file, QIODevice::OpenMode mode, QString* why)
{
    errno = 0;
    if (file.open(mode))
        return true;
    // The open's own errno, taken before anything else may change it; a fault Qt found without
    // the system (a name it refuses) has none, and only its text to tell.
    const int errnum = errno;
    *why = errnum != 0 ? systemErrorText(errnum) : file.errorString();
    return false;
}
