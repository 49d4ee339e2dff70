#include "link/portfailure.h"

#ifdef Q_OS_UNIX
#include <QFile>
#include <cerrno>
#include <unistd.h>
#endif

PortFault openFault(QSerialPort::SerialPortError error, bool userMayAccess)
{
    switch (error) {
    case QSerialPort::DeviceNotFoundError:
        return PortFault::Missing;
    case QSerialPort::PermissionError:
        return userMayAccess ? PortFault::Busy : PortFault::NoPermission;
    case QSerialPort::ResourceError:
        return PortFault::Unplugged;
    default:
        return PortFault::Other;
    }
}

QString portFaultText(PortFault fault, const QString& systemText)
{
    switch (fault) {
    case PortFault::Missing:
        return QStringLiteral("Порт не найден: адаптер не подключён или имя порта неверно. "
                              "Подключите адаптер и нажмите «Поиск Com портов».");
    case PortFault::Busy:
        return QStringLiteral("Порт занят другой программой. Закройте её и выберите датчик "
                              "снова.");
    case PortFault::NoPermission:
        return QStringLiteral("Нет прав на доступ к порту. Добавьте пользователя в группу "
                              "dialout (sudo usermod -aG dialout $USER) и войдите в систему "
                              "заново.");
    case PortFault::Unplugged:
        return QStringLiteral("Связь с портом потеряна: адаптер отключён. Подключите его снова, "
                              "опрос возобновится сам.");
    case PortFault::Rejected:
        return QStringLiteral("Порт не принял настройки линии (%1).").arg(systemText);
    case PortFault::Other:
        break;
    }
    return QStringLiteral("Порт не открыт (%1).").arg(systemText);
}

bool userMayAccess(const QString& portName)
{
#ifdef Q_OS_UNIX
    // Names without a path are device names under /dev, as the serial port module takes them.
    const QString path =
        portName.startsWith(QLatin1Char('/')) ? portName : QStringLiteral("/dev/") + portName;
    return ::access(QFile::encodeName(path).constData(), R_OK | W_OK) == 0 || errno != EACCES;
#else
    Q_UNUSED(portName)
    return true;
#endif
}
