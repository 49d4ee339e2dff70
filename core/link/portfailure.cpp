#include "core/link/portfailure.h"

#ifdef Q_OS_UNIX
#include <QFile>
#include <cerrno>
#include <poll.h>
#include <sys/stat.h>
#include <termios.h>
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

QString commandLinePortFaultText(PortFault fault, const QString& systemText)
{
    switch (fault) {
    case PortFault::Missing:
        return QStringLiteral("Порт не найден: адаптер не подключён или имя порта неверно. "
                              "Подключите адаптер; порты системы перечисляет velduo ports.");
    case PortFault::Busy:
        return QStringLiteral("Порт занят другой программой. Закройте её и повторите команду.");
    case PortFault::Unplugged:
        return QStringLiteral("Связь с портом потеряна: адаптер отключён. Подключите его снова "
                              "и повторите команду.");
    case PortFault::NoPermission:
    case PortFault::Rejected:
    case PortFault::Other:
        break;
    }
    // These name no window control.
    return portFaultText(fault, systemText);
}

QString pollingPortFaultText(PortFault fault, const QString& systemText)
{
    const QString resumes = QStringLiteral(" Порт проверяется раз в секунду, опрос возобновится "
                                           "сам.");
    switch (fault) {
    case PortFault::Missing:
        return QStringLiteral("Порт не найден: адаптер не подключён или имя порта неверно "
                              "(порты системы перечисляет velduo ports).") +
               resumes;
    case PortFault::Busy:
        return QStringLiteral("Порт занят другой программой.") + resumes;
    case PortFault::Unplugged:
        return QStringLiteral("Связь с портом потеряна: адаптер отключён.") + resumes;
    case PortFault::NoPermission:
    case PortFault::Rejected:
    case PortFault::Other:
        break;
    }
    return portFaultText(fault, systemText) + resumes;
}

#ifdef Q_OS_UNIX
namespace {

// Names without a path are device names under /dev, as the serial port module takes them.
QByteArray devicePath(const QString& portName)
{
    return QFile::encodeName(
        portName.startsWith(QLatin1Char('/')) ? portName : QStringLiteral("/dev/") + portName);
}

} // namespace
#endif

bool userMayAccess(const QString& portName)
{
#ifdef Q_OS_UNIX
    return ::access(devicePath(portName).constData(), R_OK | W_OK) == 0 || errno != EACCES;
#else
    Q_UNUSED(portName)
    return true;
#endif
}

bool isReadFault(QSerialPort::SerialPortError error)
{
    return error == QSerialPort::ReadError || error == QSerialPort::ResourceError;
}

bool portGone(const PortReport& report)
{
    if (report.known)
        return !report.nodePresent || report.hungUp || !report.usable;
    return report.error == QSerialPort::ResourceError || report.inARow >= faultsForUnusable;
}

PortReport reportPortFault(QSerialPort::SerialPortError error, const QString& portName,
                           qintptr descriptor, int inARow)
{
    PortReport report;
    report.error = error;
    report.inARow = inARow;
#ifdef Q_OS_UNIX
    struct stat node;
    report.nodePresent = ::stat(devicePath(portName).constData(), &node) == 0;
    // A hung-up line stays readable with nothing to read; poll says so, and a settings query
    // of its descriptor fails.
    pollfd line{int(descriptor), POLLIN, 0};
    int polled;
    do {
        polled = ::poll(&line, 1, 0);
    } while (polled < 0 && errno == EINTR);
    report.hungUp = polled < 0 || (line.revents & (POLLHUP | POLLERR | POLLNVAL)) != 0;
    termios settings;
    report.usable = ::tcgetattr(int(descriptor), &settings) == 0;
#else
    Q_UNUSED(portName)
    Q_UNUSED(descriptor)
    report.known = false;
#endif
    return report;
}
