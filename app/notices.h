#pragma once

// What the application shell tells the user about itself. Free of widgets, so that the texts
// can be tested directly.

#include <QString>
#include <QStringList>

// The help manual was found in none of the folders searched.
QString helpMissingText(const QString& fileName, const QStringList& searchedDirs);
// The manual is there, but no program on the desktop takes a PDF file.
QString helpNoViewerText(const QString& manualPath);
