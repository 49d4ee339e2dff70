#include "core/ops/operations.h"
#include "gui/mainwindow.h"
#include "ui_mainwindow.h"

#include <QCloseEvent>
#include <QMessageBox>
#include <QPushButton>

void MainWindow::SetFileReprog()
{
    ui->lineEditReprogFilePath->setText(reprogFile);
}

void MainWindow::Reprog()
{
    const LineTurns::Turn turn = turns.take([this] { Reprog(); });
    if (!turn)
        return;
    takePortBack();

    // Locked once confirmed; the procedure cannot be cancelled, the button belongs to the
    // search.
    onCommit = &MainWindow::lockForReprogramming;
    // Without a sensor to use the image is still checked, and its refusal shown.
    DeviceVEL_DUO300* dev = permitCommunication() ? selectedDevice() : nullptr;
    ops::Reprogram flash(*line, *this);
    ops::Result result = flash.run(dev, reprogFile);
    onCommit = nullptr;
    flashing = false;
    if (closing())
        return;
    if (flash.leftInLoader && result.kind == ops::Result::Failed)
        result.text += QStringLiteral("\n\n") + ops::leftInLoaderText(*dev, reflashWayOut);
    showRefusal(result);
    if (result.kind == ops::Result::Refused || result.kind == ops::Result::Declined)
        return;
    if (result.done())
        askUser(QMessageBox::Information, QStringLiteral("Готово"),
                QStringLiteral("Перепрограммирование устройства успешно завершено"),
                QMessageBox::Ok);
    searchCancel->show();
    EnableAllViewAction2();
}

void MainWindow::lockForReprogramming()
{
    flashing = true;
    DisableAllViewAction2();
    searchCancel->hide();
}

const QString MainWindow::reflashWayOut =
    QStringLiteral("кнопка «Перепрограммирование» на вкладке «Перепрограммирование»");

void MainWindow::closeEvent(QCloseEvent* event)
{
    // A close by an end signal is not asked: whoever sent it wants the program ended.
    if (flashing && event->spontaneous()) {
        const DeviceVEL_DUO300* dev = selectedDevice();
        const int answer = askUser(
            QMessageBox::Question, QStringLiteral("Перепрограммирование"),
            QStringLiteral("Идёт перепрограммирование датчика %1@%2. Если закрыть программу "
                           "сейчас, датчик останется в загрузчике, без своей программы, и его "
                           "придётся перепрограммировать снова. Закрыть программу?")
                .arg(dev->addr)
                .arg(dev->baudrate),
            QMessageBox::Yes | QMessageBox::No, QMessageBox::No);
        if (answer != QMessageBox::Yes) {
            event->ignore();
            return;
        }
    }
    QMainWindow::closeEvent(event);
}
