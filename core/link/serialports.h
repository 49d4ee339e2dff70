#pragma once

#include <QList>
#include <QString>

// A serial port the program offers.
struct PortEntry
{
    QString name;        // as the window lists it: the system's short name, or the path itself
    QString device;      // the path to open
    QString description; // what the system says it is
};

// The ports named by VEL_DUO300_EXTRA_PORTS (paths separated by ':') first, since
// pseudo-terminals (a simulated bus) are not enumerated, then those the system knows.
QList<PortEntry> serialPorts();
