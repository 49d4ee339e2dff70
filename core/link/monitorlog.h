#pragma once

#include <QFileDevice>
#include <QString>

// The port monitor's log: the monitor's lines appended to a file, one a line, in UTF-8, each
// flushed at once so that a program that dies keeps what it saw. The window's log.txt and
// velduo's --log are the same file; each opens it and says in its own words when it cannot.
// Nothing is written while the file is closed.
void appendLogLine(QFileDevice& log, const QString& line);
