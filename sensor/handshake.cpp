#include "app/mainwindow.h"
#include "sensor/format.h"
#include "ui_mainwindow.h"

#include <QEventLoop>
#include <QMessageBox>
#include <functional>

bool MainWindow::deferWhileWaiting(Action action)
{
    // There is a single answer slot: an exchange started inside another's wait would take the
    // answer meant for it. The action runs once the running operation has ended.
    if (nestedLoops == 0)
        return false;
    deferred.enqueue(action);
    return true;
}

void MainWindow::runDeferred()
{
    if (draining)
        return;
    draining = true;
    while (!closing && operations == 0 && nestedLoops == 0 && !deferred.isEmpty())
        (this->*deferred.dequeue())();
    draining = false;
}

int MainWindow::askUser(int icon, const QString& title, const QString& text, int buttons,
                        int defaultButton)
{
    QMessageBox box(QMessageBox::Icon(icon), title, text, QMessageBox::StandardButtons(buttons),
                    this);
    if (defaultButton != QMessageBox::NoButton)
        box.setDefaultButton(QMessageBox::StandardButton(defaultButton));
    ++nestedLoops;
    const int result = box.exec();
    --nestedLoops;
    return result;
}

bool MainWindow::permitCommunication()
{
    const int row = ui->listWidgetDevices->currentRow();
    return !devices.isEmpty() && row <= devices.size() - 1 && row >= 0 &&
           !ui->PortNameBox->currentText().isEmpty();
}

DeviceVEL_DUO300* MainWindow::selectedDevice()
{
    const int row = ui->listWidgetDevices->currentRow();
    return row >= 0 && row < devices.size() ? &devices[row] : nullptr;
}

void MainWindow::packetReady(QByteArray pac, int error)
{
    answer = pac;
    answerReady = true;
    answerError = error;
    if (waitLoop)
        waitLoop->quit();
}

bool MainWindow::waitAnswer()
{
    // Waits for events rather than polling for them; the worker answers every request once.
    if (!answerReady && !closing) {
        QEventLoop loop;
        waitLoop = &loop;
        ++nestedLoops;
        loop.exec();
        --nestedLoops;
        waitLoop = nullptr;
        // Only the end of the program ends the loop without an answer.
        if (!answerReady)
            closing = true;
    }
    if (!answerReady)
        return false;
    answerReady = false;
    return true;
}

int MainWindow::rowOf(const DeviceVEL_DUO300* dev) const
{
    // A record held apart from the list (a blank, a probe) has no row.
    const DeviceVEL_DUO300* first = devices.constData();
    const std::less<const DeviceVEL_DUO300*> before;
    if (devices.isEmpty() || before(dev, first) || !before(dev, first + devices.size()))
        return -1;
    return int(dev - first);
}

void MainWindow::checkError(DeviceVEL_DUO300* dev, int error)
{
    dev->commError = error != 0;
    dev->cmdRejected = error == 1;
    // The row that shows this record, wherever the selection has moved meanwhile.
    const int row = rowOf(dev);
    if (QListWidgetItem* item = row >= 0 ? ui->listWidgetDevices->item(row) : nullptr)
        item->setBackground(exchangeColour(error, dev->coil[0]));
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
