#pragma once

#include <QFile>
#include <QList>
#include <unistd.h>

// Resident memory of the process in MB (2^20 bytes), from /proc; 0 where it cannot be read.
inline double residentMb()
{
    QFile statm(QStringLiteral("/proc/self/statm"));
    if (!statm.open(QIODevice::ReadOnly))
        return 0;
    const QList<QByteArray> fields = statm.readAll().split(' ');
    return fields.size() > 1 ? double(fields.at(1).toLongLong()) * double(sysconf(_SC_PAGESIZE)) /
                                   (1024.0 * 1024.0)
                             : 0;
}
