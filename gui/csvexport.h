#pragma once

#include "codec/readings.h"

#include <QString>

class QWidget;

// What both overviews do around their "Экспорт CSV…": the file and its separators asked
// together, the separators remembered between runs, and the user told what was written.
namespace csvexport {

// Asks where the readings go, the separators chosen by the dialog's file type, the last choice
// offered first and remembered again; empty when the user cancels.
QString askFile(QWidget* parent, const QString& suggestedName, csv::Style* style);
// Tells what was written where, in a box that does not hold the window's work up.
// A note, when given, follows.
void confirm(QWidget* parent, const QString& path, int readings, csv::Style style,
             const QString& note = QString());

} // namespace csvexport
