#pragma once

// What the application shell tells the user and the log about itself. Free of widgets, so
// that the texts can be tested directly.

#include <QDateTime>
#include <QString>
#include <QStringList>

// The help manual was found in none of the folders searched.
QString helpMissingText(const QString& fileName, const QStringList& searchedDirs);
// The manual is there, but no program on the desktop takes a PDF file.
QString helpNoViewerText(const QString& manualPath);

// The line that opens a session in the appended log, so that the runs of many days can be told
// apart: date, time, program name and version.
QString sessionStartLine(const QDateTime& at);
// The log file could not be opened for appending; reason is what the system said.
QString logUnavailableText(const QString& logPath, const QString& reason);
