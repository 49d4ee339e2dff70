// Calibration of a voltage sensor: the potentiometer step decision, and the zero and nominal
// points through the real window against the simulated bus.
#include "core/sensor/calibrationstep.h"
#include "support/windowbench.h"

#include <QComboBox>
#include <QLineEdit>
#include <QListWidget>
#include <QPushButton>
#include <QSignalSpy>
#include <QtTest>

using calibration::Phase;
using calibration::PotentRead;

Q_DECLARE_METATYPE(calibration::Phase)

namespace {

const QString weakSignal = QStringLiteral("Warning: Слишком слабый сигнал датчика шин/линии фазы");
const QString strongSignal =
    QStringLiteral("Warning: Слишком сильный сигнал с датчика напряжения шин/линии фазы");
const QString failedPotentRead = QStringLiteral("Error: on_BtnSetNom_clicked:mb_readPotent()");

// Positions the program wrote to the potentiometer, in order.
QList<int> potentWrites(const WindowBench& b)
{
    QList<int> positions;
    for (const QByteArray& frame : b.requests(rtu::Function::WritePotentiometer))
        positions.append(quint8(frame.at(3)));
    return positions;
}

// Reads of the parameters block (register 0x0000), as opposed to the settings block.
int paramReads(const WindowBench& b)
{
    int n = 0;
    for (const QByteArray& frame : b.requests(rtu::Function::ReadRegisters))
        n += frame.mid(2, 2) == QByteArray(2, '\0');
    return n;
}

// A voltage sensor at address 1, 9600 Bd, added and selected, its setpoint -250.
void addVoltageSensor(WindowBench& b)
{
    b.bus.addSensor(1, 9600, SensorType::Voltage);
    b.bus.updateSensor(1, [](sim::Sensor& s) {
        s.ust.threshold = -250;
        sealChecksum(s.ust);
    });
    b.addByHand(1, 9600);
}

} // namespace

class TestCalibration : public QObject
{
    Q_OBJECT

private slots:
    void step_data()
    {
        QTest::addColumn<Phase>("phase");
        QTest::addColumn<int>("outcome");
        QTest::addColumn<int>("position");
        QTest::addColumn<int>("writesMade");
        QTest::addColumn<bool>("ends");
        QTest::addColumn<int>("next");

        const int failed = PotentRead::Failed, shortAnswer = PotentRead::Short,
                  at = PotentRead::Position;
        QTest::newRow("raise, read failed") << Phase::Raise << failed << 0 << 0 << false << 74;
        QTest::newRow("raise, short answer")
            << Phase::Raise << shortAnswer << 0 << 3 << false << 10;
        QTest::newRow("raise, 0") << Phase::Raise << at << 0 << 0 << false << 10;
        QTest::newRow("raise, 127") << Phase::Raise << at << 127 << 5 << false << 137;
        QTest::newRow("raise, 128 is the top") << Phase::Raise << at << 128 << 5 << true << 0;
        QTest::newRow("raise, 255 is the top") << Phase::Raise << at << 255 << 0 << true << 0;
        QTest::newRow("raise, 25th write") << Phase::Raise << at << 64 << 25 << false << 74;
        QTest::newRow("raise, bound after 26 writes")
            << Phase::Raise << at << 64 << 26 << true << 0;
        QTest::newRow("raise, bound on a failed read")
            << Phase::Raise << failed << 0 << 26 << true << 0;
        QTest::newRow("lower, read failed") << Phase::Lower << failed << 0 << 0 << false << 54;
        QTest::newRow("lower, short answer ends")
            << Phase::Lower << shortAnswer << 0 << 0 << true << 0;
        QTest::newRow("lower, 0 is the bottom") << Phase::Lower << at << 0 << 4 << true << 0;
        QTest::newRow("lower, 10") << Phase::Lower << at << 10 << 0 << false << 0;
        QTest::newRow("lower, 1 gives 0") << Phase::Lower << at << 1 << 0 << false << 0;
        QTest::newRow("lower, 9 gives 0") << Phase::Lower << at << 9 << 0 << false << 0;
        QTest::newRow("lower, 255") << Phase::Lower << at << 255 << 0 << false << 245;
        QTest::newRow("lower, 25th write") << Phase::Lower << at << 200 << 25 << false << 190;
        QTest::newRow("lower, bound after 26 writes")
            << Phase::Lower << at << 200 << 26 << true << 0;
    }

