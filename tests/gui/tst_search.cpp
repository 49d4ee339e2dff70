// The automatic search: the order of its probes, what it adds, its messages and Cancel.
#include "core/devices/searchplan.h"
#include "core/link/lineclient.h"
#include "gui/listtexts.h"
#include "support/windowbench.h"

#include <QtTest>
#include <QtWidgets>

namespace {

QStringList planTexts(const QList<SearchStep>& plan)
{
    QStringList texts;
    for (const SearchStep& step : plan)
        texts << (step.kind == SearchStep::Reopen
                      ? QStringLiteral("open %1").arg(step.baudrate)
                      : QStringLiteral("%1@%2").arg(step.addr).arg(step.baudrate));
    return texts;
}

QStringList numbers(int from, int to)
{
    QStringList texts;
    for (int n = from; n <= to; ++n)
        texts << QString::number(n);
    return texts;
}

const QStringList defaultSpeeds{"115200", "38400", "9600"};

// The default lists: every address at 115200, then at 38400, then at 9600.
QStringList defaultProbes()
{
    QStringList probes;
    for (const QString& speed : defaultSpeeds)
        for (int addr = 1; addr <= 31; ++addr)
            probes << QStringLiteral("%1@%2").arg(addr).arg(speed);
    return probes;
}

bool isProbe(const QByteArray& frame)
{
    return frame.size() >= 6 && quint8(frame.at(1)) == rtu::code(rtu::Function::ReadRegisters) &&
           frame.mid(2, 3) == QByteArray(3, 0) && frame.at(5) == 0x02;
}

// The probes that reached the bus, as "address@baud".
QStringList probesOnWire(const WindowBench& b)
{
    QStringList probes;
    for (const sim::Received& r : b.bus.received())
        if (isProbe(r.bytes))
            probes << QStringLiteral("%1@%2").arg(quint8(r.bytes.at(0))).arg(r.baud);
    return probes;
}

QStringList rowTexts(const WindowBench& b)
{
    QStringList texts;
    for (const QString& text : listTexts(b.find<QListWidget>("listWidgetDevices")))
        texts << text.section(QLatin1Char('\t'), 0, 1);
    return texts;
}

void setRows(QListWidget* list, const QStringList& texts)
{
    list->clear();
    list->addItems(texts);
}

QPushButton* cancelButton(const WindowBench& b)
{
    for (QPushButton* button : b.window->findChildren<QPushButton*>())
        if (button->text() == QStringLiteral("Отмена"))
            return button;
    qFatal("no Cancel button");
    return nullptr;
}

QTimer* pollingTimer(const WindowBench& b)
{
    return b.window->findChild<QTimer*>(QString(), Qt::FindDirectChildrenOnly);
}

// A sensor "ADDRESS:BAUD", or "ADDRESS:BAUD:CODE" for one that answers every read with that
// exception code.
void addSensor(WindowBench& b, const QString& sensor)
{
    const QStringList parts = sensor.split(QLatin1Char(':'));
    const auto addr = quint8(parts.at(0).toInt());
    b.bus.addSensor(addr, parts.at(1).toInt(), SensorType::Voltage);
    if (parts.size() > 2)
        b.bus.setFault(addr, rtu::Function::ReadRegisters,
                       {sim::Fault::Exception, parts.at(2).toInt()});
}

QString doneText(int count)
{
    return QStringLiteral("Поиск устройств завершен. Найдено устройств: %1").arg(count);
}

QString stoppedText(int count)
{
    return QStringLiteral("Поиск устройств остановлен. Найдено устройств: %1").arg(count);
}

} // namespace

class TestSearch : public QObject
{
    Q_OBJECT

private slots:
    void plan_data()
    {
        QTest::addColumn<QStringList>("speeds");
        QTest::addColumn<QStringList>("addrs");
        QTest::addColumn<QStringList>("steps");
        QTest::addColumn<int>("probes");

        QStringList all;
        for (const QString& speed : defaultSpeeds) {
            all << QStringLiteral("open ") + speed;
            for (int addr = 1; addr <= 31; ++addr)
                all << QStringLiteral("%1@%2").arg(addr).arg(speed);
        }
        QTest::newRow("default lists") << defaultSpeeds << numbers(1, 31) << all << 93;
        QTest::newRow("no speed") << QStringList() << numbers(1, 31) << QStringList() << 0;
        QTest::newRow("no address still opens each speed")
            << QStringList{"57600", "1200"} << QStringList()
            << QStringList{"open 57600", "open 1200"} << 0;
        QTest::newRow("no number reads 0") << QStringList{"fast"} << QStringList{"x", "3"}
                                           << QStringList{"open 0", "0@0", "3@0"} << 2;
    }

