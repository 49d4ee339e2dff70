// The About box, its logo, and the help action that hands the manual to the desktop, or says
// why it cannot.
#include "gui/buildinfo.h"
#include "gui/desktop.h"
#include "gui/siteview.h"
#include "support/windowbench.h"

#include <QtTest>
#include <QtWidgets>

namespace {

const QString manualName = QString::fromLatin1(buildinfo::manualName);

// Stands in for the desktop: records each URL it is asked to open.
class UrlCatcher : public QObject
{
    Q_OBJECT
public:
    QList<QUrl> opened;
public slots:
    void open(const QUrl& url) { opened << url; }
};

void writeFile(const QString& path)
{
    QFile file(path);
    QVERIFY(file.open(QIODevice::WriteOnly));
    file.write("%PDF-1.4\n");
}

} // namespace

class TestAbout : public QObject
{
    Q_OBJECT

private slots:
    void initTestCase()
    {
        bench = std::make_unique<WindowBench>();
        QDesktopServices::setUrlHandler(QStringLiteral("file"), &desktop, "open");
    }

    void cleanupTestCase()
    {
        QDesktopServices::unsetUrlHandler(QStringLiteral("file"));
        bench.reset();
    }

    void aboutBox()
    {
        bench->boxes.clear();
        bench->window->findChild<QAction*>(QStringLiteral("actionAboutApplication"))->trigger();
        QCOMPARE(bench->boxes.boxes().size(), 1);
        const ModalAnswerer::Box box = bench->boxes.boxes().first();
        QCOMPARE(box.title, QStringLiteral("О программе"));

        const QString url = QString::fromUtf8(buildinfo::makerUrl);
        const QStringList pieces = {
            "<table width=\"450\" border=\"0\" align=\"center\" cellspacing=\"0\" "
            "cellpadding=\"10\">",
            "<tr>",
            "<td bgcolor=\"#012d52\">",
            "<img src=\":/resource/resources/images/logo.png\">",
            "</td>",
            "<td>",
            "Конфигуратор бесконтактных датчиков VEL_DUO300",
            "<br><br>",
            "Версия " + QString::fromLatin1(buildinfo::version),
            "<br><br>",
            "<a href=\"" + url + "\"> " + url + "</a>",
            "<br>",
            "Инженерная компания ООО «Тальвик»",
            "</td></tr></table>",
        };
        int from = 0;
        for (const QString& piece : pieces) {
            const int at = box.text.indexOf(piece, from);
            QVERIFY2(at >= 0, qPrintable("missing or out of order: " + piece));
            from = at + piece.size();
        }
        QCOMPARE(from, box.text.size());
        QVERIFY(Qt::mightBeRichText(box.text));
    }

    void logo()
    {
        const QImage logo(QStringLiteral(":/resource/resources/images/logo.png"));
        QCOMPARE(logo.size(), QSize(123, 40));
        QVERIFY(logo.hasAlphaChannel());
        int transparent = 0;
        int opaque = 0;
        for (int y = 0; y < logo.height(); ++y) {
            for (int x = 0; x < logo.width(); ++x) {
                const QColor pixel = logo.pixelColor(x, y);
                if (pixel.alpha() == 0)
                    ++transparent;
                if (pixel.alpha() >= 128) {
                    ++opaque;
                    // Light, so that it reads on the dark blue cell of the About box.
                    QVERIFY2(pixel.lightness() >= 150,
                             qPrintable(QStringLiteral("dark pixel at %1,%2").arg(x).arg(y)));
                }
            }
        }
        QVERIFY(transparent > logo.width() * logo.height() / 2);
        QVERIFY(opaque > 0);
    }

    void helpManual_data()
    {
        QTest::addColumn<bool>("inWorkingDir");
        QTest::addColumn<bool>("installed");
        QTest::addColumn<QString>("expected");
        QTest::newRow("working directory first") << true << true << "working";
        QTest::newRow("working directory only") << true << false << "working";
        QTest::newRow("installed manual") << false << true << "installed";
        QTest::newRow("neither") << false << false << "";
    }

