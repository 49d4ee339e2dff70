// Port monitor and log, the serial port list, and the sequence that re-opens the port.
#include "core/link/lineclient.h"
#include "gui/buildinfo.h"
#include "support/windowbench.h"

#include <QSerialPortInfo>
#include <QtTest>
#include <QtWidgets>

namespace {

const char* const extraPorts = "VEL_DUO300_EXTRA_PORTS";

void callPrint(MainWindow* window, const QString& prefix, const QString& data)
{
    if (!QMetaObject::invokeMethod(window, "Print", Qt::DirectConnection, Q_ARG(QString, prefix),
                                   Q_ARG(QString, data)))
        qFatal("Print not invoked");
}

void callPrintRead(MainWindow* window, const QString& prefix, const QByteArray& data)
{
    if (!QMetaObject::invokeMethod(window, "PrintRead", Qt::DirectConnection,
                                   Q_ARG(QString, prefix), Q_ARG(QByteArray, data)))
        qFatal("PrintRead not invoked");
}

void callErrorComPort(MainWindow* window, const QString& prefix, const QString& data)
{
    if (!QMetaObject::invokeMethod(window, "errorComPort", Qt::DirectConnection,
                                   Q_ARG(QString, prefix), Q_ARG(QString, data)))
        qFatal("errorComPort not invoked");
}

// The line that opens each session in the log; the date and time are its first capture.
QRegularExpression sessionLine()
{
    return QRegularExpression(
        QStringLiteral("^=== (\\d{4}-\\d\\d-\\d\\d \\d\\d:\\d\\d:\\d\\d) VEL_DUO300 ") +
        QRegularExpression::escape(QString::fromLatin1(buildinfo::version)) +
        QStringLiteral(" ===$"));
}

QStringList itemTexts(const QComboBox* box)
{
    QStringList texts;
    for (int i = 0; i < box->count(); ++i)
        texts << box->itemText(i);
    return texts;
}

} // namespace

class TestMonitor : public QObject
{
    Q_OBJECT

private slots:
    void init()
    {
        bench = std::make_unique<WindowBench>();
        // Every window opens its session in the log first.
        sessionStart = bench->logText();
        QVERIFY2(sessionLine().match(sessionStart.chopped(1)).hasMatch(), qPrintable(sessionStart));
    }
    void cleanup() { bench.reset(); }

    void printLines_data()
    {
        QTest::addColumn<QStringList>("prefixes");
        QTest::addColumn<QStringList>("data");
        QTest::addColumn<QString>("monitor");
        QTest::addColumn<QString>("log");
        QTest::newRow("prefix joined to data")
            << QStringList{"Error: "} << QStringList{"Нет датчика"} << "Error: Нет датчика\n"
            << "Error: Нет датчика\n";
        QTest::newRow("two lines") << QStringList{"a| ", "b| "} << QStringList{"first", "second"}
                                   << "a| first\nb| second\n"
                                   << "a| first\nb| second\n";
        // Port messages of the worker end with a carriage return of their own.
        QTest::newRow("carriage return in data")
            << QStringList{"12:00:00.000| /dev/ttyUSB0>> ", "x"} << QStringList{"Закрыт!\r", "y"}
            << "12:00:00.000| /dev/ttyUSB0>> Закрыт!\n\nxy\n"
            << "12:00:00.000| /dev/ttyUSB0>> Закрыт!\r\nxy\n";
        QTest::newRow("empty") << QStringList{""} << QStringList{""} << "\n"
                               << "\n";
    }

    void printLines()
    {
        QFETCH(QStringList, prefixes);
        QFETCH(QStringList, data);
        QFETCH(QString, monitor);
        QFETCH(QString, log);
        for (int i = 0; i < prefixes.size(); ++i)
            callPrint(bench->window.get(), prefixes.at(i), data.at(i));
        // The monitor's carriage return ends a paragraph; the log gets a line feed instead.
        QCOMPARE(bench->monitorText(), monitor);
        QCOMPARE(bench->logText(), sessionStart + log);
    }

