// The once-a-second poll of the selected sensor, the display of its values, and how the tick
// shares the line with the other operations.
#include "sim/sensorlogic.h"
#include "support/windowbench.h"

#include <QComboBox>
#include <QLabel>
#include <QLineEdit>
#include <QListWidget>
#include <QPlainTextEdit>
#include <QPushButton>
#include <QtTest>
#include <cstring>

namespace {

QList<sim::Received> requestsTo(const WindowBench& b, rtu::Function function, quint16 reg)
{
    QList<sim::Received> found;
    for (const sim::Received& r : b.bus.received())
        if (r.bytes.size() >= 4 && quint8(r.bytes.at(1)) == rtu::code(function) &&
            ((quint8(r.bytes.at(2)) << 8) | quint8(r.bytes.at(3))) == reg)
            found.append(r);
    return found;
}

} // namespace

class TestPolling : public QObject
{
    Q_OBJECT

private slots:
    void display_data()
    {
        QTest::addColumn<int>("type");
        QTest::addColumn<int>("measure");
        QTest::addColumn<QString>("measureLabel");
        QTest::addColumn<QString>("thresholdLabel");
        QTest::addColumn<QString>("value");
        QTest::addColumn<bool>("calibration");
        QTest::newRow("voltage sensor, -12 V")
            << 2 << -12 << QStringLiteral("Напряжение, В")
            << QStringLiteral("Уставка напряжения, В") << QStringLiteral("-12") << true;
        QTest::newRow("temperature sensor, 23.45 °C")
            << 1 << 2345 << QStringLiteral("Температура, °С")
            << QStringLiteral("Уставка температуры, °С") << QStringLiteral("23.45") << false;
        QTest::newRow("undetermined type")
            << 9 << 100 << QStringLiteral("Сбой определения типа датчика")
            << QStringLiteral("Уставка температуры/напряжения, °С/В") << QStringLiteral("Ошибка!")
            << false;
    }

    void display()
    {
        QFETCH(int, type);
        QFETCH(int, measure);
        QFETCH(QString, measureLabel);
        QFETCH(QString, thresholdLabel);
        QFETCH(QString, value);
        QFETCH(bool, calibration);
        WindowBench b;
        b.bus.addSensor(sim::makeSensorWithTypeWord(1, 9600, quint16(type)));
        b.bus.updateSensor(1, [measure](sim::Sensor& s) {
            s.param.measure = qint16(measure);
            s.param.adc = 3012;
            s.param.workTime = 4000000000u;
            std::memcpy(s.param.version, "VEL_DUO300 v1.23", 16); // fills the field, no NUL
        });
        b.addByHand(1, 9600);

        b.poll();
        QCOMPARE(b.find<QLineEdit>("lineEditMeasure")->text(), value);
        QCOMPARE(b.find<QLineEdit>("lineEditVoltage")->text(), value);
        QCOMPARE(b.find<QLineEdit>("lineEditDiscret")->text(), QStringLiteral("3012"));
        QVERIFY(b.find<QLineEdit>("lineEditWorkTime")->text().toUInt() >= 4000000000u);
        QCOMPARE(b.find<QLineEdit>("lineEditVersion")->text(), QStringLiteral("VEL_DUO300 v1.23"));

        // The captions follow the type of the previous read.
        b.poll();
        QCOMPARE(b.find<QLabel>("LMeasure")->text(), measureLabel);
        QCOMPARE(b.find<QLabel>("LUstThreshold")->text(), thresholdLabel);
        QCOMPARE(!b.find<QWidget>("groupBox_11")->isHidden(), calibration);
    }

    void silentSensorEmptiesTheLiveFields()
    {
        WindowBench b;
        b.bus.addSensor(1, 9600, SensorType::Voltage);
        b.addByHand(1, 9600);
        b.poll();
        const char* const fields[] = {"lineEditMeasure", "lineEditVoltage", "lineEditDiscret",
                                      "lineEditWorkTime", "lineEditVersion"};
        for (const char* field : fields)
            QVERIFY2(!b.find<QLineEdit>(field)->text().isEmpty(), field);

        b.bus.setFault(1, sim::everyFunction, {sim::Fault::Silence});
        b.poll();
        for (const char* field : fields)
            QVERIFY2(b.find<QLineEdit>(field)->text().isEmpty(), field);
        QCOMPARE(b.find<QListWidget>("listWidgetDevices")->currentItem()->background().color(),
                 QColor(0xC0C0C0));

        b.bus.clearFaults();
        b.poll();
        for (const char* field : fields)
            QVERIFY2(!b.find<QLineEdit>(field)->text().isEmpty(), field);
    }

