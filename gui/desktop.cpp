#include "gui/desktop.h"
#include "gui/buildinfo.h"
#include "gui/mainwindow.h"
#include "ui_mainwindow.h"

#include <QCoreApplication>
#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QFontDatabase>
#include <QFontMetrics>
#include <QLibraryInfo>
#include <QProcess>
#include <QRegularExpression>
#include <QTranslator>
#include <QUrl>

QStringList helpManualDirs(const QString& installedDir)
{
    QStringList dirs{QDir::currentPath()};
    if (!installedDir.isEmpty())
        dirs << installedDir;
    return dirs;
}

QString helpManualPath(const QString& installedDir)
{
    const QString name = QString::fromLatin1(buildinfo::manualName);
    for (const QString& dir : helpManualDirs(installedDir)) {
        const QFileInfo file(QDir(dir), name);
        if (file.isFile())
            return file.absoluteFilePath();
    }
    return QString();
}

QString installedManualDir()
{
    return QDir::cleanPath(QDir(QCoreApplication::applicationDirPath())
                               .filePath(QString::fromLatin1(buildinfo::manualFromBin)));
}

int manualPage(const QString& manualPath, const QString& title)
{
    QString path = manualPath;
    if (path.endsWith(QLatin1String(".pdf"), Qt::CaseInsensitive))
        path.chop(4);
    QFile index(path + QStringLiteral(".pages"));
    if (!index.open(QIODevice::ReadOnly | QIODevice::Text))
        return 0;
    // "<page>\t<number>. <title>" a line.
    const QRegularExpression entry(
        QStringLiteral("^(\\d+)\t[\\d.]+\\s+%1$").arg(QRegularExpression::escape(title)));
    while (!index.atEnd()) {
        const QRegularExpressionMatch match =
            entry.match(QString::fromUtf8(index.readLine()).trimmed());
        if (match.hasMatch())
            return match.captured(1).toInt();
    }
    return 0;
}

ViewerCommand viewerAtPage(const QString& desktopEntry, const QString& pdfPath, int page)
{
    const QString entry = desktopEntry.toLower();
    const QString number = QString::number(page);
    // Evince and its forks take the page's index from 1; the browsers take a fragment.
    for (const char* program : {"evince", "atril", "xreader"})
        if (entry.contains(QLatin1String(program)))
            return {QString::fromLatin1(program),
                    {QStringLiteral("--page-index=") + number, pdfPath}};
    if (entry.contains(QLatin1String("okular")))
        return {QStringLiteral("okular"), {QStringLiteral("--page"), number, pdfPath}};
    if (entry.contains(QLatin1String("zathura")))
        return {QStringLiteral("zathura"), {QStringLiteral("--page=") + number, pdfPath}};
    for (const char* program : {"firefox-esr", "firefox", "chromium"})
        if (entry.startsWith(QLatin1String(program))) {
            QUrl url = QUrl::fromLocalFile(pdfPath);
            url.setFragment(QStringLiteral("page=") + number);
            return {QString::fromLatin1(program), {url.toString(QUrl::FullyEncoded)}};
        }
    return {};
}

QString defaultPdfViewer()
{
    QProcess query;
    query.start(QStringLiteral("xdg-mime"), {QStringLiteral("query"), QStringLiteral("default"),
                                             QStringLiteral("application/pdf")});
    if (!query.waitForFinished(3000) || query.exitStatus() != QProcess::NormalExit ||
        query.exitCode() != 0)
        return QString();
    return QString::fromUtf8(query.readAllStandardOutput()).trimmed();
}

QIcon applicationIcon()
{
    QIcon own;
    for (int size : {16, 24, 32, 48, 256})
        own.addFile(QStringLiteral(":/icons/%1.png").arg(size), QSize(size, size));
    return QIcon::fromTheme(QStringLiteral("icon.ico"), own);
}

bool evenWidths(const QFont& font)
{
    const QFontMetrics metrics(font);
    const int width = metrics.horizontalAdvance(QLatin1Char('0'));
    for (QChar c : QStringLiteral("0123456789abcdef<>:. iW"))
        if (metrics.horizontalAdvance(c) != width)
            return false;
    return true;
}

QFont monitorFont()
{
    QFont font = QFontDatabase::systemFont(QFontDatabase::FixedFont);
    if (!evenWidths(font)) { // a platform that names no fixed-width font
        font.setFamily(QStringLiteral("monospace"));
        font.setStyleHint(QFont::TypeWriter);
    }
    return font;
}

bool loadQtTranslation(QCoreApplication* app)
{
    auto* translator = new QTranslator(app);
    if (!translator->load(QStringLiteral("qtbase_ru"),
                          QLibraryInfo::location(QLibraryInfo::TranslationsPath))) {
        delete translator;
        return false;
    }
    return app->installTranslator(translator);
}

void MainWindow::fitToDesktop()
{
    // The artwork lives in this library: make sure the linker keeps it.
    static const bool artwork = [] {
        Q_INIT_RESOURCE(resources);
        return true;
    }();
    Q_UNUSED(artwork)
    setWindowIcon(applicationIcon());

    // Columns of hex line up only in a fixed-width font.
    ui->consol->setFont(monitorFont());

    // Every tab title whole rather than behind scroll arrows.
    ui->tabWidget->setUsesScrollButtons(false);
    // The port list shows a whole device name such as "ttyUSB10" or "/dev/pts/5" even where the
    // style's drop-down arrow grows with the fonts.
    ui->PortNameBox->setMinimumContentsLength(10);
    // The left column keeps its width unless the port row needs more at larger fonts.
    const int left = qMax(ui->groupBox_10->minimumWidth(), ui->groupBox_9->sizeHint().width());
    ui->groupBox_9->setMaximumWidth(left);
    ui->groupBox_10->setFixedWidth(left);
    ui->listWidgetDevices->setMaximumWidth(left);

    // The window keeps its designed size unless its contents need more; then it grows to hold
    // them at their natural size, since the user is not meant to resize it.
    resize(size().expandedTo(sizeHint()));
}
