#include "core/link/lineclient.h"
#include "core/ops/operations.h"
#include "core/sensor/format.h"
#include "gui/mainwindow.h"
#include "ui_mainwindow.h"

void MainWindow::slotSendTimerOut()
{
    // A tick that falls due while another operation waits does not count toward the next poll.
    const LineTurns::Turn turn = turns.tick();
    if (!turn)
        return;

    if (++tickCount >= 10) {
        tickCount = 0;
        // A port whose adapter went away is re-opened by the poll, so that polling resumes
        // once the adapter is back.
        DeviceVEL_DUO300* dev = selectedDevice();
        const int row = ui->listWidgetDevices->currentRow();
        if (dev && !line->lostPort().isEmpty()) {
            line->recoverLostPort(dev->baudrate);
            portUse = PortUse{row};
        }
        if (permitCommunication()) {
            takePortBack();
            const SensorCaptions captions = sensorCaptions(sensorTypeOf(dev->param));
            ui->groupBox_11->setVisible(captions.calibration);
            ui->LMeasure->setText(captions.measureLabel);
            if (!captions.thresholdLabel.isEmpty())
                ui->LUstThreshold->setText(captions.thresholdLabel);

            // The poll's own record: the selection may move during its waits.
            ops::PollSensor(*line, *this).run(dev);
            if (closing())
                return;
            // The settings are fetched once, as soon as the sensor answers and the form is empty.
            if (ui->comboBoxUstSpeed->currentText().isEmpty() &&
                ui->lineEditUstThreshold->text().isEmpty() && !dev->commError &&
                permitCommunication())
                ReadUst(dev, 1);
            if (closing())
                return;
        }
    }

    turns.serveTick();
}

void MainWindow::readCoil()
{
    if (DeviceVEL_DUO300* dev = selectedDevice())
        ops::PollSensor(*line, *this).readCoil(dev);
}

void MainWindow::ReadParam(DeviceVEL_DUO300* dev, int countTry)
{
    if (permitCommunication())
        ops::PollSensor(*line, *this).readParam(dev, countTry);
}

void MainWindow::setViewParam(DeviceVEL_DUO300* dev)
{
    if (dev->commError || devices.isEmpty()) {
        ui->lineEditDiscret->clear();
        ui->lineEditMeasure->clear();
        ui->lineEditWorkTime->clear();
        ui->lineEditVersion->clear();
    } else {
        ui->lineEditDiscret->setText(QString::number(dev->param.adc));
        ui->lineEditMeasure->setText(measureText(dev->param));
        ui->lineEditWorkTime->setText(QString::number(dev->param.workTime));
        ui->lineEditVersion->setText(versionText(dev->param));
    }
    ui->lineEditVoltage->setText(ui->lineEditMeasure->text());
}
