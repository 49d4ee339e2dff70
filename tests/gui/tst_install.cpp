// What the build and `cmake --install` deliver: the manual as a PDF, the program with its
// desktop entry, icons, manual and manual pages in an installed tree, and the Windows icon file.
#include "gui/buildinfo.h"

#include <QImageReader>
#include <QtTest>

namespace {

// Runs a tool to its end and collects what it wrote; false when it could not run.
bool run(const QString& program, const QStringList& arguments, QString* output,
         int* exitCode = nullptr)
{
    QProcess process;
    process.start(program, arguments);
    if (!process.waitForStarted() || !process.waitForFinished(120000))
        return false;
    if (exitCode)
        *exitCode = process.exitStatus() == QProcess::NormalExit ? process.exitCode() : -1;
    *output = QString::fromUtf8(process.readAllStandardOutput() + process.readAllStandardError());
    return true;
}

const QString manualName = QString::fromLatin1(buildinfo::manualName);

// The pictures the manual shows, as its Markdown names them.
QStringList figures()
{
    QFile source(QStringLiteral(VEL_SOURCE_DIR "/docs/manual.md"));
    if (!source.open(QIODevice::ReadOnly))
        return {};
    QStringList names;
    const QRegularExpression image(QStringLiteral("!\\[[^]]*\\]\\(([^)]+)\\)"));
    auto it = image.globalMatch(QString::fromUtf8(source.readAll()));
    while (it.hasNext())
        names << it.next().captured(1);
    return names;
}

QString figurePath(const QString& name)
{
    return QStringLiteral(VEL_SOURCE_DIR "/docs/") + name;
}

// The sections of a page; for velduo, also the commands its КОМАНДЫ section lists.
QStringList headings(const QString& help, QStringList* commands = nullptr)
{
    QStringList found;
    QString section;
    for (const QString& line : help.split(QLatin1Char('\n'))) {
        if (!line.isEmpty() && !line.at(0).isSpace())
            found << (section = line.trimmed());
        else if (commands && section == QStringLiteral("КОМАНДЫ") && !line.trimmed().isEmpty())
            *commands << line.trimmed().section(QLatin1Char(' '), 0, 0);
    }
    return found;
}

} // namespace

class TestInstall : public QObject
{
    Q_OBJECT

private slots:
    void initTestCase()
    {
        QVERIFY(prefix.isValid());
        int status = -1;
        QString output;
        QVERIFY(run(QStringLiteral(VEL_CMAKE),
                    {"--install", QStringLiteral(VEL_BINARY_DIR), "--prefix", prefix.path()},
                    &output, &status));
        QVERIFY2(status == 0, qPrintable(output));
        QVERIFY2(run(QStringLiteral("pdftotext"),
                     {"-enc", "UTF-8", QStringLiteral(VEL_MANUAL_PDF), "-"}, &manualText),
                 "pdftotext did not run (poppler-utils)");
        QString laidOut;
        QVERIFY(run(QStringLiteral("pdftotext"),
                    {"-enc", "UTF-8", "-layout", QStringLiteral(VEL_MANUAL_PDF), "-"}, &laidOut));
        manualPageTexts = laidOut.split(QLatin1Char('\f'));
    }

    void manualPages() { QVERIFY(manualText.count(QLatin1Char('\f')) > 1); }

    void manualSections_data()
    {
        QTest::addColumn<QString>("title");
        for (const char* title :
             {"Назначение", "Типы датчиков", "Подключение адаптера RS-485", "Добавление датчиков",
              "Оперативная информация", "Уставки", "Смена адреса и сброс настроек",
              "Калибровка датчика напряжения", "Перепрограммирование", "Монитор порта и журнал",
              "Файлы линии", "Обзор линии и тренды", "Экспорт показаний в CSV", "Обзор площадки",
              "Командная строка: velduo", "Устранение неполадок"})
            QTest::newRow(title) << QString::fromUtf8(title);
    }

    void manualSections()
    {
        QFETCH(QString, title);
        QVERIFY(manualText.contains(title));
    }

    // The table of contents names each chapter with the page it starts on.
    void manualContents_data() { manualSections_data(); }

