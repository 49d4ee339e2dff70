#include "gui/csvexport.h"
#include "gui/remembered.h"

#include <QDir>
#include <QFileDialog>
#include <QMessageBox>

namespace csvexport {

namespace {

const QString styleKey = QStringLiteral("csvExport/style");

// The dialog's file types, one a style: the user picks the separators where the file is named.
QString filterOf(csv::Style style)
{
    return style == csv::Style::Semicolon
               ? QStringLiteral("CSV для таблиц на русском: «;» и десятичная запятая (*.csv)")
               : QStringLiteral("CSV: «,» и десятичная точка (*.csv)");
}

QString styleText(csv::Style style)
{
    return style == csv::Style::Semicolon ? QStringLiteral("«;», десятичная запятая")
                                          : QStringLiteral("«,», десятичная точка");
}

} // namespace

QString askFile(QWidget* parent, const QString& suggestedName, csv::Style* style)
{
    Remembered settings;
    csv::Style last = csv::Style::Comma;
    csv::parseStyle(settings.value(styleKey).toString(), &last);
    QString selected = filterOf(last);
    const QString filters =
        filterOf(csv::Style::Comma) + QStringLiteral(";;") + filterOf(csv::Style::Semicolon);
    const QString path = QFileDialog::getSaveFileName(parent, QStringLiteral("Экспорт CSV"),
                                                      suggestedName, filters, &selected);
    if (path.isEmpty())
        return path;
    *style =
        selected == filterOf(csv::Style::Semicolon) ? csv::Style::Semicolon : csv::Style::Comma;
    settings.setValue(styleKey, csv::styleName(*style));
    return path;
}

void confirm(QWidget* parent, const QString& path, int readings, csv::Style style,
             const QString& note)
{
    auto* box = new QMessageBox(QMessageBox::Information, QStringLiteral("Экспорт CSV"),
                                QStringLiteral("Записано показаний: %1 (%2) в файл\n%3")
                                    .arg(readings)
                                    .arg(styleText(style), QDir::toNativeSeparators(path)),
                                QMessageBox::Ok, parent);
    if (!note.isEmpty())
        box->setDetailedText(note);
    box->setAttribute(Qt::WA_DeleteOnClose);
    // Not exec(): the polls and the plot go on while it is read.
    box->open();
}

} // namespace csvexport
