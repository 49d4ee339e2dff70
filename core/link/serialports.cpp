#include "core/link/serialports.h"

#include <QSerialPortInfo>

QList<PortEntry> serialPorts()
{
    QList<PortEntry> ports;
    const QString extra = qEnvironmentVariable("VEL_DUO300_EXTRA_PORTS");
    for (const QString& path : extra.split(QLatin1Char(':'), Qt::SkipEmptyParts))
        ports.append({path, path, QStringLiteral("дополнительный порт (VEL_DUO300_EXTRA_PORTS)")});
    for (const QSerialPortInfo& info : QSerialPortInfo::availablePorts())
        ports.append({info.portName(), info.systemLocation(), info.description()});
    return ports;
}
