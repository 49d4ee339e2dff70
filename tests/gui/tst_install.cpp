// What the build and `cmake --install` deliver: the manual as a PDF, the program with its
// desktop entry, icons and manual in an installed tree, and the Windows icon file.
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
    }

    void manualPages() { QVERIFY(manualText.count(QLatin1Char('\f')) > 1); }

    void manualSections_data()
    {
        QTest::addColumn<QString>("title");
        for (const char* title :
             {"Назначение", "Типы датчиков", "Подключение адаптера RS-485", "Добавление датчиков",
              "Оперативная информация", "Уставки", "Смена адреса и сброс настроек",
              "Калибровка датчика напряжения", "Перепрограммирование", "Монитор порта и журнал",
              "Обзор площадки", "Устранение неполадок"})
            QTest::newRow(title) << QString::fromUtf8(title);
    }

    void manualSections()
    {
        QFETCH(QString, title);
        QVERIFY(manualText.contains(title));
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
    QTemporaryDir prefix;
    QString manualText;
};

QTEST_MAIN(TestInstall)
#include "tst_install.moc"
