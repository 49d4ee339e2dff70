// Why a file could not be opened, in the user's language whatever the system's is.
#include "codec/filefault.h"

#include <QFile>
#include <QSaveFile>
#include <QTemporaryDir>
#include <QtTest>

class TestFileFault : public QObject
{
    Q_OBJECT

private slots:
    void openFaults_data()
    {
        QTest::addColumn<QString>("path"); // within a folder that holds "folder" and "file"
        QTest::addColumn<int>("mode");
        QTest::addColumn<QString>("why");
        QTest::newRow("missing") << "none.json" << int(QIODevice::ReadOnly)
                                 << "нет такого файла или папки";
        QTest::newRow("in a missing folder")
            << "none/log.txt" << int(QIODevice::Append) << "нет такого файла или папки";
        QTest::newRow("a folder written")
            << "folder" << int(QIODevice::WriteOnly) << "это папка, а не файл";
        QTest::newRow("a file taken for a folder")
            << "file/x.json" << int(QIODevice::ReadOnly) << "часть пути - не папка";
    }

    void openFaults()
    {
        QFETCH(QString, path);
        QFETCH(int, mode);
        QFETCH(QString, why);
        QTemporaryDir dir;
        QVERIFY(QDir(dir.path()).mkdir(QStringLiteral("folder")));
        QFile plain(dir.filePath(QStringLiteral("file")));
        QVERIFY(plain.open(QIODevice::WriteOnly));
        plain.close();
        QFile file(dir.filePath(path));
        QString told;
        QVERIFY(!openFile(file, QIODevice::OpenMode(mode), &told));
        QCOMPARE(told, why);
    }

    // A number without words of ours is still told, with its number.
    void unknownNumber()
    {
        QCOMPARE(systemErrorText(9999), QStringLiteral("системная ошибка 9999"));
    }
};

QTEST_GUILESS_MAIN(TestFileFault)
#include "tst_filefault.moc"
