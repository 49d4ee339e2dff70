#include "app/mainwindow.h"
#include "sensor/format.h"
#include "ui_mainwindow.h"

void MainWindow::slotSendTimerOut()
{
    // A tick that falls due while another operation waits neither polls nor serves the
    // requests, and does not count toward the next poll.
    if (nestedLoops > 0 || closing)
        return;
    Operation op(this);

    if (++tickCount >= 10) {
        tickCount = 0;
        // A port whose adapter went away is re-opened by the poll, so that polling resumes
        // once the adapter is back.
        DeviceVEL_DUO300* dev = selectedDevice();
        if (dev)
            recoverLostPort(dev->baudrate);
        if (permitCommunication()) {
            const SensorCaptions captions = sensorCaptions(dev->param.sensorType);
            ui->groupBox_11->setVisible(captions.calibration);
            ui->LMeasure->setText(captions.measureLabel);
            if (!captions.thresholdLabel.isEmpty())
                ui->LUstThreshold->setText(captions.thresholdLabel);

            emit mb_read(quint8(dev->addr), regmap::paramAddr, regmap::paramCount, 1, nullptr);
            if (!waitAnswer())
                return;
            checkError(dev, answerError);
            if (answerError == 0)
                copyFromAnswer(&dev->param, int(sizeof dev->param), answer);
            // After a failed read the fields are emptied: the screen shows no value that the
            // sensor did not just send.
            setViewParam(dev);
            // The poll's own record: the selection may have moved during the wait.
            readCoilOf(dev);
            if (closing)
                return;
            // The settings are fetched once, as soon as the sensor answers and the form is empty.
            if (ui->comboBoxUstSpeed->currentText().isEmpty() &&
                ui->lineEditUstThreshold->text().isEmpty() && !dev->commError &&
                permitCommunication())
                ReadUst(dev, 1);
            if (closing)
                return;
        }
    }

    if (flagRmDevice) {
        flagRmDevice = false;
        rmDevice();
    }
    if (flagAddDevice) {
        flagAddDevice = false;
        btnAddDevice();
    }
}

void MainWindow::readCoil()
{
    if (DeviceVEL_DUO300* dev = selectedDevice())
        readCoilOf(dev);
}

void MainWindow::readCoilOf(DeviceVEL_DUO300* dev)
{
    emit mb_readCoil(quint8(dev->addr), 0, 1, 1);
    if (!waitAnswer())
        return;
    if (answerError != 0)
        dev->coil[0] = 0;
    else
        copyFromAnswer(dev->coil, int(sizeof dev->coil), answer);
    checkError(dev, answerError);
}

void MainWindow::ReadParam(DeviceVEL_DUO300* dev, int countTry)
{
    if (!permitCommunication())
        return;
    answer.clear();
    emit mb_readCoil(quint8(dev->addr), 0, 1, 1);
    if (!waitAnswer())
        return;
    checkError(dev, answerError);
    if (answerError == 0)
        copyFromAnswer(dev->coil, int(sizeof dev->coil), answer);

    emit mb_read(quint8(dev->addr), regmap::paramAddr, regmap::paramCount, countTry, nullptr);
    if (!waitAnswer())
        return;
    checkError(dev, answerError);
    if (answerError == 0)
        copyFromAnswer(&dev->param, int(sizeof dev->param), answer);
    setViewParam(dev);
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
