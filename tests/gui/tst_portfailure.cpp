// Port failures in words the service engineer acts on, and a port that comes back by itself
// once its adapter is plugged in again.
#include "core/link/portfailure.h"
#include "support/cputime.h"
#include "support/windowbench.h"

#include <QLineEdit>
#include <QtTest>

namespace {

QStringList linesFrom(const QString& monitor, int from)
{
    return monitor.mid(from).split(QLatin1Char('\n'), Qt::SkipEmptyParts);
}

} // namespace

class TestPortFailure : public QObject
{
    Q_OBJECT

private slots:
    void openFaults_data()
    {
        QTest::addColumn<int>("error");
        QTest::addColumn<bool>("mayAccess");
        QTest::addColumn<int>("fault");
        QTest::newRow("no such device")
            << int(QSerialPort::DeviceNotFoundError) << true << int(PortFault::Missing);
        QTest::newRow("refused, user may use the device")
            << int(QSerialPort::PermissionError) << true << int(PortFault::Busy);
        QTest::newRow("refused, user may not use the device")
            << int(QSerialPort::PermissionError) << false << int(PortFault::NoPermission);
        QTest::newRow("device gone")
            << int(QSerialPort::ResourceError) << true << int(PortFault::Unplugged);
        QTest::newRow("anything else")
            << int(QSerialPort::OpenError) << true << int(PortFault::Other);
    }

    void openFaults()
    {
        QFETCH(int, error);
        QFETCH(bool, mayAccess);
        QFETCH(int, fault);
        QCOMPARE(int(openFault(QSerialPort::SerialPortError(error), mayAccess)), fault);
    }

    // A read fault of an open port, with what the system says of the device: only the system
    // tells an unplugged adapter from a read that found nothing on a busy machine.
    void readFaultLoss_data()
    {
        QTest::addColumn<int>("error");
        QTest::addColumn<bool>("known"); // the system could be asked
        QTest::addColumn<bool>("nodePresent");
        QTest::addColumn<bool>("hungUp");
        QTest::addColumn<bool>("usable");
        QTest::addColumn<int>("inARow");
        QTest::addColumn<bool>("gone");
        const int read = int(QSerialPort::ReadError);
        const int resource = int(QSerialPort::ResourceError);
        QTest::newRow("read fault, device present")
            << read << true << true << false << true << 1 << false;
        QTest::newRow("zero-byte read taken for a resource fault, device present")
            << resource << true << true << false << true << 1 << false;
        QTest::newRow("read fault repeating, device present")
            << read << true << true << false << true << 50 << false;
        QTest::newRow("device node removed") << read << true << false << false << true << 1 << true;
        QTest::newRow("resource fault, device node removed")
            << resource << true << false << true << false << 1 << true;
        QTest::newRow("line hung up") << read << true << true << true << true << 1 << true;
        QTest::newRow("resource fault, port no longer takes a query")
            << resource << true << true << false << false << 1 << true;
        QTest::newRow("system not asked: resource fault")
            << resource << false << true << false << true << 1 << true;
        QTest::newRow("system not asked: read fault")
            << read << false << true << false << true << 1 << false;
        QTest::newRow("system not asked: read fault repeating")
            << read << false << true << false << true << faultsForUnusable << true;
    }

    void readFaultLoss()
    {
        QFETCH(int, error);
        QFETCH(bool, known);
        QFETCH(bool, nodePresent);
        QFETCH(bool, hungUp);
        QFETCH(bool, usable);
        QFETCH(int, inARow);
        QFETCH(bool, gone);
        PortReport report;
        report.error = QSerialPort::SerialPortError(error);
        report.known = known;
        report.nodePresent = nodePresent;
        report.hungUp = hungUp;
        report.usable = usable;
        report.inARow = inARow;
        QCOMPARE(portGone(report), gone);
    }

