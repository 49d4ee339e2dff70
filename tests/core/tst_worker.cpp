// The serial worker over a pseudo-terminal: opening and closing the port, port errors, and the
// receive timing that decides when an answer is complete or absent. The worker lives in the
// test thread, so its blocking waits block the test while the bus serves from its own thread.
#include "codec/blocks.h"
#include "core/link/modbus.h"
#include "core/link/portfailure.h"
#include "sim/sensorbus.h"
#include "support/busyloops.h"

#include <QElapsedTimer>
#include <QRegularExpression>
#include <QSerialPort>
#include <QtTest>
#include <poll.h>

namespace {

// One signal of the worker, stamped when it was emitted.
struct Event
{
    QString kind; // "error", "print", "out" or "packet"
    QString prefix;
    QString text;
    QByteArray bytes;
    qint64 atNs = 0;    // on the fixture's clock
    qint64 atBusMs = 0; // on the bus's clock
};

// A bus on a pseudo-terminal and a worker that records everything it emits.
struct Line
{
    sim::SensorBus bus;
    ModBus worker;
    QElapsedTimer clock;
    QList<Event> events;
    qint64 lastReadyReadNs = -1;

    Line()
    {
        clock.start();
        // Connected before the worker's own handler, so the time is never later than the one
        // the worker counts its silence from: a preemption between the two cannot make the
        // measured silence shorter than the worker's.
        QObject::connect(worker.port, &QSerialPort::readyRead, &worker,
                         [this] { lastReadyReadNs = clock.nsecsElapsed(); });
        worker.process_Port();
        QObject::connect(&worker, &ModBus::error_, &worker,
                         [this](QString prefix, QString err) { record("error", prefix, err); });
        QObject::connect(&worker, &ModBus::print, &worker,
                         [this](QString prefix, QString text) { record("print", prefix, text); });
        QObject::connect(
            &worker, &ModBus::outPort, &worker,
            [this](QString prefix, QByteArray data) { record("out", prefix, {}, data); });
        QObject::connect(&worker, &ModBus::packetReady, &worker, [this](QByteArray pac, int error) {
            record("packet", {}, QString::number(error), pac);
        });
    }

    void record(const QString& kind, const QString& prefix, const QString& text,
                const QByteArray& bytes = {})
    {
        Event event;
        event.kind = kind;
        event.prefix = prefix;
        event.text = text;
        event.bytes = bytes;
        event.atNs = clock.nsecsElapsed();
        event.atBusMs = sim::nowMs();
        events.append(event);
    }

    void connectTo(const QString& name, int baud)
    {
        worker.Write_Settings_Port(name, baud, QSerialPort::Data8, QSerialPort::NoParity,
                                   QSerialPort::OneStop, QSerialPort::NoFlowControl);
        worker.ConnectPort();
    }

    // Opens the bus and the worker's port on it; the events start afresh.
    bool openOnBus(int baud = 115200)
    {
        if (!bus.open())
            return false;
        connectTo(bus.slavePath(), baud);
        events.clear();
        return worker.port->isOpen();
    }

    QList<Event> ofKind(const QString& kind) const
    {
        QList<Event> found;
        for (const Event& event : events) {
            if (event.kind == kind)
                found.append(event);
        }
        return found;
    }

    QStringList eventTexts() const
    {
        QStringList list;
        for (const Event& event : events)
            list.append(event.text);
        return list;
    }

    QStringList kinds() const
    {
        QStringList list;
        for (const Event& event : events)
            list.append(event.kind);
        return list;
    }
};

bool isPortPrefix(const QString& prefix, const QString& name)
{
    const QRegularExpression format(QStringLiteral("^(\\d\\d:\\d\\d:\\d\\d\\.\\d\\d\\d)\\| ") +
                                    QRegularExpression::escape(name) + QStringLiteral(">> $"));
    const QRegularExpressionMatch match = format.match(prefix);
    return match.hasMatch() &&
           QTime::fromString(match.captured(1), QStringLiteral("hh:mm:ss.zzz")).isValid();
}

// A well-formed answer to a read of 14 registers at address 1 (the CRC is not judged).
QByteArray readAnswer()
{
    QByteArray answer = QByteArray::fromHex("01031c");
    for (int i = 0; i < 28; ++i)
        answer.append(char(0x10 + i));
    return answer + QByteArray::fromHex("abcd");
}

double msBetween(qint64 fromNs, qint64 toNs)
{
    return double(toNs - fromNs) / 1e6;
}

} // namespace

