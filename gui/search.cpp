#include "core/ops/operations.h"
#include "gui/listtexts.h"
#include "gui/mainwindow.h"
#include "ui_mainwindow.h"

#include <QMessageBox>
#include <QProgressBar>

void MainWindow::autoSearchDevice()
{
    const LineTurns::Turn turn = turns.take([this] { autoSearchDevice(); });
    if (!turn)
        return;
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
    ui->listWidgetDevices->setCurrentRow(-1);
    const ops::Result result =
        ops::SearchLine(*line, *this, devices)
            .run(ui->PortNameBox->currentText(), listTexts(ui->listWidgetSpeed),
                 listTexts(ui->listWidgetAddr));
    if (result.kind == ops::Result::Ending)
        return false;
    ui->listWidgetDevices->setCurrentRow(-1);
    if (!devices.isEmpty())
        ui->listWidgetDevices->setCurrentRow(0);
    return true;
}

void MainWindow::stopSearchDevice()
{
    stopSearch = true;
    // A line file's reading says itself how it ended.
    if (lineJob)
        return;
    // The search itself unlocks the window and restarts polling once the probe in flight is
    // over, so that no poll runs while it still waits for that probe's answer.
    askUser(QMessageBox::Warning, QStringLiteral("Поиск устройств остановлен"),
            QStringLiteral("Поиск устройств остановлен. Найдено устройств: ") +
                QString::number(ui->listWidgetDevices->count()),
            QMessageBox::Ok);
}
