#include "core/ops/operations.h"
#include "gui/mainwindow.h"
#include "ui_mainwindow.h"

void MainWindow::on_BtnSetZero_clicked()
{
    if (deferWhileWaiting(&MainWindow::on_BtnSetZero_clicked))
        return;
    Operation op(this);
    takePortBack();
    DeviceVEL_DUO300* dev = selectedDevice();
    if (!dev)
        return;
    if (permitCommunication())
        showRefusal(ops::CalibrateZero(*line, *this).run(dev));
    else
        ops::CalibrateZero::takePoint(dev);
    if (closing())
        return;
    setViewSettings(dev);
}

void MainWindow::on_BtnSetNom_clicked()
{
    if (deferWhileWaiting(&MainWindow::on_BtnSetNom_clicked))
        return;
    Operation op(this);
    takePortBack();
    if (!permitCommunication())
        return;
    DeviceVEL_DUO300* dev = selectedDevice();
    emit stopTimer();
    const ops::Result result =
        ops::CalibrateNominal(*line, *this).run(dev, [this] { return ustForm(); });
    if (closing())
        return;
    showRefusal(result);
    setViewSettings(dev);
    emit startTimer();
}
