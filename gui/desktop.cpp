#include "gui/desktop.h"
#include "gui/buildinfo.h"
#include "gui/mainwindow.h"
#include "ui_mainwindow.h"

#include <QCoreApplication>
#include <QDir>
#include <QFileInfo>
#include <QFontDatabase>
#include <QFontMetrics>
#include <QLibraryInfo>
#include <QTranslator>

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