    void manualContents()
    {
        QFETCH(QString, title);
        int contents = -1;
        for (int i = 0; i < manualPageTexts.size() && contents < 0; ++i)
            if (manualPageTexts.at(i).contains(QRegularExpression(
                    QStringLiteral("^\\s*Содержание\\s*$"), QRegularExpression::MultilineOption)))
                contents = i;
        QVERIFY2(contents >= 0, "no table of contents");
        const QString chapter =
            QStringLiteral("^\\s*\\d+\\.\\s+") + QRegularExpression::escape(title);
        const QRegularExpression entry(chapter + QStringLiteral("\\s{2,}(\\d+)\\s*$"),
                                       QRegularExpression::MultilineOption);
        // The contents run on over the pages before the first chapter's.
        const QRegularExpression first(QStringLiteral("^\\s*1\\.\\s+\\S.*\\s{2,}(\\d+)\\s*$"),
                                       QRegularExpression::MultilineOption);
        const int firstPage = first.match(manualPageTexts.at(contents)).captured(1).toInt() - 1;
        QString contentsText = manualPageTexts.at(contents);
        for (int i = contents + 1; i < firstPage && i < manualPageTexts.size(); ++i)
            contentsText += manualPageTexts.at(i);
        const QRegularExpressionMatch match = entry.match(contentsText);
        QVERIFY2(match.hasMatch(), qPrintable(contentsText));
        const int page = match.captured(1).toInt() - 1;
        QVERIFY(page > contents && page < manualPageTexts.size());
        QVERIFY2(manualPageTexts.at(page).contains(QRegularExpression(
                     chapter + QStringLiteral("\\s*$"), QRegularExpression::MultilineOption)),
                 qPrintable(manualPageTexts.at(page)));
    }

    // The page index installed beside the manual, by which F1 opens a viewer at a chapter,
    // names the page each chapter's heading stands on.
    void manualPageIndex_data() { manualSections_data(); }

    void manualPageIndex()
    {
        QFETCH(QString, title);
        QString name = manualName;
        name.replace(QRegularExpression(QStringLiteral("\\.pdf$")), QStringLiteral(".pages"));
        QFile index(QDir(prefix.path()).filePath("share/doc/VEL_DUO300/" + name));
        QVERIFY2(index.open(QIODevice::ReadOnly), qPrintable(index.fileName()));
        const QRegularExpression entry(
            QStringLiteral("^(\\d+)\t(\\d+\\.\\s+%1)$").arg(QRegularExpression::escape(title)),
            QRegularExpression::MultilineOption);
        const QRegularExpressionMatch match = entry.match(QString::fromUtf8(index.readAll()));
        QVERIFY2(match.hasMatch(), qPrintable(title));
        const int page = match.captured(1).toInt() - 1;
        QVERIFY(page >= 0 && page < manualPageTexts.size());
        QVERIFY2(
            manualPageTexts.at(page).contains(QRegularExpression(
                QStringLiteral("^\\s*%1\\s*$").arg(QRegularExpression::escape(match.captured(2))),
                QRegularExpression::MultilineOption)),
            qPrintable(manualPageTexts.at(page)));
    }

    // Every figure the manual names is in the installed PDF, whole: as many images of a
    // figure's size as the manual has figures of that size.
    void manualFigures_data()
    {
        QTest::addColumn<QString>("figure");
        QVERIFY(!figures().isEmpty());
        for (const QString& name : figures())
            QTest::newRow(qPrintable(name)) << name;
    }

    void manualFigures()
    {
        QFETCH(QString, figure);
        const QSize size = QImage(figurePath(figure)).size();
        QVERIFY(!size.isEmpty());
        int named = 0;
        for (const QString& other : figures())
            named += QImage(figurePath(other)).size() == size ? 1 : 0;
        QString list;
        QVERIFY2(run(QStringLiteral("pdfimages"),
                     {"-list", QDir(prefix.path()).filePath("share/doc/VEL_DUO300/" + manualName)},
                     &list),
                 "pdfimages did not run (poppler-utils)");
        // page num type width height ...
        const QRegularExpression row(QStringLiteral("^\\s*\\d+\\s+\\d+\\s+image\\s+%1\\s+%2\\s")
                                         .arg(size.width())
                                         .arg(size.height()),
                                     QRegularExpression::MultilineOption);
        QVERIFY2(list.count(row) >= named, qPrintable(list));
    }