    void plan()
    {
        QFETCH(QStringList, speeds);
        QFETCH(QStringList, addrs);
        QFETCH(QStringList, steps);
        QFETCH(int, probes);
        const QList<SearchStep> plan = searchPlan(speeds, addrs);
        QCOMPARE(planTexts(plan), steps);
        QCOMPARE(probeCount(plan), probes);
    }

    // One search with the lists as the program starts, on the wire, against the simulator's
    // default bus: a newcomer finds both of its sensors.
    void defaultListsOnTheWire()
    {
        WindowBench b;
        b.bus.addSensor(1, 9600, SensorType::Voltage);
        b.bus.addSensor(2, 38400, SensorType::Temperature);
        auto* progress = b.window->findChild<QProgressBar*>();
        QStringList progressAtProbes;
        QObject::connect(
            b.window->findChild<LineClient*>(), &LineClient::mb_read,
            [&](quint8, quint16 reg, quint16 count, int attempts, int*) {
                if (reg == 0 && count == 2) {
                    QCOMPARE(attempts, 1);
                    progressAtProbes
                        << QStringLiteral("%1/%2").arg(progress->value()).arg(progress->maximum());
                }
            });

        b.find<QPushButton>("BtnAutoSearch")->click();

        QCOMPARE(probesOnWire(b), defaultProbes());
        QStringList expectedProgress;
        for (int probe = 0; probe < 93; ++probe)
            expectedProgress << QStringLiteral("%1/94").arg(qMax(probe, 1));
        QCOMPARE(progressAtProbes, expectedProgress);
        QCOMPARE(progress->value(), 93);
        QCOMPARE(progress->maximum(), 93);
        QCOMPARE(rowTexts(b), (QStringList{"2\t38400", "1\t9600"}));
        for (const DeviceVEL_DUO300& dev : b.window->deviceRecords())
            QVERIFY(!dev.commError);
        QCOMPARE(b.find<QListWidget>("listWidgetDevices")->currentRow(), 0);
        QCOMPARE(b.boxes.boxes().size(), 1);
        QCOMPARE(b.boxes.boxes().at(0).title, QStringLiteral("Готово"));
        QCOMPARE(b.boxes.boxes().at(0).text, doneText(2));
        QCOMPARE(b.boxes.boxes().at(0).icon, QMessageBox::Information);
    }

    void search_data()
    {
        QTest::addColumn<QStringList>("speeds");
        QTest::addColumn<QStringList>("addrs");
        QTest::addColumn<QStringList>("known");   // added by hand first, while silent
        QTest::addColumn<QStringList>("sensors"); // then on the bus
        QTest::addColumn<bool>("noPort");
        QTest::addColumn<QStringList>("probes");
        // The speeds of the port's re-opens; where a sensor is listed, only of the last one.
        QTest::addColumn<QStringList>("portSpeeds");
        QTest::addColumn<QStringList>("rows");
        QTest::addColumn<QString>("commErrors"); // per record, 1 for set
        QTest::addColumn<int>("current");

        QTest::newRow("same address at two speeds")
            << QStringList{"115200", "9600"} << QStringList{"3", "4"} << QStringList()
            << QStringList{"3:115200", "3:9600"} << false
            << QStringList{"3@115200", "4@115200", "3@9600", "4@9600"} << QStringList{"115200"}
            << QStringList{"3\t115200", "3\t9600"} << "00" << 0;
        QTest::newRow("exception 1 is a sensor")
            << QStringList{"9600"} << QStringList{"4"} << QStringList() << QStringList{"4:9600:1"}
            << false << QStringList{"4@9600"} << QStringList{"9600"} << QStringList{"4\t9600"}
            << "0" << 0;
        QTest::newRow("exception 2 is none")
            << QStringList{"9600"} << QStringList{"4"} << QStringList() << QStringList{"4:9600:2"}
            << false << QStringList{"4@9600"} << QStringList{"9600"} << QStringList() << "" << -1;
        QTest::newRow("a listed sensor is left as it is")
            << QStringList{"9600"} << QStringList{"5"} << QStringList{"5:9600"}
            << QStringList{"5:9600"} << false << QStringList{"5@9600"} << QStringList{"9600"}
            << QStringList{"5\t9600"} << "1" << 0;
        QTest::newRow("count includes sensors known before")
            << QStringList{"9600"} << QStringList{"2"} << QStringList{"7:9600"}
            << QStringList{"2:9600"} << false << QStringList{"2@9600"} << QStringList{"9600"}
            << QStringList{"7\t9600", "2\t9600"} << "10" << 0;
        QTest::newRow("no address opens each speed")
            << QStringList{"115200", "9600"} << QStringList() << QStringList()
            << QStringList{"1:9600"} << false << QStringList() << QStringList{"115200", "9600"}
            << QStringList() << "" << -1;
        QTest::newRow("no speed probes nothing")
            << QStringList() << QStringList{"1"} << QStringList() << QStringList{"1:9600"} << false
            << QStringList() << QStringList() << QStringList() << "" << -1;
        QTest::newRow("no port name probes nothing")
            << QStringList{"9600"} << QStringList{"1", "7"} << QStringList{"7:9600"}
            << QStringList{"1:9600"} << true << QStringList() << QStringList()
            << QStringList{"7\t9600"} << "1" << 0;
    }

