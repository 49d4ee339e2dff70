// The line overview in the window: its rows and colours, and how its poller takes turns with
// the window's own exchanges and gives the port back to the selected sensor.
#include "core/link/lineclient.h"
#include "core/ops/linepoller.h"
#include "gui/overview.h"
#include "gui/trendplot.h"
#include "support/windowbench.h"

#include <QAction>
#include <QComboBox>
#include <QListWidget>
#include <QMessageBox>
#include <QPushButton>
#include <QScreen>
#include <QSignalSpy>
#include <QTabWidget>
#include <QTableView>
#include <QtTest>
#include <qwt_plot_curve.h>
#include <qwt_scale_widget.h>

namespace {

using namespace overview;

// Three sensors listed: a voltage sensor at 9600, a temperature sensor at 38400 whose coil is
// on, and one at 9600 that never answers. Address 1 stays selected.
void listThree(WindowBench& b)
{
    b.bus.addSensor(1, 9600, SensorType::Voltage);
    b.bus.updateSensor(1, [](sim::Sensor& s) {
        s.param.measure = 10012;
        s.param.adc = 2001;
    });
    b.bus.addSensor(2, 38400, SensorType::Temperature);
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

void tick(QTableView* view, int row)
{
    view->model()->setData(view->model()->index(row, Address), Qt::Checked, Qt::CheckStateRole);
}

QList<QwtPlotCurve*> curves(WindowBench& b)
{
    QList<QwtPlotCurve*> list;
    for (QwtPlotItem* item :
         b.window->findChild<TrendPlot*>()->itemList(QwtPlotItem::Rtti_PlotCurve))
        list << static_cast<QwtPlotCurve*>(item);
    return list;
}

// Each curve by its title, with the axis it is drawn against.
QStringList axes(WindowBench& b)
{
    QStringList list;
    for (QwtPlotCurve* curve : curves(b))
        list << curve->title().text() + (curve->yAxis() == QwtPlot::yRight
                                             ? QStringLiteral(": right")
                                             : QStringLiteral(": left"));
    return list;
}

// The values a curve draws, once each.
QSet<double> drawn(QwtPlotCurve* curve)
{
    QSet<double> values;
    for (size_t i = 0; i < curve->dataSize(); ++i)
        values.insert(curve->sample(int(i)).y());
    return values;
}

// A line file that says only where the sensors are.
QString lineFile(WindowBench& b, const QString& port, const QVector<QPair<int, int>>& sensors)
{
    linefile::Line line;
    line.port = port;
    for (const auto& place : sensors) {
        linefile::Sensor sensor;
        sensor.address = place.first;
        sensor.speed = place.second;
        sensor.answered = false;
        line.sensors.append(sensor);
    }
    const QString path = b.dir.filePath(QStringLiteral("line.json"));
    if (!linefile::save(line, path).isEmpty())
        qFatal("line file not saved");
    b.window->chooseLineFile = [path](bool) { return path; };
    return path;
}

} // namespace

Q_DECLARE_METATYPE(csv::Style)

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

        // A double click selects the sensor of that row in the window, on its live values.
        auto* tabs = b.find<QTabWidget>("tabWidget");
        tabs->setCurrentWidget(b.find<QWidget>("tab_4"));
        const QModelIndex second = view->model()->index(1, Name);
        emit view->doubleClicked(second);
        QTRY_COMPARE(b.find<QListWidget>("listWidgetDevices")->currentRow(), 1);
        QCOMPARE(tabs->currentWidget()->objectName(), QStringLiteral("tab"));

