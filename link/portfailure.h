#pragma once

#include <QSerialPort>
#include <QString>

// Why the serial port could not be used, in the terms the service engineer acts on.
enum class PortFault
{
    Missing,      // no such device: the adapter is not plugged in, or the name is wrong
    Busy,         // another program holds the port
    NoPermission, // this user may not read and write the device
    Unplugged,    // the device went away while open
    Rejected,     // the port did not take the line settings
    Other
};

// The fault behind a failed open. The port reports a busy device and a forbidden one alike,
// so whether this user may read and write the device decides between the two.
PortFault openFault(QSerialPort::SerialPortError error, bool userMayAccess);

// The monitor line for a fault, in Russian, saying what to do. systemText, the port's own
// message, is added where the fault is not one the program can name.
QString portFaultText(PortFault fault, const QString& systemText);

// Whether this user may read and write the device behind a port name; true when the system
// does not tell (the port's own open decides then).
bool userMayAccess(const QString& portName);
