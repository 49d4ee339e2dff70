// Closing the window while the worker waits for an answer. This runs in an executable of its
// own: once the application has quit, every event loop started later returns at once.
#include "support/windowbench.h"

#include <QtTest>
#include <QtWidgets>

namespace {

QStringList warnings;
QtMessageHandler previousHandler = nullptr;

void recordWarnings(QtMsgType type, const QMessageLogContext& context, const QString& message)
{
    if (type == QtWarningMsg || type == QtCriticalMsg)
        warnings << message;
    if (previousHandler)
        previousHandler(type, context, message);
}

} // namespace

class TestShutdown : public QObject
{
    Q_OBJECT

private slots:
    void closingEndsPromptlyDuringAnExchange()
    {
        previousHandler = qInstallMessageHandler(recordWarnings);
        WindowBench bench;
        bench.bus.addSensor(1, 9600, SensorType::Voltage);
        bench.addByHand(1, 9600);
        QCOMPARE(bench.window->deviceRecords().size(), 1);
        QVERIFY(!bench.window->deviceRecords().first().commError);
        auto* readButton = bench.find<QPushButton>("BtnReadUst");
        QVERIFY(readButton->isEnabled());

        // The read now waits for an answer that never comes: three attempts of 400 ms.
        bench.bus.setFault(1, sim::everyFunction, {sim::Fault::Silence});
        bench.bus.clearLog();
        bench.window->show();

        QElapsedTimer clock;
        clock.start();
        qint64 closedAt = -1;
        int requestsAtClose = -1;
        QTimer::singleShot(0, readButton, [readButton] { readButton->click(); });
        QTimer::singleShot(300, bench.window.get(), [&] {
            requestsAtClose = bench.requests(rtu::Function::ReadRegisters).size();
            closedAt = clock.elapsed();
            bench.window->close();
        });
        const int exitCode = qApp->exec();
        const qint64 returnedAt = clock.elapsed();

        QCOMPARE(exitCode, 0);
        QVERIFY(closedAt >= 0);
        QVERIFY2(requestsAtClose >= 1, "the read had not started when the window closed");
        QVERIFY2(
            returnedAt - closedAt < 1000,
            qPrintable(
                QStringLiteral("event loop ended %1 ms after closing").arg(returnedAt - closedAt)));
        // The cut-short read recorded no outcome on the sensor.
        QVERIFY(!bench.window->deviceRecords().first().commError);

        const int requestsBeforeEnd = bench.bus.received().size();
        QElapsedTimer destroying;
        destroying.start();
        bench.window.reset();
        QVERIFY2(destroying.elapsed() < 1000,
                 qPrintable(QStringLiteral("window destroyed in %1 ms").arg(destroying.elapsed())));
        // A worker left running would repeat the request about 400 ms after the last one.
        QVERIFY2(!bench.bus.waitForReceived(requestsBeforeEnd + 1, 600),
                 "the worker went on with its attempts after the window was gone");

        qInstallMessageHandler(previousHandler);
        for (const QString& warning : qAsConst(warnings))
            QVERIFY2(!warning.contains(QLatin1String("QThread")), qPrintable(warning));
    }
};

QTEST_MAIN(TestShutdown)
#include "tst_shutdown.moc"