    // An answer that looks like the loader's erase status is no answer to a read.
    void eraseLookalikeAnswerShowsNothing()
    {
        WindowBench b;
        b.bus.addSensor(1, 9600, SensorType::Voltage);
        b.addByHand(1, 9600);
        b.poll();
        const DeviceVEL_DUO300 before = b.window->deviceRecords().at(0);

        b.bus.queueScript({{2, QByteArray::fromHex("011100") + QByteArray(28, '\x09')}});
        b.bus.queueScript({{2, QByteArray::fromHex("011100")}});
        b.poll();
        const DeviceVEL_DUO300 after = b.window->deviceRecords().at(0);
        QVERIFY(after.commError);
        QCOMPARE(blockBytes(after.param), blockBytes(before.param));
        QCOMPARE(blockBytes(after.ust), blockBytes(before.ust));
        QCOMPARE(after.addr, before.addr);
        QCOMPARE(after.baudrate, before.baudrate);
        QVERIFY(b.find<QLineEdit>("lineEditMeasure")->text().isEmpty());
        QVERIFY(b.find<QLineEdit>("lineEditVersion")->text().isEmpty());
    }

    // The selection moves while the poll waits for one of its two answers.
    void selectionChangeDuringAPoll_data()
    {
        QTest::addColumn<QString>("request"); // the request whose wait sees the change
        QTest::addColumn<int>("row");
        QTest::newRow("another row while reading the parameters") << "01030000000e" << 1;
        QTest::newRow("no row while reading the parameters") << "01030000000e" << -1;
        QTest::newRow("another row while reading the coil") << "010100000001" << 1;
        QTest::newRow("no row while reading the coil") << "010100000001" << -1;
    }

    void selectionChangeDuringAPoll()
    {
        QFETCH(QString, request);
        QFETCH(int, row);
        WindowBench b;
        b.bus.addSensor(1, 9600, SensorType::Voltage);
        b.bus.addSensor(2, 19200, SensorType::Temperature);
        b.bus.updateSensor(1, [](sim::Sensor& s) {
            s.param.adc = 1234;
            s.coil = 1;
        });
        b.addByHand(2, 19200);
        b.addByHand(1, 9600);
        auto* list = b.find<QListWidget>("listWidgetDevices");
        list->setCurrentRow(1); // sensor 1
        const DeviceVEL_DUO300 otherBefore = b.window->deviceRecords().at(0);
        b.bus.clearLog();
        b.find<QPlainTextEdit>("consol")->clear();

        // The request's line reaches the monitor while the poll waits for its answer.
        const int target = row == 1 ? 0 : -1; // the other sensor's row, or none
        QMetaObject::Connection watch =
            connect(b.find<QPlainTextEdit>("consol"), &QPlainTextEdit::textChanged, this,
                    [&b, list, request, target] {
                        if (b.monitorText().contains(request) && list->currentRow() == 1)
                            list->setCurrentRow(target);
                    });
        b.poll();
        disconnect(watch);
        QCOMPARE(list->currentRow(), target);

        // Every frame of the poll went to sensor 1 at its speed.
        const QList<sim::Received> log = b.bus.received();
        QCOMPARE(log.size(), 2);
        for (const sim::Received& r : log) {
            QCOMPARE(quint8(r.bytes.at(0)), quint8(1));
            QCOMPARE(r.baud, 9600);
        }
        // The outcome is on sensor 1's record and row; the other record and row are untouched.
        const DeviceVEL_DUO300 polled = b.window->deviceRecords().at(1);
        QVERIFY(!polled.commError);
        QCOMPARE(polled.param.adc, quint16(1234));
        QCOMPARE(polled.coil[0], quint8(1));
        QCOMPARE(list->item(1)->background().color(), QColor(0xFF9980));
        const DeviceVEL_DUO300 other = b.window->deviceRecords().at(0);
        QCOMPARE(blockBytes(other.param), blockBytes(otherBefore.param));
        QCOMPARE(other.coil[0], otherBefore.coil[0]);
        QCOMPARE(list->item(0)->background().style(), Qt::NoBrush);

        // The selection change ran after the poll: the port follows the new row, or the
        // sensor buttons are off.
        if (row == 1)
            QTRY_VERIFY_WITH_TIMEOUT(
                b.monitorText().indexOf(QStringLiteral("Открыт! Скорость 19200"),
                                        b.monitorText().lastIndexOf("010100000001")) > 0,
                2000);
        else
            QVERIFY(!b.find<QPushButton>("BtnReadUst")->isEnabled());
    }