        // Closed, it polls no more.
        view->window()->close();
        QVERIFY(!poller->running());
    }

    void pollingWhileABoxIsOpen_data()
    {
        QTest::addColumn<QString>("action"); // what shows the box
        QTest::addColumn<int>("answer");
        QTest::addColumn<bool>("polls");
        QTest::newRow("«Линия сохранена» only informs")
            << "actionSaveLine" << int(QMessageBox::Ok) << true;
        QTest::newRow("the question of a reset")
            << "BtnSetDefault" << int(QMessageBox::Cancel) << false;
    }

    void pollingWhileABoxIsOpen()
    {
        QFETCH(QString, action);
        QFETCH(int, answer);
        QFETCH(bool, polls);
        WindowBench b;
        b.bus.addSensor(1, 9600, SensorType::Voltage);
        b.bus.addSensor(2, 38400, SensorType::Temperature);
        b.addByHand(1, 9600);
        b.addByHand(2, 38400);
        b.find<QListWidget>("listWidgetDevices")->setCurrentRow(0);
        b.window->chooseLineFile = [&b](bool) { return b.dir.filePath(QStringLiteral("line")); };
        LinePoller* poller = openOverview(b);
        QSignalSpy rounds(poller, &LinePoller::roundDone);
        QTRY_VERIFY_WITH_TIMEOUT(rounds.count() >= 1, 20000);

        // The box stays open for three rounds' time.
        int polledMeanwhile = 0;
        connect(poller, &LinePoller::reading, b.window.get(), [&] {
            if (qobject_cast<QMessageBox*>(QApplication::activeModalWidget()))
                ++polledMeanwhile;
        });
        b.boxes.clear();
        b.boxes.answerNextAfter(QMessageBox::StandardButton(answer), 3 * trend::fastestRoundMs);
        if (action.startsWith(QLatin1String("action")))
            b.find<QAction>(action.toLatin1().constData())->trigger();
        else
            b.find<QPushButton>(action.toLatin1().constData())->click();
        QCOMPARE(b.boxes.boxes().size(), 1);

        if (polls)
            QVERIFY2(polledMeanwhile >= 4, qPrintable(QString::number(polledMeanwhile)));
        else
            QCOMPARE(polledMeanwhile, 0);
        QVERIFY(b.exchangesInTurn());
        poller->stop();
    }

    void rowsHoldStillUnderThePointer()
    {
        WindowBench b;
        b.bus.addSensor(1, 9600, SensorType::Voltage);
        b.bus.updateSensor(1, [](sim::Sensor& s) { s.param.measure = 100; });
        b.bus.addSensor(2, 9600, SensorType::Voltage);
        b.bus.updateSensor(2, [](sim::Sensor& s) { s.param.measure = 200; });
        b.addByHand(1, 9600);
        b.addByHand(2, 9600);
        LinePoller* poller = openOverview(b);
        auto* view = b.window->findChild<QTableView*>();
        view->sortByColumn(Value, Qt::DescendingOrder);
        QTRY_COMPARE_WITH_TIMEOUT(cell(view, 0, Value), QStringLiteral("200 В"), 20000);
        QCOMPARE(cell(view, 0, Address), QStringLiteral("2"));

        QEnterEvent enter(QPointF(4, 4), QPointF(4, 4), QPointF(4, 4));
        QApplication::sendEvent(view, &enter);
        b.bus.updateSensor(1, [](sim::Sensor& s) { s.param.measure = 300; });
        // The new value shows in the row that was there.
        QTRY_COMPARE_WITH_TIMEOUT(cell(view, 1, Value), QStringLiteral("300 В"), 20000);
        QCOMPARE(cell(view, 1, Address), QStringLiteral("1"));

        QEvent leave(QEvent::Leave);
        QApplication::sendEvent(view, &leave);
        QCOMPARE(cell(view, 0, Address), QStringLiteral("1"));
        QCOMPARE(cell(view, 0, Value), QStringLiteral("300 В"));
        poller->stop();
    }

    void fitsALaptop_data()
    {
        QTest::addColumn<QSize>("size"); // empty: the window's own minimum
        QTest::newRow("at its minimum") << QSize();
        QTest::newRow("on a 1366×768 screen, below its panel") << QSize(1366, 720);
    }

    void fitsALaptop()
    {
        QFETCH(QSize, size);
        WindowBench b;
        // Long names and a curve of each kind: the widest legend and both value axes.
        for (int addr = 1; addr <= 6; ++addr) {
            b.bus.addSensor(quint8(addr), 9600,
                            addr % 2 ? SensorType::Voltage : SensorType::Temperature);
            b.bus.updateSensor(quint8(addr), [addr](sim::Sensor& s) {
                setNameText(s.ust, QStringLiteral("Ячейка %1 ввод Б").arg(addr));
                sealChecksum(s.ust);
                s.param.measure = qint16(-10000 - addr);
            });
            b.addByHand(addr, 9600);
        }
        LinePoller* poller = openOverview(b);
        auto* view = b.window->findChild<QTableView*>();
        QSignalSpy rounds(poller, &LinePoller::roundDone);
        for (int row = 0; row < 6; ++row)
            tick(view, row);
        QTRY_VERIFY_WITH_TIMEOUT(rounds.count() >= 1, 20000);
        auto* plot = b.window->findChild<TrendPlot*>();
        QTRY_VERIFY(plot->axisEnabled(QwtPlot::yRight) && plot->axisEnabled(QwtPlot::yLeft));

        QWidget* overview = view->window();
        const QSize minimum = overview->minimumSizeHint();
        // As it opens, it leaves its screen's panels and its own title bar room.
        const QSize free = overview->screen()->availableGeometry().size();
        QVERIFY(overview->width() < free.width() && overview->height() < free.height());
        QVERIFY2(minimum.width() <= 1366 && minimum.height() <= 720,
                 qPrintable(QStringLiteral("%1×%2").arg(minimum.width()).arg(minimum.height())));
        overview->resize(size.isEmpty() ? minimum : size);
        QTRY_COMPARE(overview->size(), size.isEmpty() ? minimum : size);
        QApplication::processEvents();

        // Every button, the table and the plot's axes whole inside the window.
        QList<QWidget*> shown{view};
        for (QPushButton* button : overview->findChildren<QPushButton*>())
            shown << button;
        for (int axis : {QwtPlot::yLeft, QwtPlot::yRight, QwtPlot::xBottom})
            shown << plot->axisWidget(axis);
        for (QWidget* widget : shown) {
            const QRect place(widget->mapTo(overview, QPoint(0, 0)), widget->size());
            QVERIFY2(
                widget->isVisible() && !place.isEmpty() && overview->rect().contains(place),
                qPrintable(widget->metaObject()->className() + QStringLiteral(" at %1,%2 %3×%4")
                                                                   .arg(place.x())
                                                                   .arg(place.y())
                                                                   .arg(place.width())
                                                                   .arg(place.height())));
        }
        poller->stop();
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
        QCOMPARE(quint8(log.at(read - 1).bytes.at(1)), rtu::code(rtu::Function::ReadCoils));
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
        const QList<QByteArray> reads = b.requests(rtu::Function::ReadRegisters);
        QCOMPARE(reads.size(), 1);
        QCOMPARE(quint8(reads.first().at(0)), quint8(1));
        QCOMPARE(b.bus.received().first().baud, 9600);
        QVERIFY(!b.window->deviceRecords().at(0).commError);
    }

    void followsThePort_data()
    {
        QTest::addColumn<bool>("byFile");
        QTest::newRow("another port in the box") << false;
        QTest::newRow("a line file of another port") << true;
    }

    void followsThePort()
    {
        QFETCH(bool, byFile);
        WindowBench b;
        // Two lines, each with a temperature sensor at 2@38400.
        sim::SensorBus other;
        QString error;
        QVERIFY2(other.open(&error), qPrintable(error));
        b.bus.addSensor(2, 38400, SensorType::Temperature);
        b.bus.updateSensor(2, [](sim::Sensor& s) { s.param.measure = 2345; });
        other.addSensor(2, 38400, SensorType::Temperature);
        other.updateSensor(2, [](sim::Sensor& s) { s.param.measure = 1234; });
        const QString first = b.bus.slavePath();
        const QString second = other.slavePath();
        auto* ports = b.find<QComboBox>("PortNameBox");
        ports->addItem(second);
        b.addByHand(2, 38400);
        LinePoller* poller = openOverview(b);
        auto* overview = b.window->findChild<LineOverview*>();
        auto* view = b.window->findChild<QTableView*>();
        tick(view, 0);
        QTRY_VERIFY_WITH_TIMEOUT(overview->readings(first, 2, 38400), 20000);
        QCOMPARE(cell(view, 0, Value), QStringLiteral("23.45 °С"));

        if (byFile) {
            lineFile(b, second, {{2, 38400}});
            b.boxes.answerNext(QMessageBox::Yes);
            b.find<QAction>("actionOpenLine")->trigger();
        } else {
            ports->setCurrentIndex(ports->findText(second));
        }
        QCOMPARE(ports->currentText(), second);
        b.bus.clearLog();
        // The row is the other line's sensor now: nothing of the first shows.
        QCOMPARE(cell(view, 0, Value), QString());
        QCOMPARE(cell(view, 0, Address, Qt::CheckStateRole).toInt(), int(Qt::Unchecked));
        QVERIFY(curves(b).isEmpty());
        QTRY_VERIFY_WITH_TIMEOUT(overview->readings(second, 2, 38400) &&
                                     overview->readings(second, 2, 38400)->size() >= 2,
                                 20000);
        QVERIFY(b.bus.received().isEmpty());
        QCOMPARE(cell(view, 0, Value), QStringLiteral("12.34 °С"));

        // A curve per port: each line's sensor draws its own values.
        tick(view, 0);
        QCOMPARE(curves(b).size(), 1);
        QCOMPARE(drawn(curves(b).first()), QSet<double>{12.34});
        ports->setCurrentIndex(ports->findText(first));
        QCOMPARE(curves(b).size(), 1);
        QCOMPARE(drawn(curves(b).first()), QSet<double>{23.45});
        poller->stop();
    }

    void curveKeepsItsAxis_data()
    {
        QTest::addColumn<bool>("byFile");
        QTest::newRow("the same line file opened again") << true;
        QTest::newRow("another port chosen, then this one again") << false;
    }

    void curveKeepsItsAxis()
    {
        QFETCH(bool, byFile);
        WindowBench b;
        b.bus.addSensor(1, 9600, SensorType::Voltage);
        b.bus.addSensor(2, 38400, SensorType::Temperature);
        lineFile(b, b.bus.slavePath(), {{1, 9600}, {2, 38400}});
        b.find<QAction>("actionOpenLine")->trigger();
        LinePoller* poller = openOverview(b);
        auto* view = b.window->findChild<QTableView*>();
        tick(view, 0);
        tick(view, 1);
        QSignalSpy rounds(poller, &LinePoller::roundDone);
        QTRY_VERIFY_WITH_TIMEOUT(rounds.count() >= 1, 20000);
        // The legend: address, then the unit of the type the sensor answered with.
        const QStringList placed{"1 · В: left", "2 · °С: right"};
        QCOMPARE(axes(b), placed);

        if (byFile) {
            b.boxes.answerNext(QMessageBox::Yes);
            b.find<QAction>("actionOpenLine")->trigger();
        } else {
            auto* ports = b.find<QComboBox>("PortNameBox");
            ports->addItem(b.dir.filePath(QStringLiteral("ttyNONE")));
            ports->setCurrentIndex(ports->count() - 1);
            ports->setCurrentIndex(0);
        }
        // Before the list knows the types again, and after.
        QCOMPARE(axes(b), placed);
        const int done = rounds.count();
        QTRY_VERIFY_WITH_TIMEOUT(rounds.count() > done, 20000);
        QCOMPARE(axes(b), placed);
        poller->stop();
    }

    // "Экспорт CSV…" writes the columns velduo watch --csv writes, in the separators chosen,
    // and says what it wrote where.
    void exportWritesTheSharedColumns_data()
    {
        QTest::addColumn<csv::Style>("style");
        QTest::addColumn<QString>("temperature"); // sensor 2's value as written
        QTest::newRow("comma") << csv::Style::Comma << "23.45";
        QTest::newRow("semicolon") << csv::Style::Semicolon << "23,45";
    }

    void exportWritesTheSharedColumns()
    {
        QFETCH(csv::Style, style);
        QFETCH(QString, temperature);
        WindowBench b;
        listThree(b);
        LinePoller* poller = openOverview(b);
        auto* overview = b.window->findChild<LineOverview*>();
        QSignalSpy rounds(poller, &LinePoller::roundDone);
        QTRY_VERIFY_WITH_TIMEOUT(rounds.count() >= 1, 20000);
        poller->stop();

        const QString path = b.dir.filePath(QStringLiteral("readings.csv"));
        overview->chooseCsvFile = [&](csv::Style* chosen) {
            *chosen = style;
            return path;
        };
        QPushButton* exportButton = nullptr;
        for (QPushButton* button : overview->findChildren<QPushButton*>())
            if (button->text() == QStringLiteral("Экспорт CSV…"))
                exportButton = button;
        QVERIFY(exportButton);
        exportButton->click();

        QFile file(path);
        QVERIFY(file.open(QIODevice::ReadOnly));
        const QStringList rows = QString::fromUtf8(file.readAll()).split('\n', Qt::SkipEmptyParts);
        QCOMPARE(rows.first(), csv::header(style));
        const QChar separator = style == csv::Style::Comma ? ',' : ';';
        const QString name = nameText(b.bus.sensor(2).ust);
        const QString expected =
            QStringList{b.bus.slavePath(), "2", "38400", "1", name, temperature, "°C", "1500", "0"}
                .join(separator);
        QVERIFY2(
            std::any_of(rows.begin() + 1, rows.end(),
                        [&](const QString& row) { return row.section(separator, 1) == expected; }),
            qPrintable(rows.join('\n')));
        // The silent sensor's rows: its error, nothing measured.
        QVERIFY2(std::any_of(rows.begin() + 1, rows.end(),
                             [&](const QString& row) {
                                 return row.section(separator, 1) ==
                                        QStringList{
                                            b.bus.slavePath(), "3", "9600", "", "", "", "", "", "6"}
                                            .join(separator);
                             }),
                 qPrintable(rows.join('\n')));

        auto* box = overview->findChild<QMessageBox*>();
        QVERIFY(box);
        QVERIFY2(box->text().contains(QString::number(rows.size() - 1)) &&
                     box->text().contains(QDir::toNativeSeparators(path)),
                 qPrintable(box->text()));
    }
};

QTEST_MAIN(TestOverview)
#include "tst_overview.moc"
