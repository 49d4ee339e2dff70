#include "core/ops/operations.h"
#include "core/sensor/format.h"
#include "gui/colours.h"
#include "gui/mainwindow.h"
#include "gui/overview.h"
#include "ui_mainwindow.h"

#include <QMessageBox>
#include <QSignalBlocker>

// The click only asks: the polling tick serves it once the line is free.
void MainWindow::setFlagAddDevice()
{
    turns.atTick(addRank, [this] { btnAddDevice(); });
}

void MainWindow::setFlagRmDevice()
{
    turns.atTick(removeRank, [this] { rmDevice(); });
}

void MainWindow::addDevice(DeviceVEL_DUO300* dev)
{
    ops::AddSensor(*line, *this, devices).run(dev->addr, dev->baudrate);
}

void MainWindow::btnAddDevice()
{
    // 0 is the broadcast address: a write to it would reach every sensor on the line.
    bool number = false;
    const int addr = ui->lineEditAddrMB->text().toInt(&number);
    if (!number || addr < manualAddrMin || addr > enteredAddressMax) {
        askUser(QMessageBox::Warning, QStringLiteral("Добавление устройства"),
                QStringLiteral("Введено недопустимое значение Адреса Modbus\nВведите значение "
                               "от %1 до %2")
                    .arg(manualAddrMin)
                    .arg(enteredAddressMax),
                QMessageBox::Ok);
        return;
    }

    emit stopTimer();
    DeviceVEL_DUO300 dev{};
    dev.addr = addr;
    dev.baudrate = ui->BaudRateBox->currentText().toInt();
    dev.commError = true;
    addDevice(&dev);
    if (!closing())
        emit startTimer();
}

void MainWindow::rmDevice()
{
    const int row = ui->listWidgetDevices->currentRow();
    if (row >= 0 && row < devices.size()) {
        // The record goes first, so that a selection change raised by taking the row out
        // already sees rows and records matching.
        devices.remove(row);
        // Later rows move up: the row the port was opened for may now hold another record.
        portUse = PortUse();
        delete ui->listWidgetDevices->takeItem(row);
        if (overview)
            overview->listChanged();
    }
    if (!devices.isEmpty()) {
        ui->listWidgetDevices->setCurrentRow(0);
    } else {
        ui->listWidgetDevices->setCurrentRow(-1);
        clearSensorViews();
    }
}

void MainWindow::updateDeviceList()
{
    ui->listWidgetDevices->clear();
    for (const DeviceVEL_DUO300& dev : devices.records()) {
        auto* item = new QListWidgetItem(deviceRowText(dev), ui->listWidgetDevices);
        // A sensor that answered as its loader does stays blue, as the exchange coloured it.
        if (dev.commError)
            item->setBackground(dev.cmdRejected ? exchangeColour(1, 0) : silentRowColour());
    }
    if (overview)
        overview->listChanged();
}

void MainWindow::rebuildDeviceList(int row)
{
    {
        // The rows vanish and come back: no selection change of the user's, so the list's
        // signals wait until the row is back, and the selection is then shown once.
        const QSignalBlocker quiet(ui->listWidgetDevices);
        updateDeviceList();
        ui->listWidgetDevices->setCurrentRow(row);
    }
    showSelection(true);
}

void MainWindow::selectDevice()
{
    const LineTurns::Turn turn = turns.take([this] { selectDevice(); });
    if (!turn)
        return;
    showSelection(false);
}

void MainWindow::showSelection(bool rebuilt)
{
    DeviceVEL_DUO300* dev = selectedDevice();
    if (!dev) {
        enableSensorButtons(false);
        return;
    }
    takePortBack(!rebuilt);
    setViewParam(dev);
    setViewSettings(dev);
    ui->groupBox_11->setVisible(sensorCaptions(sensorTypeOf(dev->param)).calibration);
    enableSensorButtons(true);
}
