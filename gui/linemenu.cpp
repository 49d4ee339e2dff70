#include "core/link/lineclient.h"
#include "core/ops/lineops.h"
#include "gui/linedialogs.h"
#include "gui/mainwindow.h"
#include "gui/overview.h"
#include "ui_mainwindow.h"

#include "gui/remembered.h"
#include <QFileDialog>
#include <QFileInfo>
#include <QMessageBox>
#include <deque>

namespace {

const QString openTitle = QStringLiteral("Открыть линию");
const QString saveTitle = QStringLiteral("Сохранить линию");
const QString compareTitle = QStringLiteral("Сравнить с датчиками");
const QString restoreTitle = QStringLiteral("Восстановление датчика");
const QString fileFilter = QStringLiteral("Файлы линии (*.json);;Все файлы (*)");

const QString portKey = QStringLiteral("port");
const QString geometryKey = QStringLiteral("geometry");
const QString recentKey = QStringLiteral("recentFiles");

// The sensors, as a box lists them.
QString labels(const QVector<linefile::Sensor>& sensors)
{
    QStringList list;
    for (const linefile::Sensor& sensor : sensors)
        list << ops::sensorLabel(sensor);
    return list.join(QStringLiteral(", "));
}

// The name a line file is saved under: the one typed, with ".json" when it lacks it, so that
// the open dialog's filter shows it.
QString withJsonSuffix(const QString& path)
{
    if (path.isEmpty() || path.endsWith(QLatin1String(".json"), Qt::CaseInsensitive))
        return path;
    return path + QLatin1String(".json");
}

} // namespace

void MainWindow::restoreSession()
{
    const Remembered settings;
    const int port = ui->PortNameBox->findText(settings.value(portKey).toString());
    if (port >= 0)
        ui->PortNameBox->setCurrentIndex(port);
    restoreGeometry(settings.value(geometryKey).toByteArray());
    recentFiles = settings.value(recentKey).toStringList().mid(0, recentFileLimit);
    rebuildRecentFiles();
}

void MainWindow::saveSession() const
{
    Remembered settings;
    settings.setValue(portKey, ui->PortNameBox->currentText());
    settings.setValue(geometryKey, saveGeometry());
    settings.setValue(recentKey, recentFiles);
}

void MainWindow::rebuildRecentFiles()
{
    qDeleteAll(recentActions);
    recentActions.clear();
    for (const QString& path : recentFiles) {
        auto* action = new QAction(QFileInfo(path).fileName(), ui->menuFile);
        action->setToolTip(path);
        action->setData(path);
        connect(action, &QAction::triggered, this, [this, path] {
            requestedPath = path;
            openRequested();
        });
        recentActions.append(action);
    }
    if (!recentActions.isEmpty())
        recentActions.append(ui->menuFile->insertSeparator(ui->actionQuit));
    for (QAction* action : recentActions)
        if (!action->isSeparator())
            ui->menuFile->insertAction(recentActions.last(), action);
}

void MainWindow::keepLine(const QString& path, const linefile::Line& line)
{
    keptPath = path;
    keptLine = line;
    ui->actionCompareLine->setEnabled(true);
    const QString absolute = QFileInfo(path).absoluteFilePath();
    recentFiles.removeAll(absolute);
    recentFiles.prepend(absolute);
    recentFiles = recentFiles.mid(0, recentFileLimit);
    rebuildRecentFiles();
    Remembered settings;
    settings.setValue(recentKey, recentFiles);
}

int MainWindow::execDialog(QDialog& dialog)
{
    const LineTurns::Asking asking(turns);
    return dialog.exec();
}

void MainWindow::clearSensorViews()
{
    DeviceVEL_DUO300 blank{};
    blank.commError = true;
    setViewSettings(&blank);
    setViewParam(&blank);
}

void MainWindow::openLine()
{
    const LineTurns::Turn turn = turns.take([this] { openLine(); });
    if (!turn)
        return;
    const QString path = chooseLineFile(false);
    if (!path.isEmpty())
        openLineFile(path);
}

void MainWindow::openRequested()
{
    const LineTurns::Turn turn = turns.take([this] { openRequested(); });
    if (!turn)
        return;
    openLineFile(requestedPath);
}

