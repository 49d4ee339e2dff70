#include "core/link/lineclient.h"
#include "core/ops/operations.h"
#include "core/sensor/format.h"
#include "gui/colours.h"
#include "gui/mainwindow.h"
#include "ui_mainwindow.h"

#include <QCoreApplication>
#include <QMessageBox>
#include <QProgressBar>

int MainWindow::askUser(int icon, const QString& title, const QString& text, int buttons,
                        int defaultButton)
{
    return showBox(icon, title, text, buttons, defaultButton, buttons == QMessageBox::Ok);
}

int MainWindow::showBox(int icon, const QString& title, const QString& text, int buttons,
                        int defaultButton, bool informs)
{
    QMessageBox box(QMessageBox::Icon(icon), title, text, QMessageBox::StandardButtons(buttons),
                    this);
    if (defaultButton)
        box.setDefaultButton(QMessageBox::StandardButton(defaultButton));
    if (informs) {
        const LineTurns::Informing informing(turns);
        return box.exec();
    }
    const LineTurns::Asking asking(turns);
    return box.exec();
}

void MainWindow::showRefusal(const ops::Result& result)
{
    if (!result.title.isEmpty() && !closing() &&
        (result.kind == ops::Result::Refused || result.kind == ops::Result::Failed))
        askUser(QMessageBox::Warning, result.title, result.text, QMessageBox::Ok);
}

int MainWindow::ask(const ops::Question& question)
{
    QMessageBox::Icon icon = QMessageBox::Warning;
    switch (question.icon) {
    case ops::Icon::Information:
        icon = QMessageBox::Information;
        break;
    case ops::Icon::Warning:
        icon = QMessageBox::Warning;
        break;
    case ops::Icon::Critical:
        icon = QMessageBox::Critical;
        break;
    case ops::Icon::Question:
        icon = QMessageBox::Question;
        break;
    }
    return showBox(icon, question.title, question.text, question.buttons, question.defaultButton,
                   false);
}

void MainWindow::progress(int value, int maximum)
{
    searchProgress->setMaximum(maximum);
    searchProgress->setValue(value);
}

bool MainWindow::cancelled()
{
    return stopSearch;
}

void MainWindow::settingsChanged(DeviceVEL_DUO300* dev)
{
    setViewSettings(dev);
    rebuildListKeepingRow();
}

void MainWindow::paramsChanged(DeviceVEL_DUO300* dev)
{
    // The line's poller reads the other sensors too: the form shows the selected one only.
    if (dev == selectedDevice())
        setViewParam(dev);
}

void MainWindow::listChanged(int row)
{
    rebuildDeviceList(row);
}

void MainWindow::committed()
{
    if (onCommit)
        (this->*onCommit)();
}

bool MainWindow::permitCommunication()
{
    const int row = ui->listWidgetDevices->currentRow();
    return !devices.isEmpty() && row <= devices.size() - 1 && row >= 0 &&
           !ui->PortNameBox->currentText().isEmpty();
}

DeviceVEL_DUO300* MainWindow::selectedDevice()
{
    return devices.at(ui->listWidgetDevices->currentRow());
}

void MainWindow::checkError(DeviceVEL_DUO300* dev, int error)
{
    // The record took the outcome in the operation; the row that shows it is coloured,
    // wherever the selection has moved meanwhile.
    const int row = devices.rowOf(dev);
    if (QListWidgetItem* item = row >= 0 ? ui->listWidgetDevices->item(row) : nullptr)
        item->setBackground(exchangeColour(error, dev->coil[0]));
}

void MainWindow::loaderChanged(DeviceVEL_DUO300* dev)
{
    // Said once, when the sensor starts answering as its loader does.
    if (dev->cmdRejected)
        Print(QStringLiteral("Warning: "), ops::loaderNotice(*dev, reflashWayOut));
    // The row says whether the sensor answers as its loader does.
    const int row = devices.rowOf(dev);
    if (QListWidgetItem* item = row >= 0 ? ui->listWidgetDevices->item(row) : nullptr)
        item->setText(deviceRowText(*dev));
}

void MainWindow::setLocked(Lock pair, bool locked)
{
    if (locked)
        emit stopTimer();
    ui->listWidgetDevices->setEnabled(!locked);
    if (pair == Lock::AllViews) {
        ui->tabWidget->setTabEnabled(1, !locked);
        ui->tabWidget->setTabEnabled(2, !locked);
        for (QWidget* w :
             {ui->groupBox_3, ui->groupBox_4, ui->groupBox, ui->groupBox_7, ui->groupBox_8})
            w->setEnabled(!locked);
        ui->BtnAutoSearch->setEnabled(!locked);
    } else {
        ui->tabWidget->setEnabled(!locked);
    }
    ui->groupBox_9->setEnabled(!locked);
    ui->groupBox_10->setEnabled(!locked);
    ui->menuFile->setEnabled(!locked);
    if (pair != Lock::Reset)
        ui->statusBar->setVisible(locked);
    if (!locked)
        emit startTimer();
}

void MainWindow::DisableAllViewAction()
{
    setLocked(Lock::AllViews, true);
}

void MainWindow::EnableAllViewAction()
{
    setLocked(Lock::AllViews, false);
}

void MainWindow::DisableAllViewAction2()
{
    setLocked(Lock::Search, true);
}

void MainWindow::EnableAllViewAction2()
{
    setLocked(Lock::Search, false);
}

void MainWindow::DisableAllViewAction3()
{
    setLocked(Lock::Reset, true);
}

void MainWindow::EnableAllViewAction3()
{
    setLocked(Lock::Reset, false);
}
