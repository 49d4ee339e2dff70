#include "core/ops/operations.h"
#include "core/sensor/ustform.h"
#include "gui/mainwindow.h"
#include "ui_mainwindow.h"

#include <QMessageBox>

void MainWindow::rebuildListKeepingRow()
{
    rebuildDeviceList(ui->listWidgetDevices->currentRow());
}

void MainWindow::readUst()
{
    const LineTurns::Turn turn = turns.take([this] { readUst(); });
    if (!turn)
        return;
    takePortBack();
    if (permitCommunication())
        ReadUst(selectedDevice(), 3);
}

void MainWindow::ReadUst(DeviceVEL_DUO300* dev, int countTry)
{
    ops::ReadSettings(*line, *this).run(dev, countTry);
}

void MainWindow::writeUst()
{
    const LineTurns::Turn turn = turns.take([this] { writeUst(); });
    if (!turn)
        return;
    takePortBack();
    if (permitCommunication())
        WriteUst(selectedDevice());
}

UstForm MainWindow::ustForm() const
{
    UstForm form;
    form.name = ui->lineEditNameDevice->text();
    form.nameLabel = ui->LNameDevice->text();
    form.speed = ui->comboBoxUstSpeed->currentData().toInt();
    form.speedLabel = ui->LUstSpeed->text();
    form.threshold = ui->lineEditUstThreshold->text();
    form.thresholdLabel = ui->LUstThreshold->text();
    return form;
}

void MainWindow::WriteUst(DeviceVEL_DUO300* dev)
{
    showRefusal(ops::WriteSettings(*line, *this).run(dev, ustForm()));
}

void MainWindow::setDevName(QString ust)
{
    if (DeviceVEL_DUO300* dev = selectedDevice())
        setNameText(dev->ust, ust);
}

void MainWindow::setMBSpeed(int ust)
{
    if (DeviceVEL_DUO300* dev = selectedDevice())
        storeSpeed(dev->ust, ui->comboBoxUstSpeed->itemData(ust).toInt());
}

void MainWindow::setThreshold(QString ust)
{
    if (DeviceVEL_DUO300* dev = selectedDevice())
        storeThreshold(dev->ust, ust);
}

void MainWindow::writeAddr()
{
    const LineTurns::Turn turn = turns.take([this] { writeAddr(); });
    if (!turn)
        return;
    takePortBack();
    if (!permitCommunication())
        return;
    emit stopTimer();
    WriteAddr(selectedDevice());
    if (!closing())
        emit startTimer();
}

void MainWindow::WriteAddr(DeviceVEL_DUO300* dev)
{
    bool number = false;
    const int newAddr = ui->lineEditAddrDevice->text().toInt(&number);
    showRefusal(ops::ChangeAddress(*line, *this).run(dev, number ? newAddr : -1));
}

void MainWindow::setDefault()
{
    const LineTurns::Turn turn = turns.take([this] { setDefault(); });
    if (!turn)
        return;
    takePortBack();
    if (!permitCommunication())
        return;
    onCommit = &MainWindow::DisableAllViewAction3;
    const ops::Result result = ops::ResetSettings(*line, *this).run(selectedDevice());
    onCommit = nullptr;
    if (result.kind != ops::Result::Declined && !closing())
        EnableAllViewAction3();
    showRefusal(result);
}

void MainWindow::setViewSettings(DeviceVEL_DUO300* dev)
{
    // Nothing that did not come from the sensor: a record known only by its address and speed
    // shows an empty form until its settings are read.
    if (devices.isEmpty() || dev->commError || !dev->ustRead) {
        ui->lineEditMin->clear();
        ui->lineEditMax->clear();
        ui->lineEditNameDevice->clear();
        ui->lineEditUstThreshold->clear();
        ui->comboBoxUstSpeed->setCurrentIndex(-1);
        return;
    }
    ui->lineEditMin->setText(QString::number(dev->ust.zeroAdc));
    ui->lineEditMax->setText(QString::number(dev->ust.nomAdc));
    ui->lineEditNameDevice->setText(nameText(dev->ust));
    ui->comboBoxUstSpeed->setCurrentIndex(ui->comboBoxUstSpeed->findData(dev->ust.speed * 100));
    ui->lineEditUstThreshold->setText(QString::number(dev->ust.threshold));
}