    void settingsAreReadOnceWhenTheFormIsEmpty()
    {
        WindowBench b;
        b.bus.addSensor(1, 9600, SensorType::Voltage);
        b.bus.setFault(1, rtu::Function::ReadRegisters,
                       {sim::Fault::Silence, 0, 2}); // the addition's two attempts
        b.addByHand(1, 9600);
        QVERIFY(b.find<QLineEdit>("lineEditUstThreshold")->text().isEmpty());
        b.bus.clearLog();

        b.poll();
        QCOMPARE(requestsTo(b, rtu::Function::ReadRegisters, 0x0100).size(), 1);
        QVERIFY(!b.find<QLineEdit>("lineEditUstThreshold")->text().isEmpty());
        b.poll();
        QCOMPARE(requestsTo(b, rtu::Function::ReadRegisters, 0x0100).size(), 1);
        QCOMPARE(requestsTo(b, rtu::Function::ReadRegisters, 0x0000).size(), 2);
        QCOMPARE(requestsTo(b, rtu::Function::ReadCoils, 0x0000).size(), 2);
    }

    void ticksDuringAWaitNeitherPollNorServe()
    {
        WindowBench b;
        b.bus.addSensor(1, 9600, SensorType::Voltage);
        b.addByHand(1, 9600);
        b.bus.addSensor(2, 9600, SensorType::Temperature);
        b.bus.setFault(1, sim::everyFunction, {sim::Fault::Silence});
        b.bus.clearLog();
        b.find<QLineEdit>("lineEditAddrMB")->setText(QStringLiteral("2"));

        emit b.window->startTimer();
        // The poll of the silent sensor waits; ask for an addition meanwhile.
        QTRY_COMPARE_WITH_TIMEOUT(requestsTo(b, rtu::Function::ReadRegisters, 0x0000).size(), 1,
                                  3000);
        b.find<QPushButton>("btnAddDevice")->click();
        QTRY_COMPARE_WITH_TIMEOUT(b.window->deviceRecords().size(), 2, 5000);
        emit b.window->stopTimer();

        // One poll (parameters, then coil, each waiting out its time-out), and the addition's
        // settings read only after it: nothing overlapped.
        const QList<sim::Received> log = b.bus.received();
        QVERIFY(log.size() >= 3);
        QCOMPARE(quint8(log.at(0).bytes.at(1)), rtu::code(rtu::Function::ReadRegisters));
        QCOMPARE(quint8(log.at(1).bytes.at(1)), rtu::code(rtu::Function::ReadCoils));
        QCOMPARE(log.at(2).bytes.left(4).toHex(), QByteArray("02030100"));
        QVERIFY2(b.exchangesInTurn(), "exchanges overlapped");
    }

    void additionWaitsForTheTimer()
    {
        WindowBench b;
        b.bus.addSensor(1, 9600, SensorType::Voltage);
        b.find<QLineEdit>("lineEditAddrMB")->setText(QStringLiteral("1"));
        b.find<QComboBox>("BaudRateBox")->setCurrentText(QStringLiteral("9600"));
        b.find<QPushButton>("btnAddDevice")->click();
        QCoreApplication::processEvents();
        QVERIFY(b.window->deviceRecords().isEmpty());
        emit b.window->startTimer();
        QTRY_COMPARE_WITH_TIMEOUT(b.window->deviceRecords().size(), 1, 3000);
    }

    void readParam()
    {
        WindowBench b;
        b.bus.addSensor(1, 9600, SensorType::Voltage);
        b.bus.updateSensor(1, [](sim::Sensor& s) { s.param.adc = 1111; });
        b.addByHand(1, 9600);
        DeviceVEL_DUO300* dev = const_cast<DeviceVEL_DUO300*>(&b.window->deviceRecords().at(0));
        b.bus.clearLog();
        QVERIFY(QMetaObject::invokeMethod(b.window.get(), "ReadParam", Qt::DirectConnection,
                                          Q_ARG(DeviceVEL_DUO300*, dev), Q_ARG(int, 3)));
        QCOMPARE(b.find<QLineEdit>("lineEditDiscret")->text(), QStringLiteral("1111"));
        QCOMPARE(requestsTo(b, rtu::Function::ReadCoils, 0).size(), 1);
        QCOMPARE(requestsTo(b, rtu::Function::ReadRegisters, 0).size(), 1);

        // A failed read clears the display.
        b.bus.setFault(1, rtu::Function::ReadRegisters,
                       {sim::Fault::Exception, int(rtu::Exception::RegisterError)});
        QVERIFY(QMetaObject::invokeMethod(b.window.get(), "ReadParam", Qt::DirectConnection,
                                          Q_ARG(DeviceVEL_DUO300*, dev), Q_ARG(int, 3)));
        QCOMPARE(requestsTo(b, rtu::Function::ReadRegisters, 0).size(), 1 + 3);
        QVERIFY(b.find<QLineEdit>("lineEditDiscret")->text().isEmpty());
        QVERIFY(b.find<QLineEdit>("lineEditVoltage")->text().isEmpty());
    }
};

QTEST_MAIN(TestPolling)
#include "tst_polling.moc"