    void step()
    {
        QFETCH(Phase, phase);
        QFETCH(int, outcome);
        QFETCH(int, position);
        QFETCH(int, writesMade);
        QFETCH(bool, ends);
        QFETCH(int, next);
        const PotentRead read{PotentRead::Outcome(outcome), quint8(position)};
        const calibration::Step s = calibration::nextStep(phase, read, writesMade);
        QCOMPARE(s.ends, ends);
        if (!ends)
            QCOMPARE(int(s.position), next);
    }

    void potentReadFromAnswer_data()
    {
        QTest::addColumn<int>("error");
        QTest::addColumn<QByteArray>("answer");
        QTest::addColumn<int>("outcome");
        QTest::addColumn<int>("position");
        QTest::newRow("no answer") << 6 << QByteArray() << int(PotentRead::Failed) << 0;
        QTest::newRow("three bytes")
            << 0 << QByteArray::fromHex("015000") << int(PotentRead::Short) << 0;
        QTest::newRow("position at index 3")
            << 0 << QByteArray::fromHex("015000c8aabb") << int(PotentRead::Position) << 200;
    }

    void potentReadFromAnswer()
    {
        QFETCH(int, error);
        QFETCH(QByteArray, answer);
        QFETCH(int, outcome);
        QFETCH(int, position);
        const PotentRead read = calibration::potentRead(error, answer);
        QCOMPARE(int(read.outcome), outcome);
        if (outcome == PotentRead::Position)
            QCOMPARE(int(read.position), position);
    }

    void zeroPoint_data()
    {
        QTest::addColumn<bool>("portNamed");
        QTest::addColumn<bool>("readFails");
        QTest::addColumn<bool>("written");
        QTest::addColumn<QString>("shownZero");

        QTest::newRow("reads the settings, writes the last reading")
            << true << false << true << QStringLiteral("1987");
        QTest::newRow("no permission: the record and the form only")
            << false << false << false << QStringLiteral("1987");
        QTest::newRow("failed settings read: empty form, nothing written")
            << true << true << false << QString();
    }

    void zeroPoint()
    {
        QFETCH(bool, portNamed);
        QFETCH(bool, readFails);
        QFETCH(bool, written);
        QFETCH(QString, shownZero);
        WindowBench b;
        addVoltageSensor(b);
        b.bus.updateSensor(1, [](sim::Sensor& s) { s.param.adc = 1987; });
        b.poll();
        // The zero point is the reading of the last parameters read, not a fresh one.
        b.bus.updateSensor(1, [](sim::Sensor& s) { s.param.adc = 2500; });
        b.find<QLineEdit>("lineEditUstThreshold")->setText(QStringLiteral("777"));
        if (!portNamed)
            b.find<QComboBox>("PortNameBox")->clear();
        if (readFails)
            b.bus.setFault(1, rtu::Function::ReadRegisters, {sim::Fault::Silence, 0, 3});
        b.bus.clearLog();

        b.find<QPushButton>("BtnSetZero")->click();

        QCOMPARE(b.window->deviceRecords().at(0).ust.zeroAdc, quint16(1987));
        QCOMPARE(b.find<QLineEdit>("lineEditMin")->text(), shownZero);
        QCOMPARE(b.requests(rtu::Function::ReadRegisters).size(),
                 portNamed ? (readFails ? 3 : 1) : 0);
        const QList<QByteArray> writes = b.requests(rtu::Function::WriteRegisters);
        QCOMPARE(writes.size(), written ? 1 : 0);
        if (written) {
            const UstBlock sent = WindowBench::writtenBlock(writes.first());
            QCOMPARE(sent.zeroAdc, quint16(1987));
            QCOMPARE(sent.threshold, qint16(-250)); // the stored setpoint, not the edited one
            QCOMPARE(b.bus.sensor(1).ust.zeroAdc, quint16(1987));
            QCOMPARE(b.find<QLineEdit>("lineEditUstThreshold")->text(), QStringLiteral("-250"));
        } else {
            QCOMPARE(b.bus.sensor(1).ust.zeroAdc, defaultUstBlock().zeroAdc);
        }
        // Only the incomplete form left by the failed read asks the user.
        QCOMPARE(b.boxes.boxes().size(), readFails ? 1 : 0);
    }

