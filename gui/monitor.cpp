#include "codec/rtu.h"
#include "core/link/monitorlog.h"
#include "gui/mainwindow.h"
#include "ui_mainwindow.h"

#include <QTextCursor>

void MainWindow::Print(QString prefix, QString data)
{
    // Always at the end, whatever the user clicked or selected in the monitor.
    QTextCursor cursor = ui->consol->textCursor();
    cursor.movePosition(QTextCursor::End);
    cursor.insertText(prefix + data + QLatin1Char('\r'));
    ui->consol->setTextCursor(cursor); // scrolls the newest line into view

    appendLogLine(logFile, prefix + data);
}

void MainWindow::PrintRead(QString prefix, QByteArray data)
{
    // No bytes give a line of the prefix alone.
    Print(prefix, rtu::hexText(data));
}

void MainWindow::errorComPort(QString prefix, QString data)
{
    Print(prefix, data);
    // A disabled button ignores the click: the port list is then left as it is.
    ui->Btn_Search->click();
}
