#include "gui/buildinfo.h"
#include "gui/desktop.h"
#include "gui/mainwindow.h"
#include "gui/notices.h"

#include <QDesktopServices>
#include <QMessageBox>
#include <QProcess>
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
    // A fresh desktop often has no PDF viewer: the user learns where the manual is instead.
    const QString title = QStringLiteral("Справка");
    const QString installed = installedManualDir();
    const QString manual = helpManualPath(installed);
    if (manual.isEmpty())
        askUser(
            QMessageBox::Warning, title,
            helpMissingText(QString::fromLatin1(buildinfo::manualName), helpManualDirs(installed)),
            QMessageBox::Ok);
    else if (!QDesktopServices::openUrl(QUrl::fromLocalFile(manual)))
        askUser(QMessageBox::Warning, title, helpNoViewerText(manual), QMessageBox::Ok);
}

void MainWindow::openManualAt(const QString& chapter)
{
    const QString manual = helpManualPath(installedManualDir());
    const int page = manual.isEmpty() ? 0 : manualPage(manual, chapter);
    if (page > 0) {
        const ViewerCommand viewer = viewerAtPage(defaultPdfViewer(), manual, page);
        if (!viewer.program.isEmpty() && QProcess::startDetached(viewer.program, viewer.arguments))
            return;
    }
    openHelpPdfFile();
}
