#include "app/buildinfo.h"
#include "app/desktop.h"
#include "app/mainwindow.h"

#include <QDesktopServices>
#include <QMessageBox>
#include <QUrl>

namespace {

const char logoPath[] = ":/resource/resources/images/logo.png";

} // namespace

void MainWindow::openMsgAboutAppl()
{
    // The logo sits on a dark cell: it is drawn light on transparent for that.
    const QString head = tr("<table width=\"450\" border=\"0\" align=\"center\" cellspacing=\"0\" "
                            "cellpadding=\"10\"><tr><td bgcolor=\"#012d52\"><img src=\"");
    const QString tail =
        tr("\"></td><td>Конфигуратор бесконтактных датчиков VEL_DUO300<br><br>Версия %1<br><br>"
           "<a href=\"%2\"> %2</a><br>Инженерная компания ООО «Тальвик»</td></tr></table>")
            .arg(QString::fromLatin1(buildinfo::version), QString::fromUtf8(buildinfo::makerUrl));
    QMessageBox::about(this, tr("О программе"), head + QLatin1String(logoPath) + tail);
}

void MainWindow::openHelpPdfFile()
{
    // Without the manual, or without a viewer for it, nothing is shown and nothing is logged.
    const QString manual = helpManualPath(installedManualDir());
    if (!manual.isEmpty())
        QDesktopServices::openUrl(QUrl::fromLocalFile(manual));
}
