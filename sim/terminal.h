#pragma once

#include <QByteArray>
#include <QString>

// The pseudo-terminal under the simulated bus: the master side the bus serves, the slave side
// that the program under test opens as it would open an adapter.
namespace sim {

struct Terminal
{
    int master = -1; // non-blocking
    int slave = -1;  // kept open for the line settings and so the master never hangs up
    QString slavePath;
};

// Opens a raw pair (no echo of requests back to the master). On failure closes what it opened
// and says which step failed and why.
bool openTerminal(Terminal& terminal, QString* error);

// Points a symbolic link at the slave side, as a fixed device name names an adapter. Made beside
// the link and renamed over it, so that the name is never missing.
bool linkTerminal(const QString& slavePath, const QByteArray& link, QString* error);

// The baud rate the program set on the slave side; 0 when it is none of the known ones.
int lineBaud(int slave);

// The failed step and the system's reason: "what: strerror(errno)".
QString systemFault(const char* what);

void closeFd(int& fd);

} // namespace sim
