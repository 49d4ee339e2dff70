#pragma once

#include "core/ops/linereport.h"

#include <QString>

class QPagedPaintDevice;

// The commissioning report drawn as a document: A4 portrait, the table split over pages with
// its header repeated, "стр. N из M" at the foot of each page. It needs a QGuiApplication (the
// fonts) but no widget, so that velduo and the window draw the same pages.
namespace reportprint {

// Sets the device's page (A4 portrait, the report's margins) and draws the report on it, a page
// after the other; false when the device cannot be painted on.
bool draw(const linereport::Report& report, QPagedPaintDevice* device);

// The report as a PDF file, written whole or not at all; empty, or why it could not be written.
QString savePdf(const linereport::Report& report, const QString& path);

} // namespace reportprint