bool MainWindow::openLineFile(const QString& path)
{
    const linefile::ReadResult file = linefile::readFile(path, linefile::Mode::FileOrPlan);
    if (!file.ok()) {
        askUser(QMessageBox::Warning, openTitle, file.refusal, QMessageBox::Ok);
        return false;
    }
    if (!devices.isEmpty() &&
        askUser(QMessageBox::Question, openTitle,
                QStringLiteral("Заменить список датчиков (%1) датчиками из файла «%2» (%3)?")
                    .arg(devices.size())
                    .arg(QFileInfo(path).fileName())
                    .arg(file.line.sensors.size()),
                QMessageBox::Yes | QMessageBox::No, QMessageBox::No) != QMessageBox::Yes)
        return false;

    // Only where the sensors are: what they hold is read from them, never from the file.
    devices.clear();
    for (const linefile::Sensor& sensor : file.line.sensors) {
        DeviceVEL_DUO300 dev{};
        dev.addr = sensor.address;
        dev.baudrate = sensor.speed;
        devices.add(dev);
    }
    const int port = ui->PortNameBox->findText(file.line.port);
    if (port >= 0)
        ui->PortNameBox->setCurrentIndex(port);
    portUse = PortUse();
    rebuildDeviceList(-1);
    clearSensorViews();
    // Nothing the overview showed belongs to the new list, even on the same port.
    if (overview)
        overview->followPort(true);
    keepLine(path, file.line);
    return true;
}

bool MainWindow::readLine(ops::ReadLine& reader, const QVector<DeviceVEL_DUO300*>& devs)
{
    stopSearch = false;
    lineJob = true;
    const int row = ui->listWidgetDevices->currentRow();
    DisableAllViewAction2();
    // Each sensor's settings pass through the form as they are read; none is the selected one.
    ui->listWidgetDevices->setCurrentRow(-1);
    const ops::Result result = reader.run(ui->PortNameBox->currentText(), devs);
    lineJob = false;
    if (result.kind == ops::Result::Ending)
        return false;
    EnableAllViewAction2();
    rebuildDeviceList(row);
    return true;
}

void MainWindow::saveLine()
{
    const LineTurns::Turn turn = turns.take([this] { saveLine(); });
    if (!turn)
        return;
    if (devices.isEmpty() || ui->PortNameBox->currentText().isEmpty()) {
        askUser(QMessageBox::Warning, saveTitle,
                devices.isEmpty() ? QStringLiteral("В списке нет датчиков: сохранять нечего.")
                                  : QStringLiteral("Не выбран последовательный порт."),
                QMessageBox::Ok);
        return;
    }
    const QString path = withJsonSuffix(chooseLineFile(true));
    if (path.isEmpty())
        return;
    // Asked here, not by the file dialog: the name typed may have become another.
    if (QFileInfo::exists(path) &&
        askUser(QMessageBox::Question, saveTitle,
                QStringLiteral("Файл «%1» уже существует. Заменить его?").arg(path),
                QMessageBox::Yes | QMessageBox::No, QMessageBox::No) != QMessageBox::Yes)
        return;

    QVector<DeviceVEL_DUO300*> devs;
    for (int row = 0; row < devices.size(); ++row)
        devs.append(&devices[row]);
    ops::ReadLine reader(*line, *this);
    if (!readLine(reader, devs))
        return;
    if (stopSearch) {
        stopSearch = false;
        askUser(QMessageBox::Warning, saveTitle,
                QStringLiteral("Сохранение остановлено: файл «%1» не записан.").arg(path),
                QMessageBox::Ok);
        return;
    }
    const QString failure = linefile::save(reader.read, path);
    if (!failure.isEmpty()) {
        askUser(QMessageBox::Warning, saveTitle, failure, QMessageBox::Ok);
        return;
    }
    keepLine(path, reader.read);
    QString text = QStringLiteral("Линия сохранена в файл «%1»: датчиков %2.")
                       .arg(path)
                       .arg(reader.read.sensors.size());
    if (!reader.silent.isEmpty())
        text += QStringLiteral("\nНе ответили и записаны как не считанные: %1.")
                    .arg(labels(reader.silent));
    askUser(reader.silent.isEmpty() ? QMessageBox::Information : QMessageBox::Warning, saveTitle,
            text, QMessageBox::Ok);
}

