#include "app/mainwindow.h"
#include "devices/listtexts.h"
#include "devices/searchplan.h"
#include "ui_mainwindow.h"

#include <QMessageBox>
#include <QProgressBar>

void MainWindow::autoSearchDevice()
{
    if (deferWhileWaiting(&MainWindow::autoSearchDevice))
        return;
    Operation op(this);
    // A Cancel click outside a search must not make this one skip its probes.
    stopSearch = false;
    // Without a port name nothing is probed, but the user still learns how many sensors are known.
    if (!ui->PortNameBox->currentText().isEmpty() && !runSearch())
        return;
    EnableAllViewAction2();
    if (!stopSearch)
        askUser(QMessageBox::Information, QStringLiteral("Готово"),
                QStringLiteral("Поиск устройств завершен. Найдено устройств: ") +
                    QString::number(ui->listWidgetDevices->count()),
                QMessageBox::Ok);
    stopSearch = false;
}

bool MainWindow::runSearch()
{
    DisableAllViewAction2();
    const QList<SearchStep> plan =
        searchPlan(listTexts(ui->listWidgetSpeed), listTexts(ui->listWidgetAddr));
    searchProgress->setRange(0, probeCount(plan) + 1);
    searchProgress->setValue(1);
    ui->listWidgetDevices->setCurrentRow(-1);

    int probes = 0;
    for (const SearchStep& step : plan) {
        if (step.kind == SearchStep::Reopen) {
            // Between speeds no answer is awaited: this is where a Cancel click arrives. It
            // counts as a wait, so that no other action starts an exchange meanwhile.
            ++nestedLoops;
            QCoreApplication::processEvents();
            --nestedLoops;
        }
        if (stopSearch)
            break;
        if (step.kind == SearchStep::Reopen) {
            reopenPort(step.baudrate);
            continue;
        }

        // One attempt: an address without a sensor costs one answer time-out.
        emit mb_read(quint8(step.addr), 0, 2, 1, nullptr);
        if (!waitAnswer())
            return false;
        // A valid answer or an unknown-command exception: somebody is there.
        if (answerError == 0 || answerError == 1) {
            DeviceVEL_DUO300 dev{};
            dev.addr = step.addr;
            dev.baudrate = step.baudrate;
            dev.commError = true;
            const int appended = devices.size();
            addDevice(&dev);
            if (closing)
                return false;
            // A sensor already listed keeps its record as it is.
            if (devices.size() > appended)
                devices[appended].commError = false;
        }
        searchProgress->setValue(++probes);
    }

    searchProgress->setMaximum(searchProgress->value());
    ui->listWidgetDevices->setCurrentRow(-1);
    if (!devices.isEmpty())
        ui->listWidgetDevices->setCurrentRow(0);
    return true;
}

void MainWindow::stopSearchDevice()
{
    stopSearch = true;
    // The search itself unlocks the window and restarts polling once the probe in flight is
    // over, so that no poll runs while it still waits for that probe's answer.
    askUser(QMessageBox::Warning, QStringLiteral("Поиск устройств остановлен"),
            QStringLiteral("Поиск устройств остановлен. Найдено устройств: ") +
                QString::number(ui->listWidgetDevices->count()),
            QMessageBox::Ok);
}