class TestWorker : public QObject
{
    Q_OBJECT

private slots:
    void connectFailure_data()
    {
        QTest::addColumn<QString>("name"); // empty: the bus's port
        QTest::addColumn<int>("baud");
        QTest::addColumn<bool>("held"); // another program holds the port
        QTest::addColumn<int>("fault");
        QTest::newRow("port that does not exist")
            << QStringLiteral("/dev/ttyVEL-absent") << 9600 << false << int(PortFault::Missing);
        QTest::newRow("port held by another program")
            << QString() << 9600 << true << int(PortFault::Busy);
        QTest::newRow("baud rate 0") << QString() << 0 << false << int(PortFault::Rejected);
        QTest::newRow("negative baud rate")
            << QString() << -9600 << false << int(PortFault::Rejected);
    }

    void connectFailure()
    {
        QFETCH(QString, name);
        QFETCH(int, baud);
        QFETCH(bool, held);
        QFETCH(int, fault);
        Line line;
        QString err;
        QVERIFY2(line.bus.open(&err), qPrintable(err));
        if (name.isEmpty())
            name = line.bus.slavePath();
        QSerialPort holder(name);
        if (held)
            QVERIFY(holder.open(QIODevice::ReadWrite));

        line.connectTo(name, baud);
        QVERIFY(!line.worker.port->isOpen());

        QCOMPARE(line.kinds(), QStringList{"error"});
        QVERIFY2(isPortPrefix(line.events[0].prefix, name), qPrintable(line.events[0].prefix));
        // The port's own words are kept only where the program has none better: what the
        // port says about the same attempt.
        QString own;
        if (fault == int(PortFault::Rejected)) {
            QSerialPort probe(name);
            QVERIFY(probe.open(QIODevice::ReadWrite));
            QVERIFY(!probe.setBaudRate(baud));
            own = probe.errorString();
            QVERIFY(!own.isEmpty());
        }
        QCOMPARE(line.events[0].text, portFaultText(PortFault(fault), own));
    }

    void openAndClose()
    {
        Line line;
        QString err;
        QVERIFY2(line.bus.open(&err), qPrintable(err));
        const QString name = line.bus.slavePath();

        line.worker.DisconnectPort();
        QVERIFY(line.events.isEmpty());

        line.connectTo(name, 9600);
        QVERIFY(line.worker.port->isOpen());
        QCOMPARE(line.kinds(), QStringList{"print"});
        QVERIFY2(isPortPrefix(line.events[0].prefix, name), qPrintable(line.events[0].prefix));
        QCOMPARE(line.events[0].text, QStringLiteral("Открыт! Скорость 9600\r"));

        // The line runs at the rate that was announced. The write leaves from the event loop.
        line.worker.WriteToPort(QByteArray::fromHex("0102"));
        QTRY_VERIFY_WITH_TIMEOUT(!line.bus.received().isEmpty(), 2000);
        QCOMPARE(line.bus.received().first().bytes, QByteArray::fromHex("0102"));
        QCOMPARE(line.bus.received().first().baud, 9600);

        line.worker.DisconnectPort();
        QVERIFY(!line.worker.port->isOpen());
        QCOMPARE(line.kinds(), (QStringList{"print", "print"}));
        QVERIFY2(isPortPrefix(line.events[1].prefix, name), qPrintable(line.events[1].prefix));
        QCOMPARE(line.events[1].text, QStringLiteral("Закрыт!\r"));

        line.worker.DisconnectPort();
        QCOMPARE(line.events.size(), 2);
    }