    void printReadWritesHex_data()
    {
        QTest::addColumn<QByteArray>("data");
        QTest::addColumn<QString>("line");
        QTest::newRow("two lowercase digits a byte")
            << QByteArray::fromHex("01030a") << "12:00:00.000| >> 01030a";
        QTest::newRow("leading zeros kept")
            << QByteArray::fromHex("00ff0f") << "12:00:00.000| >> 00ff0f";
        QTest::newRow("no bytes: the prefix alone") << QByteArray() << "12:00:00.000| >> ";
    }

    void printReadWritesHex()
    {
        QFETCH(QByteArray, data);
        QFETCH(QString, line);
        callPrintRead(bench->window.get(), QStringLiteral("12:00:00.000| >> "), data);
        QCOMPARE(bench->monitorText(), line + '\n');
        QCOMPARE(bench->logText(), sessionStart + line + '\n');
    }

    // The worker's answer bytes reach the monitor and the log through PrintRead: one line an
    // answer, in hexadecimal, after the request's line.
    void answerLineComesThroughPrintRead()
    {
        bench->bus.addSensor(1, 9600, SensorType::Voltage);
        bench->addByHand(1, 9600);
        // The lines of the addition's exchanges have all come.
        QTRY_COMPARE(bench->monitorText().count(QStringLiteral("| >> ")), bench->bus.sent().size());
        const int monitorMark = bench->monitorText().size();
        const int logMark = bench->logText().size();
        bench->bus.clearLog();

        bench->invoke("readUst");
        QCOMPARE(bench->bus.sent().size(), 1);
        const QString answer = QString::fromLatin1(bench->bus.sent().first().bytes.toHex());
        const QRegularExpression expected(QStringLiteral("^\\d\\d:\\d\\d:\\d\\d\\.\\d{3}\\| << "
                                                         "010301000014[0-9a-f]{4}\\n"
                                                         "\\d\\d:\\d\\d:\\d\\d\\.\\d{3}\\| >> ") +
                                          answer + QStringLiteral("\\n$"));
        QTRY_VERIFY2(expected.match(bench->monitorText().mid(monitorMark)).hasMatch(),
                     qPrintable(bench->monitorText().mid(monitorMark)));
        QVERIFY2(expected.match(bench->logText().mid(logMark)).hasMatch(),
                 qPrintable(bench->logText().mid(logMark)));
    }

    void monitorKeepsNewestLines_data()
    {
        QTest::addColumn<int>("lines");
        QTest::newRow("at the limit") << MainWindow::monitorLineLimit;
        QTest::newRow("one over") << MainWindow::monitorLineLimit + 1;
        QTest::newRow("far over") << MainWindow::monitorLineLimit + 999;
    }

    void monitorKeepsNewestLines()
    {
        QFETCH(int, lines);
        QStringList written;
        for (int i = 0; i < lines; ++i) {
            written << QStringLiteral("12:00:00.000| << line %1").arg(i);
            callPrint(bench->window.get(), QString(), written.last());
        }
        const QStringList kept = written.mid(qMax(0, lines - MainWindow::monitorLineLimit));
        QCOMPARE(bench->monitorText(), kept.join('\n') + '\n');
        QCOMPARE(bench->logText(), sessionStart + written.join('\n') + '\n');
    }

    void logAppendedAcrossRuns()
    {
        bench->window.reset();
        {
            QFile log(bench->dir.filePath("log.txt"));
            QVERIFY(log.open(QIODevice::WriteOnly));
            log.write("earlier run\n");
        }
        bench->window = std::make_unique<MainWindow>();
        callPrint(bench->window.get(), "first| ", "one");
        bench->window.reset();
        bench->window = std::make_unique<MainWindow>();
        callPrint(bench->window.get(), "second| ", "two");

        // Each run opens its own session.
        const QStringList lines = bench->logText().split(QLatin1Char('\n'));
        QCOMPARE(lines.size(), 6);
        QCOMPARE(lines.at(0), QStringLiteral("earlier run"));
        QVERIFY2(sessionLine().match(lines.at(1)).hasMatch(), qPrintable(lines.at(1)));
        QCOMPARE(lines.at(2), QStringLiteral("first| one"));
        QVERIFY2(sessionLine().match(lines.at(3)).hasMatch(), qPrintable(lines.at(3)));
        QCOMPARE(lines.at(4), QStringLiteral("second| two"));
        QCOMPARE(lines.at(5), QString());
        QCOMPARE(bench->monitorText(), QStringLiteral("second| two\n"));
    }