    void faultTexts_data()
    {
        QTest::addColumn<int>("fault");
        QTest::addColumn<QString>("says"); // what the line must tell the user
        QTest::newRow("missing") << int(PortFault::Missing)
                                 << QStringLiteral("адаптер не подключён");
        QTest::newRow("busy") << int(PortFault::Busy) << QStringLiteral("занят другой программой");
        QTest::newRow("no permission") << int(PortFault::NoPermission) << QStringLiteral("dialout");
        QTest::newRow("unplugged")
            << int(PortFault::Unplugged) << QStringLiteral("адаптер отключён");
        QTest::newRow("settings rejected")
            << int(PortFault::Rejected) << QStringLiteral("Invalid argument");
        QTest::newRow("other") << int(PortFault::Other) << QStringLiteral("Invalid argument");
    }

    void faultTexts()
    {
        QFETCH(int, fault);
        QFETCH(QString, says);
        const QString text = portFaultText(PortFault(fault), QStringLiteral("Invalid argument"));
        QVERIFY2(text.contains(says), qPrintable(text));
        QVERIFY2(text.startsWith(QStringLiteral("Порт")) ||
                     text.startsWith(QStringLiteral("Нет")) ||
                     text.startsWith(QStringLiteral("Связь")),
                 qPrintable(text));
    }

    void unpluggedAdapterComesBack()
    {
        WindowBench b(WindowBench::PortName::Link);
        b.bus.addSensor(1, 9600, SensorType::Voltage);
        b.addByHand(1, 9600);
        b.poll();
        QVERIFY(!b.find<QLineEdit>("lineEditMeasure")->text().isEmpty());

        const QString unplugged = portFaultText(PortFault::Unplugged, QString());
        const int lossAt = b.monitorText().size();
        b.bus.hangUp();
        QTRY_VERIFY_WITH_TIMEOUT(b.monitorText().contains(unplugged), 3000);

        // Polling goes on while the adapter is away: the port is tried again with every poll,
        // and nothing spins meanwhile.
        emit b.window->startTimer();
        const double cpuStart = processCpuSeconds();
        QElapsedTimer wall;
        wall.start();
        QTest::qWait(2500);
        const double cpuShare =
            (processCpuSeconds() - cpuStart) / (double(wall.elapsed()) / 1000.0);
        QVERIFY2(cpuShare < 0.25, qPrintable(QString::number(cpuShare)));
        QVERIFY(b.find<QLineEdit>("lineEditMeasure")->text().isEmpty());

        // The adapter is back under the same name.
        sim::SensorBus again;
        QString error;
        QVERIFY2(again.open(&error, b.adapterPath()), qPrintable(error));
        again.addSensor(1, 9600, SensorType::Voltage);
        QTRY_VERIFY_WITH_TIMEOUT(!b.find<QLineEdit>("lineEditMeasure")->text().isEmpty(), 5000);
        emit b.window->stopTimer();
        QVERIFY(!again.received().isEmpty());
        QVERIFY(!b.window->deviceRecords().at(0).commError);

        // One line said what happened, in Russian; no other port failure filled the monitor,
        // and no request was shown as sent while the port was closed.
        const QStringList lines = linesFrom(b.monitorText(), lossAt);
        QCOMPARE(lines.filter(unplugged).size(), 1);
        QVERIFY(lines.filter(portFaultText(PortFault::Missing, QString())).isEmpty());
        const int closed = lines.indexOf(QRegularExpression(QStringLiteral(".*Закрыт!.*")));
        const int opened = lines.indexOf(QRegularExpression(QStringLiteral(".*Открыт!.*")));
        QVERIFY(closed >= 0 && opened > closed);
        const QStringList whileClosed = lines.mid(closed, opened - closed);
        QVERIFY2(
            whileClosed.filter(QRegularExpression(QStringLiteral("\\| << [0-9a-f]+$"))).isEmpty(),
            qPrintable(whileClosed.join(QLatin1Char('\n'))));
        // Nor did the polls' unanswered attempts push the loss line out of sight: it stands
        // alone, with the port's closing, until the port is open again.
        const int loss = lines.indexOf(QRegularExpression(
            QStringLiteral(".*") + QRegularExpression::escape(unplugged) + QStringLiteral(".*")));
        QVERIFY(loss >= 0 && loss < closed);
        const QStringList between = lines.mid(loss + 1, opened - loss - 1);
        QVERIFY2(between == QStringList{lines.at(closed)}, qPrintable(between.join('\n')));
    }
};

QTEST_MAIN(TestPortFailure)
#include "tst_portfailure.moc"
