#include "core/link/endsignals.h"

#include <QSocketNotifier>
#include <cerrno>
#include <csignal>
#include <sys/socket.h>
#include <unistd.h>

namespace {

int signalSocket[2] = {-1, -1}; // [0] written by the handler, [1] read by the event loop

void onEndSignal(int signo)
{
    // Only async-signal-safe calls here.
    const int savedErrno = errno;
    const char byte = char(signo);
    if (::write(signalSocket[0], &byte, 1) < 0) {
        // The socket is full: a wake-up is pending already.
    }
    errno = savedErrno;
}

bool failed(QString* why)
{
    if (why)
        *why = qt_error_string();
    return false;
}

} // namespace

bool EndSignals::install(std::initializer_list<int> signos, QString* why)
{
    if (signalSocket[0] < 0 &&
        ::socketpair(AF_UNIX, SOCK_STREAM | SOCK_NONBLOCK | SOCK_CLOEXEC, 0, signalSocket) != 0)
        return failed(why);

    auto* notifier = new QSocketNotifier(signalSocket[1], QSocketNotifier::Read, this);
    connect(notifier, &QSocketNotifier::activated, this, [this] {
        char bytes[16];
        while (::read(signalSocket[1], bytes, sizeof bytes) > 0) {
        }
        emit arrived();
    });

    struct sigaction action = {};
    action.sa_handler = onEndSignal;
    sigemptyset(&action.sa_mask);
    // A signal that interrupts a system call must not fail it; a repeated one takes the
    // default action.
    action.sa_flags = SA_RESTART | SA_RESETHAND;
    for (int signo : signos) {
        if (::sigaction(signo, &action, nullptr) != 0)
            return failed(why);
    }
    return true;
}