    void sessionLineOpensTheLog()
    {
        bench->window.reset();
        QVERIFY(QFile::remove(bench->dir.filePath("log.txt")));
        const QDateTime before = QDateTime::currentDateTime().addMSecs(-999);
        bench->window = std::make_unique<MainWindow>();
        const QDateTime after = QDateTime::currentDateTime();

        const QString log = bench->logText();
        const QRegularExpressionMatch match = sessionLine().match(log.chopped(1));
        QVERIFY2(log.endsWith('\n') && match.hasMatch(), qPrintable(log));
        const QDateTime at =
            QDateTime::fromString(match.captured(1), QStringLiteral("yyyy-MM-dd hh:mm:ss"));
        QVERIFY2(at >= before && at <= after, qPrintable(match.captured(1)));
        // The log's own line: the monitor shows what happens on the line.
        QCOMPARE(bench->monitorText(), QString());
    }

    void unwritableLog_data()
    {
        QTest::addColumn<bool>("readOnlyFolder"); // else log.txt is a folder
        QTest::newRow("log.txt is a folder") << false;
        QTest::newRow("working directory without write permission") << true;
    }

    void unwritableLog()
    {
        QFETCH(bool, readOnlyFolder);
        bench->window.reset();
        const QString path = QDir::current().absoluteFilePath(QStringLiteral("log.txt"));
        QVERIFY(QFile::remove(path));
        QFile::Permissions mode = QFile(bench->dir.path()).permissions();
        auto restore = qScopeGuard([&] {
            QFile::setPermissions(bench->dir.path(), mode);
            QDir().rmdir(path);
        });
        if (readOnlyFolder) {
            QVERIFY(QFile::setPermissions(bench->dir.path(), QFile::ReadOwner | QFile::ExeOwner));
            QFile probe(path);
            if (probe.open(QIODevice::Append)) {
                probe.remove();
                QSKIP("this user writes into folders without write permission (root)");
            }
        } else {
            QVERIFY(QDir().mkdir(path));
        }

        bench->window = std::make_unique<MainWindow>();
        callPrint(bench->window.get(), "a| ", "one");

        // Said once, in Russian, with the full path; the monitor goes on without the log.
        const QStringList lines = bench->monitorText().split('\n', Qt::SkipEmptyParts);
        QCOMPARE(lines.size(), 2);
        QVERIFY2(lines.at(0).startsWith(QStringLiteral("Warning: Журнал не ведётся: файл ") + path +
                                        QStringLiteral(" не удалось открыть для "
                                                       "дописывания (")),
                 qPrintable(lines.at(0)));
        QCOMPARE(lines.at(1), QStringLiteral("a| one"));
        QVERIFY(!QFileInfo(path).isFile());
    }

    void clearingMonitorKeepsLog()
    {
        callPrint(bench->window.get(), "a| ", "one");
        callPrint(bench->window.get(), "b| ", "two");
        const QString before = bench->logText();
        bench->find<QPushButton>("cBtnClear")->click();
        QCOMPARE(bench->monitorText(), QString());
        QCOMPARE(bench->logText(), before);

        callPrint(bench->window.get(), "c| ", "three");
        QCOMPARE(bench->monitorText(), QStringLiteral("c| three\n"));
        QCOMPARE(bench->logText(), before + "c| three\n");
    }

