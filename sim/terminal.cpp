#include "sim/terminal.h"

#include <cerrno>
#include <cstring>
#include <fcntl.h>
#include <stdlib.h>
#include <termios.h>
#include <unistd.h>
#include <utility>

namespace sim {
namespace {

int baudOf(speed_t speed)
{
    static const std::pair<speed_t, int> table[] = {
        {B50, 50},         {B75, 75},         {B110, 110},         {B134, 134},
        {B150, 150},       {B200, 200},       {B300, 300},         {B600, 600},
        {B1200, 1200},     {B1800, 1800},     {B2400, 2400},       {B4800, 4800},
        {B9600, 9600},     {B19200, 19200},   {B38400, 38400},     {B57600, 57600},
        {B115200, 115200}, {B230400, 230400}, {B460800, 460800},   {B500000, 500000},
        {B576000, 576000}, {B921600, 921600}, {B1000000, 1000000},
    };
    for (const auto& entry : table) {
        if (entry.first == speed)
            return entry.second;
    }
    return 0;
}

} // namespace

bool openTerminal(Terminal& terminal, QString* error)
{
    auto fail = [&](const char* what) {
        if (error)
            *error = systemFault(what);
        closeFd(terminal.slave);
        closeFd(terminal.master);
        return false;
    };
    terminal.master = posix_openpt(O_RDWR | O_NOCTTY | O_NONBLOCK | O_CLOEXEC);
    if (terminal.master < 0)
        return fail("posix_openpt");
    if (grantpt(terminal.master) != 0 || unlockpt(terminal.master) != 0)
        return fail("unlockpt");
    char name[128];
    if (ptsname_r(terminal.master, name, sizeof name) != 0)
        return fail("ptsname");
    terminal.slave = ::open(name, O_RDWR | O_NOCTTY | O_CLOEXEC);
    if (terminal.slave < 0)
        return fail(name);
    // Raw before the program opens it: no echo of requests back to the master.
    termios settings;
    if (tcgetattr(terminal.slave, &settings) != 0)
        return fail("tcgetattr");
    cfmakeraw(&settings);
    if (tcsetattr(terminal.slave, TCSANOW, &settings) != 0)
        return fail("tcsetattr");
    terminal.slavePath = QString::fromLocal8Bit(name);
    return true;
}

bool linkTerminal(const QString& slavePath, const QByteArray& link, QString* error)
{
    const QByteArray fresh = link + ".new";
    ::unlink(fresh.constData());
    if (::symlink(slavePath.toLocal8Bit().constData(), fresh.constData()) != 0 ||
        ::rename(fresh.constData(), link) != 0) {
        if (error)
            *error = systemFault("symlink");
        return false;
    }
    return true;
}

int lineBaud(int slave)
{
    termios settings;
    if (slave < 0 || tcgetattr(slave, &settings) != 0)
        return 0;
    return baudOf(cfgetospeed(&settings));
}

QString systemFault(const char* what)
{
    return QStringLiteral("%1: %2").arg(QLatin1String(what),
                                        QString::fromLocal8Bit(std::strerror(errno)));
}

void closeFd(int& fd)
{
    if (fd >= 0)
        ::close(fd);
    fd = -1;
}

} // namespace sim
