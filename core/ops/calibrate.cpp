#include "codec/errortext.h"
#include "core/ops/operations.h"
#include "core/sensor/calibrationstep.h"

#include <QThread>

namespace ops {

using calibration::Phase;

namespace {

const QString writeTitle = QStringLiteral("Запись уставок");

// The values of a settings block as the settings form would show them.
UstForm formOf(const UstBlock& ust)
{
    UstForm form;
    form.name = nameText(ust);
    form.nameLabel = QStringLiteral("Имя устройства");
    form.speed = ust.speed * 100;
    form.speedLabel = QStringLiteral("Скорость");
    form.threshold = QString::number(ust.threshold);
    form.thresholdLabel = QStringLiteral("Уставка");
    return form;
}

} // namespace

Result CalibrateZero::run(DeviceVEL_DUO300* dev)
{
    // Read first, so that the write keeps the sensor's stored settings.
    const Result read = soundSettings(dev, writeTitle, true);
    if (read.kind == Result::Ending)
        return read;
    takePoint(dev);
    if (!read.done())
        return read;
    const QString refusal = ustFormRefusal(formOf(dev->ust));
    if (!refusal.isEmpty())
        return Result::refused(writeTitle, refusal);
    UstBlock block = dev->ust;
    sealChecksum(block);
    return writeBlock(dev, block, writeTitle);
}

void CalibrateZero::takePoint(DeviceVEL_DUO300* dev)
{
    // The record takes the point whether or not it reaches the sensor; a later write sends it.
    dev->ust.zeroAdc = dev->param.adc;
}

bool CalibrateNominal::adjustGain(DeviceVEL_DUO300* dev, Phase phase)
{
    for (int writes = 0; calibration::beyondWindow(phase, dev->param.adc); ++writes) {
        const Reply read = line.readPotent(quint8(dev->addr), 1);
        if (read.ending)
            return false;
        if (read.error != rtu::NoError)
            line.note(QStringLiteral("Error: "),
                      QStringLiteral("on_BtnSetNom_clicked:mb_readPotent()"));
        const calibration::Step step =
            calibration::nextStep(phase, calibration::potentRead(read.error, read.answer), writes);
        if (!step.ends) {
            const Reply written = line.writePotent(quint8(dev->addr), step.position, 1);
            if (written.ending)
                return false;
            record(dev, written);
        }
        // The pause blocks on purpose: the sensor settles before its reading is taken.
        QThread::msleep(calibration::pauseMs);
        if (!PollSensor(line, host).readParam(dev, 3))
            return false;
        if (step.ends)
            break;
    }
    return true;
}

Result CalibrateNominal::run(DeviceVEL_DUO300* dev, const std::function<UstForm()>& form)
{
    if (!PollSensor(line, host).readParam(dev, 3) || !adjustGain(dev, Phase::Raise) ||
        !PollSensor(line, host).readParam(dev, 3) || !adjustGain(dev, Phase::Lower))
        return Result::ending();

    // Out of the window after all: stored all the same, with a warning.
    if (calibration::beyondWindow(Phase::Raise, dev->param.adc))
        line.note(QStringLiteral("Warning: "),
                  QStringLiteral("Слишком слабый сигнал датчика шин/линии фазы"));
    if (calibration::beyondWindow(Phase::Lower, dev->param.adc))
        line.note(QStringLiteral("Warning: "),
                  QStringLiteral("Слишком сильный сигнал с датчика напряжения шин/линии фазы"));

    // The record takes the point whether or not it reaches the sensor; a later write sends it.
    dev->ust.nomAdc = dev->param.adc;
    const Result read = soundSettings(dev, writeTitle);
    if (!read.done())
        return read;
    dev->ust.nomAdc = dev->param.adc;
    UstBlock block = dev->ust;
    const UstForm values = form ? form() : formOf(block);
    const QString refusal = ustFormRefusal(values);
    if (!refusal.isEmpty())
        return Result::refused(writeTitle, refusal);
    // The form's speed may differ from the sensor's: writeBlock moves it only to a free place.
    applyUstForm(values, block);
    sealChecksum(block);
    return writeBlock(dev, block, writeTitle);
}

} // namespace ops