    void lineGoesToEndWhateverTheCursor_data()
    {
        QTest::addColumn<int>("anchor");
        QTest::addColumn<int>("position");
        QTest::newRow("selection in first line") << 1 << 4;
        QTest::newRow("selection across lines") << 7 << 2;
        QTest::newRow("caret in first line") << 3 << 3;
    }

    void lineGoesToEndWhateverTheCursor()
    {
        QFETCH(int, anchor);
        QFETCH(int, position);
        callPrint(bench->window.get(), "", "first");
        callPrint(bench->window.get(), "", "second");
        auto* consol = bench->find<QPlainTextEdit>("consol");
        QTextCursor cursor = consol->textCursor();
        cursor.setPosition(anchor);
        cursor.setPosition(position, QTextCursor::KeepAnchor);
        consol->setTextCursor(cursor);

        callPrint(bench->window.get(), "", "third");
        QCOMPARE(bench->monitorText(), QStringLiteral("first\nsecond\nthird\n"));
        QVERIFY(!consol->textCursor().hasSelection());
        QVERIFY(consol->textCursor().atEnd());
    }

    void errorComPortRebuildsPortList_data()
    {
        QTest::addColumn<bool>("searchEnabled");
        QTest::newRow("search enabled") << true;
        QTest::newRow("search disabled") << false;
    }

    void errorComPortRebuildsPortList()
    {
        QFETCH(bool, searchEnabled);
        auto* ports = bench->find<QComboBox>("PortNameBox");
        const QStringList before = itemTexts(ports);
        qputenv(extraPorts, ("/dev/vel-extra:" + bench->bus.slavePath()).toLocal8Bit());
        bench->find<QGroupBox>("groupBox_9")->setEnabled(searchEnabled);

        const QString prefix = QStringLiteral("12:00:00.000| /dev/vel-extra>> ");
        callErrorComPort(bench->window.get(), prefix, "No such file or directory");
        QCOMPARE(bench->monitorText(), prefix + "No such file or directory\n");
        QCOMPARE(bench->logText(), sessionStart + prefix + "No such file or directory\n");
        if (searchEnabled)
            QCOMPARE(ports->itemText(0), QStringLiteral("/dev/vel-extra"));
        else
            QCOMPARE(itemTexts(ports), before);
        QVERIFY(bench->boxes.boxes().isEmpty());
    }

    void searchComPortListsExtraPathsFirst()
    {
        auto* ports = bench->find<QComboBox>("PortNameBox");
        QCOMPARE(ports->itemText(0), bench->bus.slavePath());
        QCOMPARE(ports->currentIndex(), 0);

        qputenv(extraPorts, ("/dev/vel-extra:" + bench->bus.slavePath()).toLocal8Bit());
        ports->setCurrentIndex(0); // the bus, which moves to the second place
        bench->find<QPushButton>("Btn_Search")->click();

        QStringList expected = {"/dev/vel-extra", bench->bus.slavePath()};
        for (const QSerialPortInfo& info : QSerialPortInfo::availablePorts())
            expected << info.portName();
        QCOMPARE(itemTexts(ports), expected);
        QCOMPARE(ports->currentIndex(), 0);
        QCOMPARE(ports->currentText(), QStringLiteral("/dev/vel-extra"));
        for (int i = 0; i < ports->count(); ++i)
            QVERIFY(!ports->itemData(i).isValid());
    }

