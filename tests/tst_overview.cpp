// The line overview in the window: its rows and colours, and how its poller takes turns with
// the window's own exchanges and gives the port back to the selected sensor.
#include "app/overview.h"
#include "devices/linepoller.h"
#include "link/lineclient.h"
#include "support/windowbench.h"

#include <QAction>
#include <QListWidget>
#include <QPushButton>
#include <QSignalSpy>
#include <QTableView>
#include <QtTest>

namespace {

using namespace overview;

// Three sensors listed: a voltage sensor at 9600, a temperature sensor at 38400 whose coil is
// on, and one at 9600 that never answers. Address 1 stays selected.
void listThree(WindowBench& b)
{
    b.bus.addSensor(1, 9600, 2);
    b.bus.updateSensor(1, [](sim::Sensor& s) {
        s.param.measure = 10012;
        s.param.adc = 2001;
    });
    b.bus.addSensor(2, 38400, 1);
    b.bus.updateSensor(2, [](sim::Sensor& s) {
        s.param.measure = 2345;
        s.param.adc = 1500;
        s.coil = 1;
    });
    b.addByHand(1, 9600);
    b.addByHand(2, 38400);
    b.addByHand(3, 9600);
    b.find<QListWidget>("listWidgetDevices")->setCurrentRow(0);
    b.bus.clearLog();
}

LinePoller* openOverview(WindowBench& b)
{
    b.find<QAction>("actionLineOverview")->trigger();
    auto* poller = b.window->findChild<LinePoller*>();
    if (!poller)
        qFatal("no poller");
    return poller;
}

QString cell(QTableView* view, int row, int column, int role = Qt::DisplayRole)
{
    return view->model()->index(row, column).data(role).toString();
}

QColor colour(QTableView* view, int row)
{
    return view->model()->index(row, Address).data(Qt::BackgroundRole).value<QColor>();
}

} // namespace

class TestOverview : public QObject
{
    Q_OBJECT

private slots:
    void rowsAndColours()
    {
        WindowBench b;
        listThree(b);
        LinePoller* poller = openOverview(b);
        auto* view = b.window->findChild<QTableView*>();
        QVERIFY(view);
        QCOMPARE(view->window()->windowTitle(), QStringLiteral("Обзор линии"));
        QSignalSpy rounds(poller, &LinePoller::roundDone);
        QTRY_VERIFY_WITH_TIMEOUT(rounds.count() >= 1, 20000);
        const QString name = nameText(b.bus.sensor(1).ust);

        QCOMPARE(view->model()->rowCount(), 3);
        const QStringList row0{"1", "9600", "Напряжение", name, "10012 В", "2001"};
        const QStringList row1{"2", "38400", "Температура", name, "23.45 °С", "1500"};
        const QStringList row2{"3", "9600", "", "", "", ""};
        for (int column = Address; column <= Adc; ++column) {
            QCOMPARE(cell(view, 0, column), row0.at(column));
            QCOMPARE(cell(view, 1, column), row1.at(column));
            QCOMPARE(cell(view, 2, column), row2.at(column));
        }
        QVERIFY(cell(view, 0, WorkTime).toUInt() > 0);
        QCOMPARE(cell(view, 0, Version), versionText(b.bus.sensor(1).param));
        QVERIFY(cell(view, 0, Age).toInt() >= 0);
        QCOMPARE(cell(view, 2, Age), QStringLiteral("—"));
        // The list's colours: answered, answered with the coil on, silent.
        QCOMPARE(colour(view, 0), QColor(0xFFFFFF));
        QCOMPARE(colour(view, 1), QColor(0xFF9980));
        QCOMPARE(colour(view, 2), QColor(0xC0C0C0));

        // Sorted by the measured value, largest first: the silent sensor has none.
        view->sortByColumn(Value, Qt::DescendingOrder);
        QCOMPARE(cell(view, 0, Address), QStringLiteral("1"));
        QCOMPARE(cell(view, 1, Address), QStringLiteral("2"));
        QCOMPARE(cell(view, 2, Address), QStringLiteral("3"));

        // A double click selects the sensor of that row in the window.
        const QModelIndex second = view->model()->index(1, Name);
        emit view->doubleClicked(second);
        QTRY_COMPARE(b.find<QListWidget>("listWidgetDevices")->currentRow(), 1);

        // Closed, it polls no more.
        view->window()->close();
        QVERIFY(!poller->running());
    }

    void operationMidRoundWaitsItsTurn()
    {
        WindowBench b;
        listThree(b);
        auto* line = b.window->findChild<LineClient*>();
        // "Считать" is clicked while the poller's request to the sensor at 38400 waits for its
        // answer.
        auto* button = b.find<QPushButton>("BtnReadUst");
        bool clicked = false;
        connect(
            line, &LineClient::mb_read, button,
            [&] {
                if (clicked || line->baudrate() != 38400)
                    return;
                clicked = true;
                QVERIFY(line->waiting());
                button->click();
            },
            Qt::QueuedConnection);
        LinePoller* poller = openOverview(b);
        QTRY_VERIFY_WITH_TIMEOUT(clicked, 20000);

        auto settingsRead = [&] {
            const QList<sim::Received> log = b.bus.received();
            for (int i = 0; i < log.size(); ++i)
                if (log.at(i).bytes.startsWith(QByteArray::fromHex("01030100")))
                    return i;
            return -1;
        };
        QTRY_VERIFY_WITH_TIMEOUT(settingsRead() >= 0, 10000);
        const int read = settingsRead();
        const QList<sim::Received> log = b.bus.received();
        // It went once the poller's exchange was over, at the selected sensor's speed, and the
        // poller sent nothing until it was answered.
        QVERIFY(read > 0);
        QCOMPARE(quint8(log.at(read - 1).bytes.at(1)), quint8(0x01));
        QCOMPARE(log.at(read).baud, 9600);
        QVERIFY(b.exchangesInTurn());
        QVERIFY(!b.window->deviceRecords().at(0).commError);
        poller->stop();
    }

    void windowPollTakesThePortBack()
    {
        WindowBench b;
        listThree(b);
        LinePoller* poller = openOverview(b);
        QSignalSpy rounds(poller, &LinePoller::roundDone);
        connect(poller, &LinePoller::roundDone, poller, &LinePoller::stop);
        QTRY_VERIFY_WITH_TIMEOUT(rounds.count() >= 1, 20000);
        b.window->findChild<QTableView*>()->window()->close();
        // The round ended at 38400, after the sensors at 9600 where the port was open.
        QCOMPARE(b.window->findChild<LineClient*>()->baudrate(), 38400);

        b.bus.clearLog();
        b.poll();
        const QList<QByteArray> reads = b.requests(0x03);
        QCOMPARE(reads.size(), 1);
        QCOMPARE(quint8(reads.first().at(0)), quint8(1));
        QCOMPARE(b.bus.received().first().baud, 9600);
        QVERIFY(!b.window->deviceRecords().at(0).commError);
    }
};

QTEST_MAIN(TestOverview)
#include "tst_overview.moc"
