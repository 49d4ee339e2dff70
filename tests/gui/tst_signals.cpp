// Ending the program with a signal. The program runs in a child process (this executable,
// started again with VEL_SIGNAL_CHILD set) against a simulated bus that this process serves.
#include "codec/rtu.h"
#include "gui/endsignals.h"
#include "gui/mainwindow.h"
#include "sim/sensorbus.h"
#include "sim/sensorlogic.h"
#include "support/lockfiles.h"

#include <QtTest>
#include <QtWidgets>
#include <csignal>
#include <sys/types.h>

namespace {

const char* const childVariable = "VEL_SIGNAL_CHILD";

// The program as main() starts it, with sensor 1 at 9600 Bd added and selected by hand, so
// that the polling timer reads it once a second.
int runProgram(int argc, char* argv[])
{
    QApplication::setApplicationName(QStringLiteral("VEL_DUO300"));
    QApplication app(argc, argv);
    MainWindow window;
    window.findChild<QLineEdit*>(QStringLiteral("lineEditAddrMB"))->setText(QStringLiteral("1"));
    auto* rates = window.findChild<QComboBox*>(QStringLiteral("BaudRateBox"));
    rates->setCurrentIndex(rates->findText(QStringLiteral("9600")));
    QMetaObject::invokeMethod(&window, "btnAddDevice", Qt::DirectConnection);
    window.show();
    if (!closeOnEndSignals(&window))
        return 3;
    return app.exec();
}

// Waits until the bus has received the given frame since its log was last cleared.
bool waitForRequest(const sim::SensorBus& bus, const QByteArray& frame, int timeoutMs)
{
    QDeadlineTimer deadline(timeoutMs);
    for (;;) {
        const QList<sim::Received> received = bus.received();
        for (const sim::Received& r : received) {
            if (r.bytes == frame)
                return true;
        }
        if (deadline.hasExpired() ||
            !bus.waitForReceived(received.size() + 1, int(deadline.remainingTime())))
            return false;
    }
}

} // namespace

class TestSignals : public QObject
{
    Q_OBJECT

private slots:
    void endsAsClosingTheWindowDuringAPoll_data()
    {
        QTest::addColumn<int>("signo");
        QTest::newRow("SIGTERM") << int(SIGTERM);
        QTest::newRow("SIGINT") << int(SIGINT);
        QTest::newRow("SIGHUP") << int(SIGHUP);
    }

    void endsAsClosingTheWindowDuringAPoll()
    {
        QFETCH(int, signo);
        sim::SensorBus bus;
        QString error;
        QVERIFY2(bus.open(&error), qPrintable(error));
        bus.addSensor(1, 9600, SensorType::Voltage);
        QTemporaryDir dir;

        QProcess program;
        QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
        env.insert(childVariable, QStringLiteral("1"));
        env.insert(QStringLiteral("VEL_DUO300_EXTRA_PORTS"), bus.slavePath());
        env.insert(QStringLiteral("QT_QPA_PLATFORM"), QStringLiteral("offscreen"));
        program.setProcessEnvironment(env);
        program.setWorkingDirectory(dir.path());
        program.setProcessChannelMode(QProcess::ForwardedChannels);
        program.start(QCoreApplication::applicationFilePath(), QStringList());
        QVERIFY(program.waitForStarted());

        // The poll's read of the current parameters, once answered; the next one then waits
        // for an answer that never comes, and the signal arrives during that wait.
        const QByteArray pollRead = sim::sealed(QByteArray::fromHex("01030000000e"));
        QVERIFY(waitForRequest(bus, pollRead, 20000));
        bus.setFault(1, rtu::Function::ReadRegisters, {sim::Fault::Silence});
        bus.clearLog();
        QVERIFY(waitForRequest(bus, pollRead, 5000));
        QVERIFY2(!lockFiles(bus.slavePath()).isEmpty(), "no lock file while the port is open");

        QElapsedTimer clock;
        clock.start();
        QCOMPARE(::kill(pid_t(program.processId()), signo), 0);
        QVERIFY(program.waitForFinished(10000));
        QVERIFY2(clock.elapsed() < 3000,
                 qPrintable(QStringLiteral("ended %1 ms after the signal").arg(clock.elapsed())));
        QCOMPARE(program.exitStatus(), QProcess::NormalExit);
        QCOMPARE(program.exitCode(), 0);
        QCOMPARE(lockFiles(bus.slavePath()), QStringList());

        // The log holds the last request on the line as its last frame; at most the outcome of
        // that request follows it.
        QFile log(dir.filePath(QStringLiteral("log.txt")));
        QVERIFY(log.open(QIODevice::ReadOnly));
        const QStringList lines = QString::fromUtf8(log.readAll()).split('\n', Qt::SkipEmptyParts);
        const QList<sim::Received> received = bus.received();
        QVERIFY(!received.isEmpty());
        const QString lastRequest = QStringLiteral("| << ") + rtu::hexText(received.last().bytes);
        int at = lines.size() - 1;
        while (at >= 0 && !lines.at(at).endsWith(lastRequest))
            --at;
        QVERIFY2(at >= 0, qPrintable(lines.join('\n')));
        QVERIFY2(at >= lines.size() - 2, qPrintable(lines.join('\n')));
        for (int i = at + 1; i < lines.size(); ++i)
            QVERIFY2(!lines.at(i).contains(QLatin1String("| >> ")), qPrintable(lines.at(i)));
    }
};

int main(int argc, char* argv[])
{
    if (qEnvironmentVariableIsSet(childVariable))
        return runProgram(argc, argv);
    QCoreApplication app(argc, argv);
    TestSignals test;
    return QTest::qExec(&test, argc, argv);
}

#include "tst_signals.moc"
