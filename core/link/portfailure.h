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
// The same for the command line: what to do in its own terms, with no window to click in.
QString commandLinePortFaultText(PortFault fault, const QString& systemText);
// The same for a command that keeps polling (velduo watch): the port is tried again once a
// second, so what to do ends in polling by itself rather than in a new command.
QString pollingPortFaultText(PortFault fault, const QString& systemText);

// Whether this user may read and write the device behind a port name; true when the system
// does not tell (the port's own open decides then).
bool userMayAccess(const QString& portName);

// A read fault of an open port, and what the system says of its device at that moment.
struct PortReport
{
    QSerialPort::SerialPortError error = QSerialPort::NoError;
    // The system could be asked about the device. Where it cannot, the fault's kind and its
    // repetition alone decide.
    bool known = true;
    bool nodePresent = true; // the device node is still there
    bool hungUp = false;     // the system reports the line hung up, or the descriptor invalid
    bool usable = true;      // the open descriptor still answers a query of its line settings
    int inARow = 1;          // read faults in a row with no byte received between, this included
};

// A fault of reading the port, which may mean that the adapter went away.
bool isReadFault(QSerialPort::SerialPortError error);

// Where the system cannot be asked, this many read faults in a row make the port unusable.
constexpr int faultsForUnusable = 3;

// Whether a read fault means that the adapter went away; otherwise the device is still there,
// and the line carries on. A zero-byte read of a live port comes as a read fault too, and, with
// errno left over from an earlier call, even as a resource fault: the kind alone cannot tell an
// unplugged adapter from a busy machine, the system can.
bool portGone(const PortReport& report);

// Asks the system about the device behind an open port (descriptor: QSerialPort::handle()).
PortReport reportPortFault(QSerialPort::SerialPortError error, const QString& portName,
                           qintptr descriptor, int inARow);
