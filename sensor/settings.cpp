#include "app/mainwindow.h"
#include "sensor/ustform.h"
#include "ui_mainwindow.h"

#include <QMessageBox>

void MainWindow::rebuildListKeepingRow()
{
    rebuildDeviceList(ui->listWidgetDevices->currentRow());
}

void MainWindow::readUst()
{
    if (deferWhileWaiting(&MainWindow::readUst))
        return;
    Operation op(this);
    if (permitCommunication())
        ReadUst(selectedDevice(), 3);
}

void MainWindow::ReadUst(DeviceVEL_DUO300* dev, int countTry)
{
    answer.clear();
    emit mb_read(quint8(dev->addr), regmap::ustAddr, regmap::ustCount, countTry, nullptr);
    if (!waitAnswer())
        return;
    checkError(dev, answerError);
    if (answerError == 0) {
        copyFromAnswer(&dev->ust, int(sizeof dev->ust), answer);
        dev->ustRead = true;
    }
    setViewSettings(dev);
    rebuildListKeepingRow();
}

void MainWindow::writeUst()
{
    if (deferWhileWaiting(&MainWindow::writeUst))
        return;
    Operation op(this);
    if (permitCommunication())
        WriteUst(selectedDevice());
}

UstForm MainWindow::ustForm() const
{
    UstForm form;
    form.name = ui->lineEditNameDevice->text();
    form.nameLabel = ui->LNameDevice->text();
    form.speed = ui->comboBoxUstSpeed->currentData().toInt();
    form.speedLabel = ui->LUstSpeed->text();
    form.threshold = ui->lineEditUstThreshold->text();
    form.thresholdLabel = ui->LUstThreshold->text();
    return form;
}

void MainWindow::WriteUst(DeviceVEL_DUO300* dev)
{
    if (!permitCommunication())
        return;

    const QString title = QStringLiteral("Запись уставок");
    // Taken before the read below, which shows the sensor's own values in the form.
    const UstForm form = ustForm();
    const QString refusal = ustFormRefusal(form);
    if (!refusal.isEmpty()) {
        askUser(QMessageBox::Warning, title, refusal, QMessageBox::Ok);
        return;
    }
    if (!haveSensorSettings(dev, title))
        return;

    applyUstForm(form, dev->ust);
    sealChecksum(dev->ust);
    emit mb_write(quint8(dev->addr), regmap::ustAddr, regmap::ustCount, blockBytes(dev->ust), 3);
    if (!waitAnswer())
        return;
    checkError(dev, answerError);
    // The sensor answers at the written speed from now on: the record follows it, and the
    // rebuild below re-opens the port at it while this sensor is the selected one.
    const int written = dev->ust.speed * 100;
    if (answerError == 0)
        dev->baudrate = written;
    rebuildListKeepingRow();
}

void MainWindow::setDevName(QString ust)
{
    if (DeviceVEL_DUO300* dev = selectedDevice())
        setNameText(dev->ust, ust);
}

void MainWindow::setMBSpeed(int ust)
{
    if (DeviceVEL_DUO300* dev = selectedDevice())
        storeSpeed(dev->ust, ui->comboBoxUstSpeed->itemData(ust).toInt());
}

void MainWindow::setThreshold(QString ust)
{
    if (DeviceVEL_DUO300* dev = selectedDevice())
        storeThreshold(dev->ust, ust);
}

void MainWindow::writeAddr()
{
    if (deferWhileWaiting(&MainWindow::writeAddr))
        return;
    Operation op(this);
    if (!permitCommunication())
        return;
    emit stopTimer();
    WriteAddr(selectedDevice());
    if (!closing)
        emit startTimer();
}