    void helpManual()
    {
        QFETCH(bool, inWorkingDir);
        QFETCH(bool, installed);
        QFETCH(QString, expected);

        const QString working = QDir(bench->dir.path()).filePath(manualName);
        // The installed manual's place as the program sees it from its own folder.
        const QDir installedDir(installedManualDir());
        const bool madeDir = !installedDir.exists();
        const QString installedFile = installedDir.filePath(manualName);
        auto tidy = qScopeGuard([&] {
            QFile::remove(working);
            QFile::remove(installedFile);
            if (madeDir)
                QDir().rmpath(installedDir.path());
        });
        QVERIFY2(!QFile::exists(installedFile), "a manual is installed beside the test already");
        if (inWorkingDir)
            writeFile(working);
        if (installed) {
            QVERIFY(QDir().mkpath(installedDir.path()));
            writeFile(installedFile);
        }

        desktop.opened.clear();
        bench->boxes.clear();
        const QString log = bench->logText();
        bench->window->findChild<QAction*>(QStringLiteral("actionAboutSensor"))->trigger();
        if (expected.isEmpty()) {
            QVERIFY(desktop.opened.isEmpty());
            // The user learns where the manual was looked for.
            QCOMPARE(bench->boxes.boxes().size(), 1);
            const ModalAnswerer::Box box = bench->boxes.boxes().first();
            QCOMPARE(box.title, QStringLiteral("Справка"));
            QCOMPARE(box.icon, QMessageBox::Warning);
            QCOMPARE(box.text,
                     QStringLiteral("Файл справки %1 не найден. Он ищется в папках:\n%2\n%3")
                         .arg(manualName, QDir::currentPath(), installedDir.path()));
        } else {
            QCOMPARE(desktop.opened.size(), 1);
            const QUrl url = desktop.opened.first();
            QVERIFY(url.isLocalFile());
            QCOMPARE(
                QFileInfo(url.toLocalFile()).canonicalFilePath(),
                QFileInfo(expected == "working" ? working : installedFile).canonicalFilePath());
            QVERIFY(bench->boxes.boxes().isEmpty());
        }
        // Nothing is logged either way.
        QCOMPARE(bench->logText(), log);
    }

    // A desktop without any PDF viewer: no program on the PATH takes the file.
    void helpWithoutViewer()
    {
        const QString manual = QDir::current().filePath(manualName);
        writeFile(manual);
        QTemporaryDir emptyBin;
        const QByteArray path = qgetenv("PATH");
        QDesktopServices::unsetUrlHandler(QStringLiteral("file"));
        qputenv("PATH", emptyBin.path().toLocal8Bit());
        auto restore = qScopeGuard([&] {
            qputenv("PATH", path);
            QDesktopServices::setUrlHandler(QStringLiteral("file"), &desktop, "open");
            QFile::remove(manual);
        });

        bench->boxes.clear();
        bench->window->findChild<QAction*>(QStringLiteral("actionAboutSensor"))->trigger();

        QCOMPARE(bench->boxes.boxes().size(), 1);
        const ModalAnswerer::Box box = bench->boxes.boxes().first();
        QCOMPARE(box.title, QStringLiteral("Справка"));
        QCOMPARE(box.icon, QMessageBox::Warning);
        QCOMPARE(box.text,
                 QStringLiteral("Справку не удалось открыть: не установлена программа для "
                                "просмотра файлов PDF. Установите её или откройте файл "
                                "вручную:\n") +
                     QFileInfo(manual).absoluteFilePath());
    }

    // F1 opens the manual wherever the focus is in the window.
    void f1OpensTheManual_data()
    {
        QTest::addColumn<QString>("focus");
        QTest::newRow("address field of the manual addition") << "lineEditAddrMB";
        QTest::newRow("port monitor") << "consol";
        QTest::newRow("device list") << "listWidgetDevices";
    }

    void f1OpensTheManual()
    {
        QFETCH(QString, focus);
        const QString manual = QDir::current().filePath(manualName);
        writeFile(manual);
        MainWindow* window = bench->window.get();
        window->show();
        QApplication::setActiveWindow(window);
        auto tidy = qScopeGuard([&] {
            window->hide();
            QFile::remove(manual);
        });
        QVERIFY(QTest::qWaitForWindowActive(window));
        auto* target = bench->find<QWidget>(qPrintable(focus));
        auto* tabs = bench->find<QTabWidget>("tabWidget");
        for (int i = 0; i < tabs->count(); ++i)
            if (tabs->widget(i)->isAncestorOf(target))
                tabs->setCurrentIndex(i);
        target->setFocus();
        QTRY_VERIFY(target->hasFocus());

        desktop.opened.clear();
        QTest::keyClick(target, Qt::Key_F1);
        QCOMPARE(desktop.opened.size(), 1);
        QCOMPARE(QFileInfo(desktop.opened.first().toLocalFile()).canonicalFilePath(),
                 QFileInfo(manual).canonicalFilePath());
    }

