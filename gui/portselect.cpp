#include "core/link/lineclient.h"
#include "core/link/serialports.h"
#include "gui/mainwindow.h"
#include "gui/overview.h"
#include "ui_mainwindow.h"

void MainWindow::searchComPort()
{
    ui->PortNameBox->clear();
    for (const PortEntry& port : serialPorts())
        ui->PortNameBox->addItem(port.name);
}

void MainWindow::takePortBack(bool anew)
{
    const int row = ui->listWidgetDevices->currentRow();
    DeviceVEL_DUO300* dev = selectedDevice();
    if (!dev)
        return;
    // A selection runs the port sequence even without a port: the worker then says why it
    // cannot open one.
    // A rebuild that lands on the row the port was opened for, still at its sensor's speed,
    // leaves the port as it is.
    const bool kept = portUse.row >= 0 && portUse.row == row && line->baudrate() == dev->baudrate;
    if (anew || (permitCommunication() && !kept)) {
        line->reopen(ui->PortNameBox->currentText(), dev->baudrate);
        portUse = PortUse{row};
    }
}

void MainWindow::portChosen()
{
    // The poller's exchange in flight ends on the port it went to; the next goes to the new one.
    const LineTurns::Turn turn = turns.take([this] { portChosen(); });
    if (!turn)
        return;
    devices.blocksFromAnotherPort();
    if (overview)
        overview->followPort();
}

void MainWindow::portOpened(QString name)
{
    // The adapter is back: the port list shows its port again, as the current one.
    if (ui->PortNameBox->findText(name) < 0)
        searchComPort();
    const int index = ui->PortNameBox->findText(name);
    if (index >= 0)
        ui->PortNameBox->setCurrentIndex(index);
}