    void nominalPoint_data()
    {
        QTest::addColumn<int>("potent");
        QTest::addColumn<int>("adcBase");
        QTest::addColumn<int>("adcPerStep");
        QTest::addColumn<bool>("stuck");
        QTest::addColumn<bool>("readFails");
        QTest::addColumn<QList<int>>("writes");
        QTest::addColumn<int>("nomAdc");
        QTest::addColumn<QString>("warning");

        // adc = adcBase + adcPerStep * position, within 0..4095.
        QTest::newRow("in the window: no potentiometer exchange")
            << 64 << 0 << 32 << false << false << QList<int>{} << 2048 << QString();
        QTest::newRow("low: raised in steps of 10")
            << 20 << 0 << 20 << false << false << QList<int>{30, 40, 50, 60, 70} << 1400
            << QString();
        QTest::newRow("high: lowered in steps of 10")
            << 200 << 200 << 20 << false << false << QList<int>{190, 180} << 3800 << QString();
        QTest::newRow("1228 is below the window")
            << 0 << 1128 << 10 << false << false << QList<int>{10, 20} << 1328 << QString();
        QTest::newRow("1229 ends raising")
            << 0 << 1129 << 10 << false << false << QList<int>{10} << 1229 << QString();
        QTest::newRow("3892 is above the window")
            << 110 << 3792 << 1 << false << false << QList<int>{100, 90} << 3882 << QString();
        QTest::newRow("3891 ends lowering")
            << 110 << 3791 << 1 << false << false << QList<int>{100} << 3891 << QString();
        QTest::newRow("too weak: gain at its top")
            << 100 << 0 << 1 << false << false << QList<int>{110, 120, 130} << 130 << weakSignal;
        QTest::newRow("too strong: lowered from 25 to 0")
            << 25 << 4000 << 1 << false << false << QList<int>{15, 5, 0} << 4000 << strongSignal;
        QTest::newRow("stuck at the bottom, too weak: ends at the bound")
            << 0 << 100 << 10 << true << false << QVector<int>(calibration::maxWrites, 10).toList()
            << 100 << weakSignal;
        QTest::newRow("stuck at the top, too strong: ends at the bound")
            << 255 << 3000 << 10 << true << false
            << QVector<int>(calibration::maxWrites, 245).toList() << 4095 << strongSignal;
        QTest::newRow("failed read while raising: 74")
            << 20 << 0 << 20 << false << true << QList<int>{74} << 1480 << QString();
        QTest::newRow("failed read while lowering: 54")
            << 150 << 3000 << 10 << false << true << QList<int>{54} << 3540 << QString();
    }

    void nominalPoint()
    {
        QFETCH(int, potent);
        QFETCH(int, adcBase);
        QFETCH(int, adcPerStep);
        QFETCH(bool, stuck);
        QFETCH(bool, readFails);
        QFETCH(QList<int>, writes);
        QFETCH(int, nomAdc);
        QFETCH(QString, warning);
        WindowBench b;
        addVoltageSensor(b);
        b.bus.updateSensor(1, [&](sim::Sensor& s) {
            s.potent = quint8(potent);
            s.adcBase = adcBase;
            s.adcPerStep = adcPerStep;
            s.potentStuck = stuck;
        });
        if (readFails)
            b.bus.setFault(1, rtu::Function::ReadPotentiometer, {sim::Fault::Silence, 0, 1});
        b.bus.clearLog();
        QSignalSpy stops(b.window.get(), &MainWindow::stopTimer);

        b.find<QPushButton>("BtnSetNom")->click();

        QCOMPARE(potentWrites(b), writes);
        if (writes.isEmpty()) {
            // Only the first reading, the one after the raise phase, and the write.
            QVERIFY(b.requests(rtu::Function::ReadPotentiometer).isEmpty());
            QCOMPARE(paramReads(b), 2);
        }
        const QList<QByteArray> blockWrites = b.requests(rtu::Function::WriteRegisters);
        QCOMPARE(blockWrites.size(), 1);
        QCOMPARE(int(WindowBench::writtenBlock(blockWrites.first()).nomAdc), nomAdc);
        QCOMPARE(int(WindowBench::writtenBlock(blockWrites.first()).threshold), -250);
        QCOMPARE(int(b.bus.sensor(1).ust.nomAdc), nomAdc);
        QCOMPARE(b.find<QLineEdit>("lineEditMax")->text(), QString::number(nomAdc));

        const QString monitor = b.monitorText();
        QCOMPARE(monitor.contains(failedPotentRead), readFails);
        QCOMPARE(monitor.contains(weakSignal), warning == weakSignal);
        QCOMPARE(monitor.contains(strongSignal), warning == strongSignal);
        QVERIFY(b.logText().contains(warning));

        // Polling paused for the whole calibration and runs again afterwards.
        QCOMPARE(stops.size(), 1);
        QVERIFY(b.pollTimer()->isActive());
    }

