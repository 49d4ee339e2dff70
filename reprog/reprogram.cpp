#include "app/mainwindow.h"
#include "link/errortext.h"
#include "reprog/confirmation.h"
#include "ui_mainwindow.h"

#include <QEventLoop>
#include <QFileInfo>
#include <QMessageBox>
#include <QProgressBar>
#include <QPushButton>
#include <QTimer>

void MainWindow::SetFileReprog()
{
    ui->lineEditReprogFilePath->setText(reprogFile);
}

void MainWindow::Reprog()
{
    if (deferWhileWaiting(&MainWindow::Reprog))
        return;
    Operation op(this);

    // Read and checked whole before the first byte goes out: a bad image found after the
    // erase would leave the sensor without an application.
    const firmware::ImageFile image = firmware::readImageFile(reprogFile);
    if (!image.refusal.isEmpty()) {
        Print(QStringLiteral("Warning: "), image.refusal);
        askUser(QMessageBox::Warning, QStringLiteral("Warning"), image.refusal, QMessageBox::Ok);
        return;
    }
    if (!permitCommunication())
        return;
    // The erase cannot be undone: one click must not start it.
    DeviceVEL_DUO300* dev = selectedDevice();
    if (askUser(QMessageBox::Question, QStringLiteral("Перепрограммирование"),
                reprogConfirmationText(*dev, QFileInfo(reprogFile)),
                QMessageBox::Yes | QMessageBox::No, QMessageBox::No) != QMessageBox::Yes)
        return;

    reprogDevice = dev;
    DisableAllViewAction2();
    // The procedure cannot be cancelled; the button belongs to the search.
    searchCancel->hide();
    reprogram(firmware::uploadPlan(image.bytes));
    reprogDevice = nullptr;
    if (closing)
        return;
    searchCancel->show();
    EnableAllViewAction2();
}

void MainWindow::reprogram(const firmware::UploadPlan& plan)
{
    searchProgress->setRange(0, 100);
    searchProgress->setValue(0);
    // A sensor that rejected the last command may sit in its loader already. Failures of the
    // loader entry and of the erase are shown, and the procedure goes on.
    if (!reprogDevice->cmdRejected) {
        goToLoader();
        if (closing)
            return;
        searchProgress->setValue(3);
        // The sensor needs the time to restart into its loader.
        if (!pauseFor(1000))
            return;
    }
    erasesFlash();
    if (closing)
        return;
    // Both report their own failures, and a wait cut short by the end of the program as one.
    if (ReprogDevice(quint8(reprogDevice->addr), plan) || goToMainAppl())
        return;
    askUser(QMessageBox::Information, QStringLiteral("Готово"),
            QStringLiteral("Перепрограммирование устройства успешно завершено"), QMessageBox::Ok);
}

bool MainWindow::pauseFor(int ms)
{
    // Waits for the timer rather than sleeping, so that a window closed meanwhile ends the
    // program at once; as a wait, it defers the clicks that come during it.
    if (closing)
        return false;
    QEventLoop loop;
    QTimer timer;
    timer.setSingleShot(true);
    timer.setTimerType(Qt::PreciseTimer); // a coarse timer may end the pause 5 % early
    connect(&timer, &QTimer::timeout, &loop, &QEventLoop::quit);
    timer.start(ms);
    ++nestedLoops;
    loop.exec();
    --nestedLoops;
    // Only the end of the program ends the loop before the timer.
    if (timer.isActive())
        closing = true;
    return !closing;
}

void MainWindow::reprogFailure(const QString& what, int error)
{
    askUser(QMessageBox::Warning, QStringLiteral("Ошибка"), what + errorTextFor(error),
            QMessageBox::Ok);
}

void MainWindow::WriteLoaderCode()
{
    DeviceVEL_DUO300* dev = reprogDevice;
    ReadUst(dev, 3);
    if (closing)
        return;
    // The request goes back only in a block this run has read: after a failed read the form
    // is empty. A sensor that sits in its loader already answers no settings read, and the
    // steps after this one still reach it.
    if (answerError != 0) {
        Print(QStringLiteral("Error: "),
              QStringLiteral("Запрос на переход в загрузчик не записан: не удалось считать "
                             "настройки датчика: ") +
                  errorTextFor(answerError));
        return;
    }
    const quint32 readCode = dev->ust.loaderCode;
    dev->ust.loaderCode = regmap::loaderRequest;
    WriteUst(dev);
    // The request is for this run only: a later settings write from the record must not send
    // the sensor into its loader again at its next start.
    dev->ust.loaderCode = readCode;
    sealChecksum(dev->ust);
}

void MainWindow::goToLoader()
{
    WriteLoaderCode();
    if (closing)
        return;
    emit mb_goToLoader(quint8(reprogDevice->addr), 3);
    if (!waitAnswer())
        return;
    checkError(reprogDevice, answerError);
    if (answerError != 0)
        reprogFailure(QStringLiteral("Ошибка перехода в загрузчик:\n"), answerError);
}

void MainWindow::erasesFlash()
{
    emit mb_erasePage(quint8(reprogDevice->addr), firmware::firstPage, firmware::pageCount, 3);
    if (!waitAnswer())
        return;
    checkError(reprogDevice, answerError);
    if (answerError != 0)
        reprogFailure(QStringLiteral("Ошибка очистки флеш:\n"), answerError);
}

bool MainWindow::ReprogDevice(quint8 addr, const firmware::UploadPlan& plan)
{
    const auto failed = [this](int error) {
        reprogFailure(QStringLiteral("Ошибка перепрограммирования  устройства:\n"), error);
        Print(QStringLiteral("Error: "), QStringLiteral("Ошибка перепрограммирования устройства"));
        return true;
    };
    // One step for each chunk and one for the checksum.
    searchProgress->setMaximum(searchProgress->value() + plan.chunks.size() + 1);
    for (const firmware::FlashWrite& chunk : plan.chunks) {
        emit mb_write(addr, chunk.regAddr, chunk.regCount, chunk.bytes, 3);
        if (!waitAnswer())
            return true;
        checkError(reprogDevice, answerError);
        if (answerError != 0)
            return failed(answerError);
        searchProgress->setValue(searchProgress->value() + 1);
    }
    const firmware::FlashWrite& sum = plan.checksumWrite;
    emit mb_write(addr, sum.regAddr, sum.regCount, sum.bytes, 3);
    if (!waitAnswer())
        return true;
    if (answerError != 0)
        return failed(answerError);
    searchProgress->setValue(searchProgress->value() + 1);
    return false;
}

bool MainWindow::goToMainAppl()
{
    emit mb_goToMainAppl(quint8(reprogDevice->addr), 1);
    if (!waitAnswer())
        return true;
    checkError(reprogDevice, answerError);
    if (answerError != 0) {
        reprogFailure(QStringLiteral("Ошибка перехода на основную программу:\n"), answerError);
        return true;
    }
    searchProgress->setMaximum(searchProgress->value());
    return false;
}