    void installedFiles_data()
    {
        QTest::addColumn<QString>("path");
        QTest::addColumn<int>("iconSize");
        QTest::newRow("program") << "bin/VEL_DUO300" << 0;
        QTest::newRow("command line") << "bin/velduo" << 0;
        QTest::newRow("bash completion") << "share/bash-completion/completions/velduo" << 0;
        QTest::newRow("desktop entry") << "share/applications/VEL_DUO300.desktop" << 0;
        QTest::newRow("manual") << "share/doc/VEL_DUO300/" + manualName << 0;
        QTest::newRow("manual page velduo") << "share/man/man1/velduo.1" << 0;
        QTest::newRow("manual page window") << "share/man/man1/VEL_DUO300.1" << 0;
        QTest::newRow("service unit") << "lib/systemd/system/velduo-watch@.service" << 0;
        for (int size : {16, 24, 32, 48, 256})
            QTest::addRow("icon %d", size)
                << QStringLiteral("share/icons/hicolor/%1x%1/apps/VEL_DUO300.png").arg(size)
                << size;
    }

    void installedFiles()
    {
        QFETCH(QString, path);
        QFETCH(int, iconSize);
        const QFileInfo file(QDir(prefix.path()).filePath(path));
        QVERIFY2(file.isFile(), qPrintable(path));
        if (path.startsWith("bin/"))
            QVERIFY(file.isExecutable());
        if (iconSize)
            QCOMPARE(QImage(file.filePath()).size(), QSize(iconSize, iconSize));
    }

    // The service unit runs the velduo installed beside it, and systemd finds nothing wrong in
    // it: its settings, the program it starts and the manual page it names (looked up in the
    // installed tree).
    void serviceUnit()
    {
        const QString unit =
            QDir(prefix.path())
                .filePath(QStringLiteral("lib/systemd/system/velduo-watch@.service"));
        QFile file(unit);
        QVERIFY(file.open(QIODevice::ReadOnly));
        const QString text = QString::fromUtf8(file.readAll());
        QVERIFY2(
            text.contains(QStringLiteral("\nExecStart=%1 watch ")
                              .arg(QDir(prefix.path()).filePath(QStringLiteral("bin/velduo")))),
            qPrintable(text));
        QVERIFY(text.contains(QStringLiteral("\nKillSignal=SIGTERM\n")));
        QVERIFY(text.contains(QStringLiteral("\nRestart=on-failure\n")));
        QVERIFY(text.contains(QStringLiteral("\nUser=velduo\n")));
        QProcess verify;
        QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
        env.insert(QStringLiteral("MANPATH"),
                   QDir(prefix.path()).filePath(QStringLiteral("share/man")));
        verify.setProcessEnvironment(env);
        verify.setProcessChannelMode(QProcess::MergedChannels);
        verify.start(QStringLiteral("systemd-analyze"), {QStringLiteral("verify"), unit});
        QVERIFY2(verify.waitForStarted(), "systemd-analyze did not run (systemd)");
        QVERIFY(verify.waitForFinished(60000));
        const QString said = QString::fromUtf8(verify.readAll());
        // A setting it cannot parse is only a warning: nothing at all may be said.
        QVERIFY2(verify.exitCode() == 0 && said.trimmed().isEmpty(), qPrintable(said));
    }

    // Both installed programs name themselves, their version and the Qt they run on, without a
    // display.
    void version_data()
    {
        QTest::addColumn<QString>("program");
        QTest::newRow("window") << QStringLiteral("VEL_DUO300");
        QTest::newRow("command line") << QStringLiteral("velduo");
    }

    void version()
    {
        QFETCH(QString, program);
        QString output;
        int status = -1;
        QVERIFY(run(QDir(prefix.path()).filePath(QStringLiteral("bin/") + program),
                    {QStringLiteral("--version")}, &output, &status));
        QCOMPARE(status, 0);
        QCOMPARE(output,
                 QStringLiteral("%1 %2 (Qt %3)\n")
                     .arg(program, QLatin1String(buildinfo::version), QLatin1String(qVersion())));
    }

    // Each installed manual page renders without a warning and says what its program's --help
    // says: every section and every option, and on velduo's page every command, each of which
    // has a page of its own.
    void manPages_data()
    {
        QTest::addColumn<QString>("page");
        QTest::addColumn<QString>("program");
        QTest::addColumn<QStringList>("arguments");
        QString help;
        QVERIFY(run(bin(QStringLiteral("velduo")), {QStringLiteral("--help")}, &help));
        QStringList commands;
        headings(help, &commands);
        QVERIFY(commands.contains(QStringLiteral("scan")));
        QTest::newRow("velduo") << "velduo"
                                << "velduo" << QStringList{};
        QTest::newRow("VEL_DUO300") << "VEL_DUO300"
                                    << "VEL_DUO300" << QStringList{};
        for (const QString& command : commands)
            QTest::newRow(qPrintable(command))
                << QStringLiteral("velduo-") + command << "velduo" << QStringList{command};
    }