    // F1 in the site view: the desktop's PDF viewer opened at the page the manual's page index
    // gives the site chapter, when it is a viewer that takes a page; else the whole manual.
    void siteHelp_data()
    {
        QTest::addColumn<QString>("viewer"); // the desktop entry xdg-mime names
        QTest::addColumn<bool>("indexed");
        QTest::addColumn<QStringList>("arguments"); // the viewer's; empty: the whole manual
        const QString page = QStringLiteral("13");
        QTest::newRow("evince") << "org.gnome.Evince.desktop" << true
                                << QStringList{"--page-index=" + page, "MANUAL"};
        QTest::newRow("okular") << "okularApplication_pdf.desktop" << true
                                << QStringList{"--page", page, "MANUAL"};
        QTest::newRow("a viewer that takes no page") << "gimp.desktop" << true << QStringList();
        QTest::newRow("no page index") << "org.gnome.Evince.desktop" << false << QStringList();
    }

    void siteHelp()
    {
        QFETCH(QString, viewer);
        QFETCH(bool, indexed);
        QFETCH(QStringList, arguments);
        const QString manual = QDir::current().filePath(manualName);
        writeFile(manual);
        QString pagesPath = manual;
        pagesPath.replace(QRegularExpression(QStringLiteral("\\.pdf$")), QStringLiteral(".pages"));
        QFile pages(pagesPath);
        if (indexed) {
            QVERIFY(pages.open(QIODevice::WriteOnly));
            pages.write(QStringLiteral("3\t1. Назначение\n12\t13. Экспорт показаний в CSV\n"
                                       "13\t14. Обзор площадки\n13\t14.1. Ничего не теряется\n")
                            .toUtf8());
            pages.close();
        }
        // The desktop: xdg-mime names the viewer, the viewers write down how they were called.
        QTemporaryDir bin;
        const QString called = bin.filePath(QStringLiteral("called"));
        const auto script = [&bin](const QString& name, const QString& body) {
            QFile file(bin.filePath(name));
            QVERIFY(file.open(QIODevice::WriteOnly));
            file.write(("#!/bin/sh\n" + body + "\n").toUtf8());
            file.close();
            QVERIFY(file.setPermissions(file.permissions() | QFileDevice::ExeOwner));
        };
        script(QStringLiteral("xdg-mime"), QStringLiteral("echo %1").arg(viewer));
        for (const char* program : {"evince", "okular"})
            script(QString::fromLatin1(program),
                   QStringLiteral("printf '%s\\n' \"$@\" > %1.tmp && mv %1.tmp %1").arg(called));
        const QByteArray path = qgetenv("PATH");
        qputenv("PATH", QFile::encodeName(bin.path()) + ':' + path);
        auto tidy = qScopeGuard([&] {
            qputenv("PATH", path);
            QFile::remove(manual);
            pages.remove();
        });

        bench->window->findChild<QAction*>(QStringLiteral("actionSiteView"))->trigger();
        auto* view = bench->window->findChild<SiteView*>();
        QApplication::setActiveWindow(view);
        QVERIFY(QTest::qWaitForWindowActive(view));
        desktop.opened.clear();
        QTest::keyClick(view, Qt::Key_F1);
        if (arguments.isEmpty()) {
            QCOMPARE(desktop.opened.size(), 1);
            QCOMPARE(QFileInfo(desktop.opened.first().toLocalFile()).canonicalFilePath(),
                     QFileInfo(manual).canonicalFilePath());
        } else {
            arguments.replaceInStrings(QStringLiteral("MANUAL"),
                                       QFileInfo(manual).absoluteFilePath());
            QTRY_VERIFY_WITH_TIMEOUT(QFile::exists(called), 10000);
            QFile file(called);
            QVERIFY(file.open(QIODevice::ReadOnly));
            QCOMPARE(QString::fromUtf8(file.readAll()).split('\n', Qt::SkipEmptyParts), arguments);
            QVERIFY(desktop.opened.isEmpty());
        }
        view->close();
    }

    // A search or an upload locks the window, but never the help menu.
    void menuDuringLock_data()
    {
        QTest::addColumn<QString>("lock");
        QTest::addColumn<QString>("unlock");
        QTest::newRow("views") << "DisableAllViewAction"
                               << "EnableAllViewAction";
        QTest::newRow("search, upload") << "DisableAllViewAction2"
                                        << "EnableAllViewAction2";
        QTest::newRow("reset") << "DisableAllViewAction3"
                               << "EnableAllViewAction3";
    }

    void menuDuringLock()
    {
        QFETCH(QString, lock);
        QFETCH(QString, unlock);
        bench->invoke(qPrintable(lock));
        auto relock = qScopeGuard([&] { bench->invoke(qPrintable(unlock)); });
        QVERIFY(bench->find<QMenuBar>("menuBar")->isEnabled());
        for (const char* name : {"actionAboutApplication", "actionAboutSensor"})
            QVERIFY2(bench->window->findChild<QAction*>(QLatin1String(name))->isEnabled(), name);
    }

private:
    std::unique_ptr<WindowBench> bench;
    UrlCatcher desktop;
};

QTEST_MAIN(TestAbout)
#include "tst_about.moc"