    // An answer of the expected length, or an exception answer, is handed over as soon as it is
    // in; anything else only after more than 20 ms of silence.
    void answerEnd_data()
    {
        QTest::addColumn<QByteArray>("first");
        QTest::addColumn<int>("gapMs");         // before the second chunk
        QTest::addColumn<QByteArray>("second"); // empty: none
        QTest::addColumn<int>("keptBytes");
        QTest::addColumn<int>("error");
        QTest::addColumn<bool>("early");

        const QByteArray answer = readAnswer();
        const QByteArray none;
        QTest::newRow("complete answer") << answer << 0 << none << 33 << 0 << true;
        QTest::newRow("two chunks 5 ms apart make one answer")
            << answer.left(16) << 5 << answer.mid(16) << 33 << 0 << true;
        QTest::newRow("a gap of 50 ms splits the answer")
            << answer.left(16) << 50 << answer.mid(16) << 16 << 5 << false;
        QTest::newRow("longer than expected is judged whole")
            << answer + QByteArray::fromHex("ee") << 0 << none << 34 << 5 << false;
        QTest::newRow("shorter than expected waits for the silence")
            << answer.left(32) << 0 << none << 32 << 5 << false;
        QTest::newRow("exception answer")
            << QByteArray::fromHex("018302c0f1") << 0 << none << 5 << 2 << true;
    }

    void answerEnd()
    {
        QFETCH(QByteArray, first);
        QFETCH(int, gapMs);
        QFETCH(QByteArray, second);
        QFETCH(int, keptBytes);
        QFETCH(int, error);
        QFETCH(bool, early);
        Line line;
        // At 1200 Bd the protocol's interval is 29 ms: an answer that waited for it would show.
        QVERIFY(line.openOnBus(1200));

        QList<sim::Chunk> script{{35, first}};
        if (!second.isEmpty())
            script.append({gapMs, second});
        line.bus.queueScript(script);
        const QByteArray expected = (first + second).left(keptBytes);

        line.worker.mb_read(1, 0, 14, 1, nullptr);

        const QList<Event> outs = line.ofKind("out");
        QCOMPARE(outs.size(), 1);
        QCOMPARE(outs[0].bytes.toHex(), expected.toHex());
        const QList<Event> packets = line.ofKind("packet");
        QCOMPARE(packets.size(), 1);
        QCOMPARE(packets[0].bytes.toHex(), expected.toHex());
        QCOMPARE(packets[0].text, QString::number(error));

        // Measured from the last bytes taken in to the hand-over; upper bounds are loose for a
        // busy machine.
        const double quiet = msBetween(line.lastReadyReadNs, packets[0].atNs);
        if (early) {
            QVERIFY2(quiet < 15.0, qPrintable(QString::number(quiet)));
        } else {
            QVERIFY2(quiet > 20.0, qPrintable(QString::number(quiet)));
            const QList<sim::Sent> sent = line.bus.sent();
            const int chunksKept = keptBytes > first.size() && !second.isEmpty() ? 2 : 1;
            QVERIFY(sent.size() >= chunksKept);
            const qint64 afterLastChunk = outs[0].atBusMs - sent[chunksKept - 1].atMs;
            QVERIFY2(afterLastChunk < 80, qPrintable(QString::number(afterLastChunk)));
        }
    }

    void silenceIsNoAnswer()
    {
        Line line;
        QVERIFY(line.openOnBus());

        line.bus.queueScript({});
        const qint64 startNs = line.clock.nsecsElapsed();
        line.worker.mb_read(1, 0, 14, 1, nullptr);

        QVERIFY(line.ofKind("out").isEmpty());
        const QList<Event> packets = line.ofKind("packet");
        QCOMPARE(packets.size(), 1);
        QVERIFY(packets[0].bytes.isEmpty());
        QCOMPARE(packets[0].text, QStringLiteral("6"));
        const double waited = msBetween(startNs, packets[0].atNs);
        QVERIFY2(waited > 400.0 && waited < 700.0, qPrintable(QString::number(waited)));
    }