    void manPages()
    {
        QFETCH(QString, page);
        QFETCH(QString, program);
        QFETCH(QStringList, arguments);
        const QString path =
            QDir(prefix.path()).filePath(QStringLiteral("share/man/man1/%1.1").arg(page));
        QVERIFY2(QFileInfo(path).isFile(), qPrintable(path));
        QProcess man;
        QProcessEnvironment environment = QProcessEnvironment::systemEnvironment();
        environment.insert(QStringLiteral("LC_ALL"), QStringLiteral("C.UTF-8"));
        environment.insert(QStringLiteral("MANWIDTH"), QStringLiteral("80"));
        man.setProcessEnvironment(environment);
        man.start(QStringLiteral("man"),
                  {QStringLiteral("--warnings"), QStringLiteral("-l"), path});
        QVERIFY2(man.waitForFinished(60000), "man did not run (man-db, groff-base)");
        const QString warnings = QString::fromUtf8(man.readAllStandardError());
        QVERIFY2(warnings.isEmpty(), qPrintable(warnings));
        QCOMPARE(man.exitCode(), 0);
        const QString rendered = QString::fromUtf8(man.readAllStandardOutput()).simplified();

        QString help;
        QVERIFY(run(bin(program), arguments + QStringList{QStringLiteral("--help")}, &help));
        QStringList commands;
        for (const QString& heading : headings(help, &commands))
            QVERIFY2(rendered.contains(heading), qPrintable(heading));
        static const QRegularExpression option(QStringLiteral("(?:^|\\s)(--?[a-z][a-z-]*)"));
        auto options = option.globalMatch(help);
        while (options.hasNext()) {
            const QString name = options.next().captured(1);
            QVERIFY2(rendered.contains(name), qPrintable(name));
        }
        for (const QString& command : commands) {
            QVERIFY2(rendered.contains(QStringLiteral("velduo-%1(1)").arg(command)),
                     qPrintable(command));
            QVERIFY2(QFileInfo(
                         QFileInfo(path).dir().filePath(QStringLiteral("velduo-%1.1").arg(command)))
                         .isFile(),
                     qPrintable(command));
        }
    }

    // The installed program looks for its manual from its own folder.
    void manualFoundFromProgram()
    {
        const QDir bin(QDir(prefix.path()).filePath(QStringLiteral("bin")));
        const QDir docs(bin.filePath(QString::fromLatin1(buildinfo::manualFromBin)));
        QVERIFY(QFileInfo(docs.filePath(manualName)).isFile());
    }

    void desktopEntryValid()
    {
        int status = -1;
        QString output;
        QVERIFY2(run(QStringLiteral("desktop-file-validate"),
                     {QDir(prefix.path())
                          .filePath(QStringLiteral("share/applications/VEL_DUO300.desktop"))},
                     &output, &status),
                 "desktop-file-validate did not run (desktop-file-utils)");
        QVERIFY2(status == 0 && output.trimmed().isEmpty(), qPrintable(output));
    }

    void windowsIcon()
    {
        QImageReader reader(QStringLiteral(VEL_SOURCE_DIR "/resources/windows/VEL_DUO300.ico"));
        QCOMPARE(reader.imageCount(), 5);
        QList<int> sizes;
        for (int i = 0; i < reader.imageCount(); ++i) {
            QVERIFY(reader.jumpToImage(i));
            const QImage image = reader.read();
            QVERIFY2(!image.isNull(), qPrintable(reader.errorString()));
            QVERIFY(image.hasAlphaChannel());
            QCOMPARE(image.width(), image.height());
            sizes << image.width();
        }
        QCOMPARE(sizes, QList<int>({16, 24, 32, 48, 256}));
    }

private:
    QString bin(const QString& program) const
    {
        return QDir(prefix.path()).filePath(QStringLiteral("bin/") + program);
    }

    QTemporaryDir prefix;
    QString manualText;
    QStringList manualPageTexts; // laid out as printed, a page each
};

QTEST_MAIN(TestInstall)
#include "tst_install.moc"