    void portChangeSequence()
    {
        struct Step
        {
            QString signal;
            QVariantList args;
            qint64 atMs;
        };
        QList<Step> steps;
        QElapsedTimer clock;
        clock.start();
        MainWindow* window = bench->window.get();
        auto* line = window->findChild<LineClient*>();
        connect(line, &LineClient::disconnectPort, window, [&] {
            steps.append({"disconnectPort", {}, clock.elapsed()});
        });
        connect(line, &LineClient::savesettings, window,
                [&](QString name, int baud, int dataBits, int parity, int stopBits, int flow) {
                    steps.append({"savesettings",
                                  {name, baud, dataBits, parity, stopBits, flow},
                                  clock.elapsed()});
                });
        connect(line, &LineClient::connectPort, window, [&] {
            steps.append({"connectPort", {}, clock.elapsed()});
        });
        connect(line, &LineClient::mb_read, window, [&] {
            steps.append({"mb_read", {}, clock.elapsed()});
        });

        bench->bus.addSensor(1, 9600, SensorType::Voltage);
        bench->addByHand(1, 9600);

        // The selection of the new sensor re-opens the port before its settings are read.
        QVERIFY(steps.size() >= 4);
        QCOMPARE(steps.at(0).signal, QStringLiteral("disconnectPort"));
        QCOMPARE(steps.at(1).signal, QStringLiteral("savesettings"));
        QCOMPARE(steps.at(1).args, QVariantList({bench->bus.slavePath(), 9600, 8, 0, 1, 0}));
        QCOMPARE(steps.at(2).signal, QStringLiteral("connectPort"));
        QCOMPARE(steps.at(3).signal, QStringLiteral("mb_read"));
        for (int i = 1; i <= 3; ++i) {
            const qint64 gap = steps.at(i).atMs - steps.at(i - 1).atMs;
            QVERIFY2(
                gap >= 45 && gap <= 500,
                qPrintable(QStringLiteral("%1 ms before %2").arg(gap).arg(steps.at(i).signal)));
        }
        // Every later re-opening is the same complete sequence.
        for (int i = 0; i < steps.size(); ++i) {
            if (steps.at(i).signal != QLatin1String("disconnectPort"))
                continue;
            QVERIFY(i + 2 < steps.size());
            QCOMPARE(steps.at(i + 1).signal, QStringLiteral("savesettings"));
            QCOMPARE(steps.at(i + 1).args, steps.at(1).args);
            QCOMPARE(steps.at(i + 2).signal, QStringLiteral("connectPort"));
        }
        QCOMPARE(bench->window->deviceRecords().size(), 1);
        QVERIFY(!bench->window->deviceRecords().first().commError);
    }

    void searchKeepsOpenPortOpen()
    {
        int opens = 0;
        connect(bench->window->findChild<LineClient*>(), &LineClient::connectPort,
                bench->window.get(), [&opens] { ++opens; });
        bench->bus.addSensor(1, 9600, SensorType::Voltage);
        bench->addByHand(1, 9600);
        QVERIFY(!bench->window->deviceRecords().first().commError);
        // The worker's reports of the re-openings so far are all on the monitor.
        QTRY_COMPARE(bench->monitorText().count(QStringLiteral("Открыт! Скорость 9600")), opens);

        // The new list starts with another port than the open one.
        qputenv(extraPorts, ("/dev/vel-extra:" + bench->bus.slavePath()).toLocal8Bit());
        const int mark = bench->monitorText().size();
        bench->bus.clearLog();
        bench->find<QPushButton>("Btn_Search")->click();
        auto* ports = bench->find<QComboBox>("PortNameBox");
        QCOMPARE(ports->currentIndex(), 0);
        QCOMPARE(ports->currentText(), QStringLiteral("/dev/vel-extra"));

        // Anything the click sent to the worker would be served before this read.
        bench->invoke("readUst");
        QCOMPARE(bench->requests(rtu::Function::ReadRegisters).size(), 1);
        QVERIFY(!bench->window->deviceRecords().first().commError);
        const QString lines = bench->monitorText().mid(mark);
        const int answerAt = lines.indexOf(QStringLiteral("| >> "));
        QVERIFY2(answerAt >= 0, qPrintable(lines));
        QVERIFY2(!lines.left(answerAt).contains(QStringLiteral("Закрыт!")), qPrintable(lines));
        QVERIFY2(!lines.contains(QStringLiteral("Нет ответа")), qPrintable(lines));
    }

private:
    std::unique_ptr<WindowBench> bench;
    QString sessionStart; // the log as the window left it at its start
};

QTEST_MAIN(TestMonitor)
#include "tst_monitor.moc"
