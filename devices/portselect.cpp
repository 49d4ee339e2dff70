#include "app/mainwindow.h"
#include "ui_mainwindow.h"

#include <QSerialPortInfo>
#include <QThread>

void MainWindow::searchComPort()
{
    ui->PortNameBox->clear();
    // Pseudo-terminals (a simulated bus) are not enumerated; they can be named here.
    const QString extra = qEnvironmentVariable("VEL_DUO300_EXTRA_PORTS");
    for (const QString& path : extra.split(QLatin1Char(':'), Qt::SkipEmptyParts))
        ui->PortNameBox->addItem(path);
    for (const QSerialPortInfo& info : QSerialPortInfo::availablePorts())
        ui->PortNameBox->addItem(info.portName());
}

void MainWindow::reopenPort(int baudrate)
{
    reopenPortNamed(ui->PortNameBox->currentText(), baudrate);
}

void MainWindow::reopenPortNamed(const QString& name, int baudrate)
{
    // Whatever the port was open for, it is now open for the speed given here.
    portUse = PortUse();
    // The pauses deliberately block without handling events: each gives the worker time to
    // carry out the queued step before the next one is sent.
    emit disconnectPort();
    QThread::msleep(50);
    emit savesettings(name, baudrate, 8, 0, 1, 0);
    QThread::msleep(50);
    emit connectPort();
    QThread::msleep(50);
}

void MainWindow::portLost(QString name)
{
    lostPort = name;
}

void MainWindow::recoverLostPort(int baudrate)
{
    // By its own name: the port list, refreshed after the loss, no longer shows it.
    if (!lostPort.isEmpty())
        reopenPortNamed(lostPort, baudrate);
}

void MainWindow::portOpened(QString name)
{
    const bool recovered = name == lostPort;
    lostPort.clear();
    if (!recovered)
        return;
    // The adapter is back: the port list shows its port again, as the current one.
    if (ui->PortNameBox->findText(name) < 0)
        searchComPort();
    const int index = ui->PortNameBox->findText(name);
    if (index >= 0)
        ui->PortNameBox->setCurrentIndex(index);
}
