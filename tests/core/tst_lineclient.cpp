// The line client over a pseudo-terminal, without a window: each call returns its one reply,
// the monitor lines carry the traffic, and the end of the program cuts an exchange short.
#include "core/link/lineclient.h"
#include "sim/sensorbus.h"
#include "support/busyloops.h"

#include <QElapsedTimer>
#include <QTimer>
#include <QtTest>

class TestLineClient : public QObject
{
    Q_OBJECT

private slots:
    void replies_data()
    {
        QTest::addColumn<QByteArray>("answer"); // empty: the line stays silent
        QTest::addColumn<int>("error");
        QTest::addColumn<QString>("answerLine");

        QTest::newRow("01 03 04 ... read answer") << QByteArray::fromHex("0103040a0b0c0d1122") << 0
                                                  << QStringLiteral("0103040a0b0c0d1122");
        QTest::newRow("01 83 02 exception")
            << QByteArray::fromHex("0183021122") << 2 << QStringLiteral("0183021122");
        QTest::newRow("silence") << QByteArray() << 6 << QString();
    }

    void replies()
    {
        QFETCH(QByteArray, answer);
        QFETCH(int, error);
        QFETCH(QString, answerLine);
        sim::SensorBus bus;
        QVERIFY(bus.open());
        LineClient line;
        QStringList monitor;
        connect(&line, &LineClient::monitorLine, this,
                [&](QString prefix, QString text) { monitor << prefix + text; });
        line.reopen(bus.slavePath(), 115200);
        QVERIFY(line.pause(50)); // the port sequence's lines arrive
        monitor.clear();
        bus.queueScript(answer.isEmpty() ? QList<sim::Chunk>{} : QList<sim::Chunk>{{0, answer}});

        const Reply reply = line.read(1, 0x0000, 2, 1);

        QCOMPARE(reply.error, error);
        QVERIFY(!reply.ending);
        QCOMPARE(reply.answer, answer);
        QCOMPARE(bus.received().size(), 1);
        QVERIFY(line.pause(20));
        QVERIFY2(monitor.first().contains(QStringLiteral("| << 010300000002")),
                 qPrintable(monitor.join('\n')));
        const QStringList answers = monitor.filter(QStringLiteral("| >> "));
        QCOMPARE(answers.size(), answerLine.isEmpty() ? 0 : 1);
        if (!answerLine.isEmpty())
            QVERIFY(answers.first().endsWith(answerLine));
    }

    // An answer that stalls in the middle is cut after the long silence; its tail, coming
    // later, spoils at most the exchange it falls into, and the line answers again after. The
    // answers come in two pieces some milliseconds apart, as through an adapter: a tail and the
    // first piece of the next answer make the expected length, and the rest of that answer must
    // not start the next one.
    void stallInsideAnAnswer_data()
    {
        QTest::addColumn<int>("stallMs");
        QTest::addColumn<int>("busyLoops");
        QTest::newRow("30 ms") << 30 << 0;
        QTest::newRow("80 ms") << 80 << 0;
        QTest::newRow("30 ms, two busy loops") << 30 << 2;
        QTest::newRow("50 ms, two busy loops") << 50 << 2;
        QTest::newRow("80 ms, two busy loops") << 80 << 2;
    }

    void stallInsideAnAnswer()
    {
        QFETCH(int, stallMs);
        QFETCH(int, busyLoops);
        BusyLoops load(busyLoops);
        sim::SensorBus bus;
        QVERIFY(bus.open());
        // 33 bytes: the answer to a read of 14 registers at address 1.
        QByteArray answer = QByteArray::fromHex("01031c");
        for (int i = 0; i < 30; ++i)
            answer.append(char(0x40 + i));
        for (int i = 0; i < 300; ++i)
            bus.queueScript({{1, answer.left(16)}, {i == 2 ? stallMs : 5, answer.mid(16)}});
        LineClient line;
        QStringList monitor;
        connect(&line, &LineClient::monitorLine, this,
                [&](QString prefix, QString text) { monitor << prefix + text; });
        line.open(bus.slavePath(), 115200);

        // Exchanges back to back until well after the tail has come, and then until three in a
        // row have been answered: on a busy machine the time alone may end just after the tail
        // spoiled one. A line that never recovers stops at the bound and fails below.
        QList<int> errors;
        QElapsedTimer clock;
        clock.start();
        const auto recovered = [&errors] {
            return errors.size() >= 3 && errors.mid(errors.size() - 3) == QList<int>{0, 0, 0};
        };
        while ((errors.size() < 10 || clock.elapsed() < stallMs + 150 || !recovered()) &&
               errors.size() < 250)
            errors << line.read(1, 0x0000, 14, 1).error;

        const QString trace = monitor.join(QLatin1Char('\n'));
        QCOMPARE(errors.mid(0, 2), (QList<int>{0, 0}));
        QVERIFY2(errors.at(2) != 0, qPrintable(trace));
        QVERIFY2(errors.count(0) >= errors.size() - 2, qPrintable(trace));
        QVERIFY2(errors.mid(errors.size() - 3) == (QList<int>{0, 0, 0}), qPrintable(trace));
        QVERIFY(line.lostPort().isEmpty());
    }

    void endCutsTheExchangeShort()
    {
        sim::SensorBus bus;
        QVERIFY(bus.open());
        LineClient line;
        line.reopen(bus.slavePath(), 115200);
        // Three attempts at an address nobody has would take 1.2 s.
        QTimer::singleShot(100, &line, [&line] { line.end(); });
        QElapsedTimer clock;
        clock.start();

        const Reply reply = line.read(9, 0x0100, 20, 3);

        QVERIFY(reply.ending);
        QVERIFY2(clock.elapsed() < 1000, qPrintable(QString::number(clock.elapsed())));
        // Nothing more is sent once the end is known, by this call or a later one.
        QVERIFY(line.read(9, 0x0100, 20, 3).ending);
        QVERIFY(!line.pause(10));
        QTest::qWait(500);
        QCOMPARE(bus.received().size(), 1);
    }
};

QTEST_MAIN(TestLineClient)
#include "tst_lineclient.moc"
