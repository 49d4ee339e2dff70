#pragma once

// How the program meets the desktop: its help manual, its icon and Qt's own Russian texts.

#include <QFont>
#include <QIcon>
#include <QString>
#include <QStringList>

class QCoreApplication;

// The folders searched for the help manual, in order: the working directory, then installedDir.
QStringList helpManualDirs(const QString& installedDir);
// The help manual to hand to the desktop: the one in the working directory, else the installed
// one in installedDir; empty when neither exists.
QString helpManualPath(const QString& installedDir);

// The folder of the installed manual, as seen from the running program.
QString installedManualDir();

// True when every character of the font is as wide as the next, so that columns line up.
bool evenWidths(const QFont& font);
// The system's fixed-width font, for the port monitor.
QFont monitorFont();

// The desktop theme's "icon.ico" when the theme has one, else the program's own icon.
QIcon applicationIcon();

// Installs Qt's Russian translation of its standard texts (dialog buttons and the like) when
// the system has it; the program's own texts are Russian already. False when it is missing.
bool loadQtTranslation(QCoreApplication* app);