    // The protocol's interval of 3.5 characters (29 ms at 1200 Bd) comes before a request,
    // counted from the last byte on the line: a first request goes at once, the next one waits.
    void intervalBeforeTheNextRequest()
    {
        Line line;
        QVERIFY(line.openOnBus(1200));
        line.bus.queueScript({{0, readAnswer()}});
        line.bus.queueScript({{0, readAnswer()}});

        const qint64 startMs = sim::nowMs();
        line.worker.mb_read(1, 0, 14, 1, nullptr);
        line.worker.mb_read(1, 0, 14, 1, nullptr);

        const QList<Event> packets = line.ofKind("packet");
        QCOMPARE(packets.size(), 2);
        QCOMPARE(packets[1].text, QStringLiteral("0"));
        const QList<sim::Received> requests = line.bus.received();
        QCOMPARE(requests.size(), 2);
        const qint64 first = requests[0].atMs - startMs;
        QVERIFY2(first < 15, qPrintable(QString::number(first)));
        // The bus's clock counts whole milliseconds.
        const qint64 gap = requests[1].atMs - line.bus.sent().first().atMs;
        QVERIFY2(gap >= 28 && gap < 60, qPrintable(QString::number(gap)));
    }

    // Bytes that come between exchanges (the tail of a cut answer, noise) are shown as a line
    // of their own before the next request, and the answer to it is judged without them,
    // whether the event loop took them in or they still wait in the system's buffer.
    void bytesBetweenExchanges_data()
    {
        QTest::addColumn<bool>("eventLoop");
        QTest::addColumn<int>("busyLoops");
        QTest::newRow("taken in by the event loop") << true << 0;
        QTest::newRow("left in the system's buffer") << false << 0;
        QTest::newRow("left in the system's buffer, two busy loops") << false << 2;
    }

    void bytesBetweenExchanges()
    {
        QFETCH(bool, eventLoop);
        QFETCH(int, busyLoops);
        BusyLoops load(busyLoops);
        Line line;
        QVERIFY(line.openOnBus());
        line.bus.queueScript({{0, readAnswer()}});
        line.worker.mb_read(1, 0, 14, 1, nullptr);
        QCOMPARE(line.events.last().text, QStringLiteral("0"));

        const QByteArray stray = readAnswer().mid(16);
        const qint64 readBefore = line.lastReadyReadNs;
        line.bus.writeRaw(stray);
        if (eventLoop) {
            QTRY_VERIFY_WITH_TIMEOUT(line.lastReadyReadNs != readBefore, 2000);
        } else {
            pollfd waiting{int(line.worker.port->handle()), POLLIN, 0};
            QCOMPARE(::poll(&waiting, 1, 2000), 1);
        }
        line.events.clear();
        line.bus.queueScript({{0, readAnswer()}});
        line.worker.mb_read(1, 0, 14, 1, nullptr);

        QCOMPARE(line.kinds(), (QStringList{"out", "print", "out", "packet"}));
        QCOMPARE(line.events[0].bytes.toHex(), stray.toHex());
        QCOMPARE(line.events[0].prefix.right(5), QStringLiteral("| >> "));
        QVERIFY(line.events[1].text.startsWith(QStringLiteral("0103")));
        QCOMPARE(line.events[3].bytes.toHex(), readAnswer().toHex());
        QCOMPARE(line.events[3].text, QStringLiteral("0"));
    }

    // A read that finds nothing on a live port (a busy machine) comes as a read fault, even as
    // a resource fault when errno was left over from an earlier call. The adapter is still
    // there: one warning for the run, no loss, and the exchange in flight ends as it would.
    void readFaultsOfALivePort_data()
    {
        QTest::addColumn<int>("error");
        QTest::addColumn<bool>("inExchange");
        QTest::newRow("read faults between exchanges") << int(QSerialPort::ReadError) << false;
        QTest::newRow("resource faults between exchanges")
            << int(QSerialPort::ResourceError) << false;
        QTest::newRow("read faults while an answer is awaited")
            << int(QSerialPort::ReadError) << true;
    }

