#include "app/mainwindow.h"
#include "sensor/calibrationstep.h"
#include "ui_mainwindow.h"

#include <QThread>

using calibration::Phase;

void MainWindow::on_BtnSetZero_clicked()
{
    if (deferWhileWaiting(&MainWindow::on_BtnSetZero_clicked))
        return;
    Operation op(this);
    DeviceVEL_DUO300* dev = selectedDevice();
    if (!dev)
        return;
    // The read fills the form, so that the write keeps the sensor's stored settings.
    if (permitCommunication()) {
        ReadUst(dev, 3);
        if (closing)
            return;
    }
    dev->ust.zeroAdc = dev->param.adc;
    WriteUst(dev);
    if (closing)
        return;
    setViewSettings(dev);
}

void MainWindow::on_BtnSetNom_clicked()
{
    if (deferWhileWaiting(&MainWindow::on_BtnSetNom_clicked))
        return;
    Operation op(this);
    if (!permitCommunication())
        return;
    DeviceVEL_DUO300* dev = selectedDevice();
    emit stopTimer();
    ReadParam(dev, 3);
    if (closing || !adjustGain(dev, Phase::Raise))
        return;
    ReadParam(dev, 3);
    if (closing || !adjustGain(dev, Phase::Lower))
        return;

    // Out of the window after all: stored all the same, with a warning.
    if (calibration::beyondWindow(Phase::Raise, dev->param.adc))
        Print(QStringLiteral("Warning: "),
              QStringLiteral("Слишком слабый сигнал датчика шин/линии фазы"));
    if (calibration::beyondWindow(Phase::Lower, dev->param.adc))
        Print(QStringLiteral("Warning: "),
              QStringLiteral("Слишком сильный сигнал с датчика напряжения шин/линии фазы"));
    dev->ust.nomAdc = dev->param.adc;
    WriteUst(dev);
    if (closing)
        return;
    setViewSettings(dev);
    emit startTimer();
}

bool MainWindow::adjustGain(DeviceVEL_DUO300* dev, Phase phase)
{
    for (int writes = 0; calibration::beyondWindow(phase, dev->param.adc); ++writes) {
        emit mb_readPotent(quint8(dev->addr), 1);
        if (!waitAnswer())
            return false;
        if (answerError != 0)
            Print(QStringLiteral("Error: "),
                  QStringLiteral("on_BtnSetNom_clicked:mb_readPotent()"));
        const calibration::Step step =
            calibration::nextStep(phase, calibration::potentRead(answerError, answer), writes);
        if (!step.ends) {
            emit mb_writePotent(quint8(dev->addr), step.position, 1);
            if (!waitAnswer())
                return false;
            checkError(dev, answerError);
        }
        // The pause blocks on purpose: the sensor settles before its reading is taken.
        QThread::msleep(calibration::pauseMs);
        ReadParam(dev, 3);
        if (closing)
            return false;
        if (step.ends)
            break;
    }
    return true;
}
