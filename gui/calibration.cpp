#include "core/ops/operations.h"
#include "gui/mainwindow.h"
#include "ui_mainwindow.h"

void MainWindow::on_BtnSetZero_clicked()
{
    const LineTurns::Turn turn = turns.take([this] { on_BtnSetZero_clicked(); });
    if (!turn)
        return;
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
    const LineTurns::Turn turn = turns.take([this] { on_BtnSetNom_clicked(); });
    if (!turn)
        return;
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
