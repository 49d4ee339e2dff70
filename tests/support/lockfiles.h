#pragma once

#include <QString>
#include <QStringList>

// QSerialPort's lock files for a port: LCK.. and the device path below /dev with '/' as '_',
// in every folder where it may write one.
QStringList lockFiles(const QString& portPath);