void MainWindow::WriteAddr(DeviceVEL_DUO300* dev)
{
    const QString title = QStringLiteral("Программирование адреса");
    const int newAddr = ui->lineEditAddrDevice->text().toInt();
    if (newAddr == dev->addr)
        return;
    // 32 passes the field's validator but is not a valid sensor address.
    const int maxAddr = 31;
    if (newAddr < 1 || newAddr > maxAddr) {
        askUser(QMessageBox::Warning, title,
                QStringLiteral(
                    "Введено недопустимое значение Адреса Modbus\nВведите значение от 1 до ") +
                    QString::number(maxAddr),
                QMessageBox::Ok);
        return;
    }
    if (!haveSensorSettings(dev, title))
        return;

    probeError = 0;
    emit mb_read(quint8(newAddr), regmap::ustAddr, regmap::ustCount, 3, &probeError);
    if (!waitAnswer())
        return;
    if (probeError != 6) {
        askUser(QMessageBox::Warning, title,
                QStringLiteral("В сети уже имеется устройство с адресом '") +
                    ui->lineEditAddrDevice->text() + QLatin1Char('\''),
                QMessageBox::Ok);
        return;
    }
    if (askUser(QMessageBox::Warning, title,
                QStringLiteral("Адрес устройства будет изменён с '%1' на '%2'")
                    .arg(dev->addr)
                    .arg(newAddr),
                QMessageBox::Ok | QMessageBox::Cancel) != QMessageBox::Ok)
        return;

    dev->ust.mbAddr = quint16(newAddr);
    sealChecksum(dev->ust);
    writeBlockSettlingAddress(dev, dev->ust, 3);
}

bool MainWindow::haveSensorSettings(DeviceVEL_DUO300* dev, const QString& title)
{
    if (dev->ustRead)
        return true;
    ReadUst(dev, 3);
    if (closing)
        return false;
    if (!dev->ustRead)
        askUser(QMessageBox::Warning, title, unreadSettingsRefusal(dev->addr), QMessageBox::Ok);
    return dev->ustRead;
}

bool MainWindow::writeBlockSettlingAddress(DeviceVEL_DUO300* dev, const UstBlock& block,
                                           int attempts)
{
    emit mb_write(quint8(dev->addr), regmap::ustAddr, regmap::ustCount, blockBytes(block),
                  attempts);
    if (!waitAnswer())
        return false;
    checkError(dev, answerError);
    // The record's own image decides: a reset leaves it alone, so the program goes on at the
    // address it had.
    if (answerError == 0)
        dev->addr = dev->ust.mbAddr;
    else
        dev->ust.mbAddr = quint16(dev->addr);
    rebuildListKeepingRow();
    return true;
}

void MainWindow::setDefault()
{
    if (deferWhileWaiting(&MainWindow::setDefault))
        return;
    Operation op(this);
    if (!permitCommunication())
        return;
    DeviceVEL_DUO300* dev = selectedDevice();
    if (askUser(QMessageBox::Warning, QStringLiteral("Сброс настроек"),
                QStringLiteral("Будут установлены настройки по умолчанию для датчика '%1'")
                    .arg(dev->addr),
                QMessageBox::Ok | QMessageBox::Cancel) != QMessageBox::Ok)
        return;

    DisableAllViewAction3();
    const UstBlock defaults = defaultUstBlock();
    if (!writeBlockSettlingAddress(dev, defaults, 1))
        return;
    // The record keeps the address and speed it had, so the sensor no longer answers there:
    // say where to find it.
    if (!dev->commError)
        Print(QStringLiteral("Warning: "),
              QStringLiteral("Датчик с адресом %1 принял настройки по умолчанию: теперь он "
                             "отвечает по адресу %2 на скорости %3. Добавьте его с этими "
                             "адресом и скоростью.")
                  .arg(dev->addr)
                  .arg(defaults.mbAddr)
                  .arg(defaults.speed * 100));
    EnableAllViewAction3();
}

void MainWindow::setViewSettings(DeviceVEL_DUO300* dev)
{
    if (devices.isEmpty() || dev->commError) {
        ui->lineEditMin->clear();
        ui->lineEditMax->clear();
        ui->lineEditNameDevice->clear();
        ui->lineEditUstThreshold->clear();
        ui->comboBoxUstSpeed->setCurrentIndex(-1);
        return;
    }
    ui->lineEditMin->setText(QString::number(dev->ust.zeroAdc));
    ui->lineEditMax->setText(QString::number(dev->ust.nomAdc));
    ui->lineEditNameDevice->setText(nameText(dev->ust));
    ui->comboBoxUstSpeed->setCurrentIndex(ui->comboBoxUstSpeed->findData(dev->ust.speed * 100));
    ui->lineEditUstThreshold->setText(QString::number(dev->ust.threshold));
}
