#include "app/mainwindow.h"
#include "ops/operations.h"
#include "ui_mainwindow.h"

#include <QMessageBox>
#include <QPushButton>

void MainWindow::SetFileReprog()
{
    ui->lineEditReprogFilePath->setText(reprogFile);
}

void MainWindow::Reprog()
{
    if (deferWhileWaiting(&MainWindow::Reprog))
        return;
    Operation op(this);
    takePortBack();

    // Locked once confirmed; the procedure cannot be cancelled, the button belongs to the
    // search.
    onCommit = &MainWindow::lockForReprogramming;
    const ops::Result result = ops::Reprogram(*line, *this).run(selectedDevice(), reprogFile);
    onCommit = nullptr;
    if (closing())
        return;
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
    DisableAllViewAction2();
    searchCancel->hide();
}
