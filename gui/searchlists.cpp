#include "gui/listtexts.h"
#include "gui/mainwindow.h"
#include "core/devices/searchplan.h"
#include "ui_mainwindow.h"

namespace {

bool isValidRow(const QListWidget* lw, int row)
{
    return row >= 0 && row < lw->count();
}

// After a removal at row: the row itself if it still exists, else the one above, else none.
void setRowAfterRemoval(QListWidget* lw, int row)
{
    if (isValidRow(lw, row))
        lw->setCurrentRow(row);
    else if (row > 0)
        lw->setCurrentRow(row - 1);
}

} // namespace

// Refilling a list drops its selection without telling anyone, so the slots that sort a list
// set its remove button again themselves.
void MainWindow::sortListWidget(QListWidget* lw, Qt::SortOrder dir)
{
    const QStringList sorted = sortedNumerically(listTexts(lw), dir);
    lw->clear();
    lw->addItems(sorted);
}

void MainWindow::sortComboBox(QComboBox* cb, Qt::SortOrder dir)
{
    QStringList texts;
    for (int i = 0; i < cb->count(); ++i)
        texts.append(cb->itemText(i));
    const QStringList sorted = sortedNumerically(texts, dir);
    cb->clear();
    cb->addItems(sorted);
}

void MainWindow::addSpeed()
{
    const QString text = ui->comboBoxSearchSpeed->currentText();
    if (listTexts(ui->listWidgetSpeed).contains(text))
        return;
    ui->listWidgetSpeed->addItem(text);
    sortListWidget(ui->listWidgetSpeed, Qt::DescendingOrder);
    ui->listWidgetSpeed->setCurrentRow(0);
    changeSelectListSpeed();
}

void MainWindow::rmSpeed()
{
    const int row = ui->listWidgetSpeed->currentRow();
    if (!isValidRow(ui->listWidgetSpeed, row))
        return;
    delete ui->listWidgetSpeed->takeItem(row);
    sortListWidget(ui->listWidgetSpeed, Qt::DescendingOrder);
    setRowAfterRemoval(ui->listWidgetSpeed, row);
    changeSelectListSpeed();
}

void MainWindow::addAddr()
{
    const QString text = ui->comboBoxSearchAddr->currentText();
    if (text.isEmpty() || listTexts(ui->listWidgetAddr).contains(text))
        return;
    ui->listWidgetAddr->addItem(text);
    sortListWidget(ui->listWidgetAddr, Qt::AscendingOrder);
    ui->comboBoxSearchAddr->removeItem(ui->comboBoxSearchAddr->currentIndex());
    changeSelectListAddr();
}

void MainWindow::rmAddr()
{
    const int row = ui->listWidgetAddr->currentRow();
    if (!isValidRow(ui->listWidgetAddr, row))
        return;
    ui->comboBoxSearchAddr->addItem(ui->listWidgetAddr->item(row)->text());
    sortComboBox(ui->comboBoxSearchAddr, Qt::AscendingOrder);
    delete ui->listWidgetAddr->takeItem(row);
    sortListWidget(ui->listWidgetAddr, Qt::AscendingOrder);
    setRowAfterRemoval(ui->listWidgetAddr, row);
    changeSelectListAddr();
}

void MainWindow::changeSelectListSpeed()
{
    ui->btnRmSpeed->setEnabled(isValidRow(ui->listWidgetSpeed, ui->listWidgetSpeed->currentRow()));
}

void MainWindow::changeSelectListAddr()
{
    ui->btnRmAddr->setEnabled(isValidRow(ui->listWidgetAddr, ui->listWidgetAddr->currentRow()));
}