    void sensorThatStopsAnsweringEndsAtTheBound()
    {
        WindowBench b;
        addVoltageSensor(b);
        // The gain does not move, so the reading stays low; two steps before the bound the
        // sensor falls silent (after the first reading, each step takes four answers) and its
        // reading goes stale.
        b.bus.updateSensor(1, [](sim::Sensor& s) {
            s.potent = 0;
            s.adcBase = 100;
            s.adcPerStep = 10;
            s.potentStuck = true;
        });
        const int answered = 2 + 4 * (calibration::maxWrites - 2);
        b.bus.setFault(1, sim::everyFunction, {sim::Fault::Silence, 0, -1, answered});
        b.bus.clearLog();

        b.find<QPushButton>("BtnSetNom")->click();

        QCOMPARE(potentWrites(b), QVector<int>(calibration::maxWrites - 2, 10).toList()
                                      << 74 << 74);
        QVERIFY(b.monitorText().contains(failedPotentRead));
        QVERIFY(b.monitorText().contains(weakSignal));
        QCOMPARE(b.window->deviceRecords().at(0).ust.nomAdc, quint16(100));
        QCOMPARE(b.requests(rtu::Function::WriteRegisters).size(), 3); // sent, never answered
        QVERIFY(b.pollTimer()->isActive());
    }

    void nominalPointWithoutPermission_data()
    {
        QTest::addColumn<bool>("selected");
        QTest::addColumn<bool>("timerRunning");
        QTest::newRow("no sensor selected, timer running") << false << true;
        QTest::newRow("no port name, timer running") << true << true;
        QTest::newRow("no port name, timer stopped") << true << false;
    }

    void nominalPointWithoutPermission()
    {
        QFETCH(bool, selected);
        QFETCH(bool, timerRunning);
        WindowBench b;
        addVoltageSensor(b);
        if (selected)
            b.find<QComboBox>("PortNameBox")->clear();
        else
            b.find<QListWidget>("listWidgetDevices")->setCurrentRow(-1);
        if (timerRunning)
            emit b.window->startTimer();
        b.bus.clearLog();
        QSignalSpy stops(b.window.get(), &MainWindow::stopTimer);
        QSignalSpy starts(b.window.get(), &MainWindow::startTimer);

        b.invoke("on_BtnSetNom_clicked");

        QVERIFY(b.bus.received().isEmpty());
        QVERIFY(stops.isEmpty() && starts.isEmpty());
        QCOMPARE(b.pollTimer()->isActive(), timerRunning);
    }

    void clickDuringAWaitRunsAfterIt()
    {
        WindowBench b;
        addVoltageSensor(b);
        b.bus.setFault(1, rtu::Function::ReadRegisters, {sim::Fault::Silence, 0, 1});
        b.bus.clearLog();

        emit b.window->startTimer();
        QTRY_COMPARE_WITH_TIMEOUT(b.requests(rtu::Function::ReadRegisters).size(), 1, 3000);
        b.find<QPushButton>("BtnSetNom")->click(); // during the poll's wait
        QTRY_COMPARE_WITH_TIMEOUT(b.requests(rtu::Function::WriteRegisters).size(), 1, 5000);

        const QList<sim::Received> log = b.bus.received();
        QCOMPARE(quint8(log.at(0).bytes.at(1)),
                 rtu::code(rtu::Function::ReadRegisters)); // poll: parameters, unanswered
        QCOMPARE(quint8(log.at(1).bytes.at(1)), rtu::code(rtu::Function::ReadCoils)); // poll: coil
        QVERIFY2(b.exchangesInTurn(), "exchanges overlapped");
        QCOMPARE(b.bus.sensor(1).ust.nomAdc, quint16(2048));
    }
};

QTEST_MAIN(TestCalibration)
#include "tst_calibration.moc"