    void readFaultsOfALivePort()
    {
        QFETCH(int, error);
        QFETCH(bool, inExchange);
        Line line;
        line.bus.addSensor(1, 115200, SensorType::Voltage);
        QVERIFY(line.openOnBus());
        // The port reports a burst of them, as after reads that found nothing.
        auto burst = [&line, error] {
            for (int i = 0; i < 20; ++i)
                emit line.worker.port->errorOccurred(QSerialPort::SerialPortError(error));
        };
        bool burstDone = !inExchange;
        if (inExchange) {
            QObject::connect(&line.worker, &ModBus::print, &line.worker,
                             [&](QString, QString text) {
                                 if (!burstDone && text.startsWith(QStringLiteral("0103"))) {
                                     burstDone = true;
                                     burst();
                                 }
                             });
        } else {
            burst();
        }
        line.worker.mb_read(1, regmap::paramAddr, regmap::paramCount, 1, nullptr);

        QVERIFY(burstDone);
        QVERIFY(line.worker.port->isOpen());
        QVERIFY(line.ofKind("error").isEmpty());
        const QStringList warnings =
            line.eventTexts().filter(QRegularExpression(QStringLiteral("^Warning: ")));
        QCOMPARE(warnings.size(), 1);
        const QList<Event> packets = line.ofKind("packet");
        QCOMPARE(packets.size(), 1);
        QCOMPARE(packets[0].text, QStringLiteral("0"));
        QCOMPARE(packets[0].bytes.size(), 2 * regmap::paramCount + 5);
    }

    // Attempts on a closed port: one "no answer" line each, except while the port is the one
    // whose adapter went away, where the loss line already says why.
    void attemptsOnAClosedPort_data()
    {
        QTest::addColumn<QString>("port"); // "lost", "absent" or "never opened"
        QTest::addColumn<int>("lines");
        QTest::newRow("never opened") << QStringLiteral("never opened") << 3;
        QTest::newRow("could not be opened") << QStringLiteral("absent") << 3;
        QTest::newRow("adapter gone") << QStringLiteral("lost") << 0;
    }

    void attemptsOnAClosedPort()
    {
        QFETCH(QString, port);
        QFETCH(int, lines);
        Line line;
        if (port == QLatin1String("lost")) {
            QVERIFY(line.openOnBus());
            line.bus.hangUp();
            QTRY_VERIFY_WITH_TIMEOUT(!line.worker.port->isOpen(), 3000);
            // Tried again while the adapter is still away.
            line.connectTo(line.bus.slavePath(), 115200);
        } else if (port == QLatin1String("absent")) {
            line.connectTo(QStringLiteral("/dev/ttyVEL-absent"), 115200);
        }
        QVERIFY(!line.worker.port->isOpen());
        line.events.clear();

        line.worker.mb_read(1, 0x0100, 20, 3, nullptr);

        QStringList kinds;
        for (int i = 0; i < lines; ++i)
            kinds << QStringLiteral("print");
        QCOMPARE(line.kinds(), kinds << QStringLiteral("packet"));
        for (const Event& event : line.ofKind("print"))
            QCOMPARE(event.text, QStringLiteral("Нет ответа"));
        QCOMPARE(line.events.last().text, QStringLiteral("6"));
    }

    void unplug()
    {
        Line line;
        QVERIFY(line.openOnBus());
        const QString name = line.bus.slavePath();

        line.bus.hangUp();
        QTRY_VERIFY_WITH_TIMEOUT(!line.worker.port->isOpen(), 3000);
        QCOMPARE(line.kinds(), (QStringList{"error", "print"}));
        const Event& error = line.events[0];
        QVERIFY2(isPortPrefix(error.prefix, name), qPrintable(error.prefix));
        QCOMPARE(error.text, portFaultText(PortFault::Unplugged, QString()));
        QVERIFY2(isPortPrefix(line.events[1].prefix, name), qPrintable(line.events[1].prefix));
        QCOMPARE(line.events[1].text, QStringLiteral("Закрыт!\r"));

        // A port left signalling the hang-up would report it again and again; watch the event
        // loop for a while to see that it stays quiet.
        QTest::qWait(150);
        QCOMPARE(line.events.size(), 2);
        QVERIFY(!line.worker.port->isOpen());
    }
};

QTEST_GUILESS_MAIN(TestWorker)
#include "tst_worker.moc"
