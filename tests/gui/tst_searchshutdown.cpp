// Closing the window in the middle of a search. This runs in an executable of its own: once
// the application has quit, every event loop started later returns at once.
#include "support/windowbench.h"

#include <QtTest>
#include <QtWidgets>

class TestSearchShutdown : public QObject
{
    Q_OBJECT

private slots:
    void closingEndsASearchPromptly()
    {
        WindowBench bench;
        bench.window->show();
        auto* search = bench.find<QPushButton>("BtnAutoSearch");

        QElapsedTimer clock;
        clock.start();
        qint64 closedAt = -1;
        int probesAtClose = -1;
        QTimer::singleShot(0, search, [search] { search->click(); });
        // A few silent probes into the first speed.
        QTimer::singleShot(1000, bench.window.get(), [&] {
            probesAtClose = bench.requests(rtu::Function::ReadRegisters).size();
            closedAt = clock.elapsed();
            bench.window->close();
        });
        const int exitCode = qApp->exec();
        const qint64 returnedAt = clock.elapsed();

        QCOMPARE(exitCode, 0);
        QVERIFY2(probesAtClose >= 1, "the search had not started when the window closed");
        QVERIFY2(
            returnedAt - closedAt < 1000,
            qPrintable(
                QStringLiteral("event loop ended %1 ms after closing").arg(returnedAt - closedAt)));
        // Neither the search nor its final message goes on after the close.
        QVERIFY(bench.boxes.boxes().isEmpty());
        const int requestsBeforeEnd = bench.bus.received().size();
        bench.window.reset();
        QVERIFY2(!bench.bus.waitForReceived(requestsBeforeEnd + 1, 600),
                 "probing went on after the window was gone");
    }
};

QTEST_MAIN(TestSearchShutdown)
#include "tst_searchshutdown.moc"
