#include "core/link/monitorlog.h"

#include <QTextStream>

void appendLogLine(QFileDevice& log, const QString& line)
{
    if (!log.isOpen())
        return;
    QTextStream stream(&log);
    stream.setCodec("UTF-8");
    stream << line << '\n';
    stream.flush();
}