    void search()
    {
        QFETCH(QStringList, speeds);
        QFETCH(QStringList, addrs);
        QFETCH(QStringList, known);
        QFETCH(QStringList, sensors);
        QFETCH(bool, noPort);
        QFETCH(QStringList, probes);
        QFETCH(QStringList, portSpeeds);
        QFETCH(QStringList, rows);
        QFETCH(QString, commErrors);
        QFETCH(int, current);

        WindowBench b;
        for (const QString& sensor : known)
            b.addByHand(sensor.section(QLatin1Char(':'), 0, 0).toInt(),
                        sensor.section(QLatin1Char(':'), 1, 1).toInt());
        for (const QString& sensor : sensors)
            addSensor(b, sensor);
        setRows(b.find<QListWidget>("listWidgetSpeed"), speeds);
        setRows(b.find<QListWidget>("listWidgetAddr"), addrs);
        if (noPort)
            b.find<QComboBox>("PortNameBox")->clear();
        b.bus.clearLog();
        QStringList opened;
        QObject::connect(
            b.window->findChild<LineClient*>(), &LineClient::savesettings,
            [&opened](QString, int rate, int, int, int, int) { opened << QString::number(rate); });

        b.find<QPushButton>("BtnAutoSearch")->click();

        QCOMPARE(probesOnWire(b), probes);
        if (rows.isEmpty())
            QCOMPARE(opened, portSpeeds);
        else // selecting a sensor re-opens the port too; last comes the one of row 0
            QCOMPARE(opened.mid(opened.size() - 1), portSpeeds);
        QCOMPARE(rowTexts(b), rows);
        QString flags;
        for (const DeviceVEL_DUO300& dev : b.window->deviceRecords())
            flags += dev.commError ? QLatin1Char('1') : QLatin1Char('0');
        QCOMPARE(flags, commErrors);
        QCOMPARE(b.find<QListWidget>("listWidgetDevices")->currentRow(), current);
        QCOMPARE(b.boxes.boxes().size(), 1);
        QCOMPARE(b.boxes.boxes().at(0).title, QStringLiteral("Готово"));
        QCOMPARE(b.boxes.boxes().at(0).text, doneText(rows.size()));
        QCOMPARE(b.boxes.boxes().at(0).icon, QMessageBox::Information);
        // The window is unlocked and polling runs again.
        QVERIFY(b.find<QWidget>("tabWidget")->isEnabled());
        QVERIFY(b.find<QWidget>("listWidgetDevices")->isEnabled());
        QVERIFY(b.find<QStatusBar>("statusBar")->isHidden());
        QVERIFY(pollingTimer(b)->isActive());
    }

    void cancel_data()
    {
        QTest::addColumn<QString>("cancelAt"); // the probe in flight when Cancel is clicked
        QTest::addColumn<int>("countAtClick");
        QTest::addColumn<QStringList>("probes");
        QTest::addColumn<QStringList>("rows");

        QTest::newRow("while a silent address is probed")
            << "2@115200" << 1 << QStringList{"1@115200", "2@115200"} << QStringList{"1\t115200"};
        QTest::newRow("the sensor probed then is still added")
            << "2@9600" << 1 << QStringList{"1@115200", "2@115200", "3@115200", "1@9600", "2@9600"}
            << QStringList{"1\t115200", "2\t9600"};
    }

