#pragma once

#include <QFileDevice>
#include <QString>

// Why a file could not be opened, in Russian: Qt's own texts are the system's English ones.

// The reason for a system error number: our words for the common ones, the number for the rest.
QString systemErrorText(int errnum);
// Opens the file; false with *why set to the reason.
bool openFile(QFileDevice& file, QIODevice::OpenMode mode, QString* why);