void MainWindow::compareLine()
{
    const LineTurns::Turn turn = turns.take([this] { compareLine(); });
    if (!turn)
        return;
    if (keptPath.isEmpty() || keptLine.sensors.isEmpty() ||
        ui->PortNameBox->currentText().isEmpty())
        return;

    // The listed record of each sensor of the file takes what is read; one the list does not
    // hold is read into a record of its own.
    std::deque<DeviceVEL_DUO300> unlisted;
    QVector<DeviceVEL_DUO300*> devs;
    for (const linefile::Sensor& sensor : keptLine.sensors) {
        const int row = devices.find(sensor.address, sensor.speed);
        if (row >= 0) {
            devs.append(&devices[row]);
            continue;
        }
        DeviceVEL_DUO300 dev{};
        dev.addr = sensor.address;
        dev.baudrate = sensor.speed;
        unlisted.push_back(dev);
        devs.append(&unlisted.back());
    }
    ops::ReadLine reader(*line, *this);
    if (!readLine(reader, devs) || stopSearch) {
        stopSearch = false;
        return;
    }
    const QVector<ops::CompareRow> rows = ops::compareRows(keptLine, reader.read);
    if (rows.isEmpty()) {
        askUser(QMessageBox::Information, compareTitle,
                QStringLiteral("Все датчики совпадают с файлом «%1».")
                    .arg(QFileInfo(keptPath).fileName()),
                QMessageBox::Ok);
        return;
    }
    CompareDialog dialog(rows, this);
    execDialog(dialog);
}

void MainWindow::restoreSensor()
{
    const LineTurns::Turn turn = turns.take([this] { restoreSensor(); });
    if (!turn)
        return;
    if (!permitCommunication())
        return;
    if (keptPath.isEmpty()) {
        const QString path = chooseLineFile(false);
        if (path.isEmpty())
            return;
        const linefile::ReadResult file = linefile::readFile(path, linefile::Mode::FileOrPlan);
        if (!file.ok()) {
            askUser(QMessageBox::Warning, openTitle, file.refusal, QMessageBox::Ok);
            return;
        }
        keepLine(path, file.line);
    }

    takePortBack();
    const int row = ui->listWidgetDevices->currentRow();
    DeviceVEL_DUO300* dev = selectedDevice();
    stopSearch = false;
    lineJob = true;
    DisableAllViewAction2();
    // The changes shown are worked out from what the sensor holds at this moment, read sound.
    const ops::Result read = ops::ReadSettings(*line, *this).runForWrite(dev, restoreTitle);
    ops::Result result;
    ops::RestoreSensor restore(*line, *this);
    linefile::Sensor entry;
    bool confirmed = false;
    if (read.done() && !closing()) {
        RestoreDialog dialog(keptLine.sensors, *dev, this);
        confirmed = execDialog(dialog) == QDialog::Accepted && dialog.entry() >= 0;
        if (confirmed && !closing()) {
            entry = keptLine.sensors[dialog.entry()];
            result = restore.run(dev, entry, dialog.calibration());
        }
    }
    lineJob = false;
    if (closing() || read.kind == ops::Result::Ending || result.kind == ops::Result::Ending)
        return;
    EnableAllViewAction2();
    if (!read.done()) {
        showRefusal(read);
        return;
    }

    // A replacement takes the place of the failed sensor's record.
    int kept = row;
    for (int other = devices.size() - 1; other >= 0; --other) {
        if (other != kept && devices[other].addr == devices[kept].addr &&
            devices[other].baudrate == devices[kept].baudrate) {
            devices.remove(other);
            if (other < kept)
                --kept;
        }
    }
    portUse = PortUse();
    rebuildDeviceList(kept);

    if (!confirmed || result.kind == ops::Result::Declined)
        return;
    stopSearch = false;
    if (result.kind == ops::Result::Cancelled) {
        askUser(QMessageBox::Warning, restoreTitle,
                QStringLiteral("Восстановление остановлено: ничего не записано."), QMessageBox::Ok);
        return;
    }
    if (!result.done()) {
        showRefusal(result);
        return;
    }
    if (restore.remaining.isEmpty()) {
        askUser(QMessageBox::Information, restoreTitle,
                QStringLiteral("Датчик совпадает с записью %1.").arg(ops::sensorLabel(entry)),
                QMessageBox::Ok);
        return;
    }
    QStringList lines;
    for (const ops::Change& change : restore.remaining)
        lines << QStringLiteral("%1: на датчике %2, в записи %3")
                     .arg(change.field, change.now, change.after);
    askUser(QMessageBox::Warning, restoreTitle,
            QStringLiteral("Датчик не совпадает с записью %1:\n%2")
                .arg(ops::sensorLabel(entry), lines.join(QLatin1Char('\n'))),
            QMessageBox::Ok);
}

QString MainWindow::defaultLineFileChoice(bool forSave)
{
    const LineTurns::Asking asking(turns);
    // The overwrite question is the window's own, for the name the file will have.
    return forSave ? QFileDialog::getSaveFileName(this, saveTitle, keptPath, fileFilter, nullptr,
                                                  QFileDialog::DontConfirmOverwrite)
                   : QFileDialog::getOpenFileName(this, openTitle, keptPath, fileFilter);
}
