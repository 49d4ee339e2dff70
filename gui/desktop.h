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

// The page (from 1) where the manual's chapter or section of this title starts, its number left
// aside ("Обзор площадки" finds "14. Обзор площадки"), from the page index the build writes
// beside the manual (manual.pages); 0 when the index is missing or names no such heading.
int manualPage(const QString& manualPath, const QString& title);

// How to open a PDF at a page with the viewer a desktop entry names ("org.gnome.Evince.desktop"):
// the program and its arguments, for the viewers known to take a page; an empty program for
// any other, which is then handed the whole file.
struct ViewerCommand
{
    QString program;
    QStringList arguments;
};
ViewerCommand viewerAtPage(const QString& desktopEntry, const QString& pdfPath, int page);
// The desktop entry of the desktop's PDF viewer, as xdg-mime tells it; empty where there is
// none or no xdg-mime (Windows, macOS).
QString defaultPdfViewer();

// True when every character of the font is as wide as the next, so that columns line up.
bool evenWidths(const QFont& font);
// The system's fixed-width font, for the port monitor.
QFont monitorFont();

// The desktop theme's "icon.ico" when the theme has one, else the program's own icon.
QIcon applicationIcon();

// Installs Qt's Russian translation of its standard texts (dialog buttons and the like) when
// the system has it; the program's own texts are Russian already. False when it is missing.
bool loadQtTranslation(QCoreApplication* app);