    void cancel()
    {
        QFETCH(QString, cancelAt);
        QFETCH(int, countAtClick);
        QFETCH(QStringList, probes);
        QFETCH(QStringList, rows);

        WindowBench b;
        b.bus.addSensor(1, 115200, SensorType::Voltage);
        b.bus.addSensor(2, 9600, SensorType::Temperature);
        setRows(b.find<QListWidget>("listWidgetSpeed"), {"115200", "9600"});
        setRows(b.find<QListWidget>("listWidgetAddr"), {"1", "2", "3"});
        QPushButton* cancel = cancelButton(b);
        QTimer* timer = pollingTimer(b);
        auto* list = b.find<QListWidget>("listWidgetDevices");

        int baud = 0;
        bool armed = true;
        int rowsAtClick = -1;
        QObject::connect(b.window->findChild<LineClient*>(), &LineClient::savesettings,
                         [&baud](QString, int rate, int, int, int, int) { baud = rate; });
        QObject::connect(b.window->findChild<LineClient*>(), &LineClient::mb_read,
                         [&](quint8 addr, quint16 reg, quint16 count, int, int*) {
                             if (!armed || reg != 0 || count != 2 ||
                                 QStringLiteral("%1@%2").arg(addr).arg(baud) != cancelAt)
                                 return;
                             armed = false;
                             // Clicked while the probe waits for its answer.
                             QTimer::singleShot(0, cancel, [&] {
                                 rowsAtClick = list->count();
                                 cancel->click();
                             });
                         });
        // Polling stays stopped until the stopped search has ended.
        bool polledDuringSearch = false;
        QObject::connect(b.window->findChild<QProgressBar*>(), &QProgressBar::valueChanged,
                         [&] { polledDuringSearch |= timer->isActive(); });

        b.find<QPushButton>("BtnAutoSearch")->click();

        QCOMPARE(rowsAtClick, countAtClick);
        QCOMPARE(probesOnWire(b), probes);
        QCOMPARE(rowTexts(b), rows);
        QCOMPARE(list->currentRow(), 0);
        QVERIFY(!polledDuringSearch);
        QCOMPARE(b.boxes.boxes().size(), 1); // no "Готово"
        QCOMPARE(b.boxes.boxes().at(0).title, QStringLiteral("Поиск устройств остановлен"));
        QCOMPARE(b.boxes.boxes().at(0).text, stoppedText(countAtClick));
        QCOMPARE(b.boxes.boxes().at(0).icon, QMessageBox::Warning);
        QVERIFY(b.find<QWidget>("tabWidget")->isEnabled());
        QVERIFY(b.find<QStatusBar>("statusBar")->isHidden());
        QVERIFY(timer->isActive());

        // The next search starts from the beginning and ends normally.
        emit b.window->stopTimer();
        b.bus.clearLog();
        b.boxes.clear();
        b.find<QPushButton>("BtnAutoSearch")->click();
        QCOMPARE(probesOnWire(b),
                 (QStringList{"1@115200", "2@115200", "3@115200", "1@9600", "2@9600", "3@9600"}));
        QCOMPARE(b.boxes.boxes().size(), 1);
        QCOMPARE(b.boxes.boxes().at(0).text, doneText(2));
    }

    // A Cancel click outside a search does not spoil the next one.
    void cancelOutsideASearch()
    {
        WindowBench b;
        b.bus.addSensor(1, 9600, SensorType::Voltage);
        setRows(b.find<QListWidget>("listWidgetSpeed"), {"9600"});
        setRows(b.find<QListWidget>("listWidgetAddr"), {"1"});
        cancelButton(b)->click();
        QCOMPARE(b.boxes.boxes().size(), 1);
        QCOMPARE(b.boxes.boxes().at(0).text, stoppedText(0));
        b.boxes.clear();
        b.find<QPushButton>("BtnAutoSearch")->click();
        QCOMPARE(probesOnWire(b), QStringList{"1@9600"});
        QCOMPARE(b.boxes.boxes().size(), 1);
        QCOMPARE(b.boxes.boxes().at(0).text, doneText(1));
    }
};

QTEST_MAIN(TestSearch)
#include "tst_search.moc"
