// The gate before every request, the record of each outcome and the window locks.
#include "support/windowbench.h"

#include <QComboBox>
#include <QListWidget>
#include <QPushButton>
#include <QStatusBar>
#include <QTabWidget>
#include <QTimer>
#include <QtTest>

Q_DECLARE_METATYPE(sim::Fault)

class TestHandshake : public QObject
{
    Q_OBJECT

private slots:
    void permission_data()
    {
        QTest::addColumn<bool>("listed");
        QTest::addColumn<int>("row");
        QTest::addColumn<bool>("portNamed");
        QTest::addColumn<bool>("permitted");
        QTest::newRow("empty list") << false << -1 << true << false;
        QTest::newRow("no current row") << true << -1 << true << false;
        QTest::newRow("no port name") << true << 0 << false << false;
        QTest::newRow("sensor selected, port named") << true << 0 << true << true;
    }

    void permission()
    {
        QFETCH(bool, listed);
        QFETCH(int, row);
        QFETCH(bool, portNamed);
        QFETCH(bool, permitted);
        WindowBench b;
        b.bus.addSensor(1, 9600, SensorType::Voltage);
        if (listed)
            b.addByHand(1, 9600);
        auto* list = b.find<QListWidget>("listWidgetDevices");
        list->setCurrentRow(row);
        if (!portNamed)
            b.find<QComboBox>("PortNameBox")->clear();
        b.bus.clearLog();

        bool result = !permitted;
        QVERIFY(QMetaObject::invokeMethod(b.window.get(), "permitCommunication",
                                          Qt::DirectConnection, Q_RETURN_ARG(bool, result)));
        QCOMPARE(result, permitted);

        // Reading, writing and a whole poll send nothing without permission.
        b.invoke("readUst");
        b.invoke("writeUst");
        for (int tick = 0; tick < 10; ++tick)
            b.invoke("slotSendTimerOut");
        QCOMPARE(b.bus.received().isEmpty(), !permitted);
    }

    void outcomeColoursTheCurrentRow_data()
    {
        QTest::addColumn<sim::Fault>("fault");
        QTest::addColumn<int>("value");
        QTest::addColumn<quint8>("coil");
        QTest::addColumn<QColor>("colour");
        QTest::addColumn<bool>("commError");
        QTest::addColumn<bool>("cmdRejected");
        QTest::newRow("error 1") << sim::Fault::Exception << int(rtu::Exception::UnknownCommand)
                                 << quint8(1) << QColor(0x1E90FF) << true << true;
        QTest::newRow("error 6") << sim::Fault::Silence << 0 << quint8(1) << QColor(0xC0C0C0)
                                 << true << false;
        QTest::newRow("error 3") << sim::Fault::Exception
                                 << int(rtu::Exception::RegisterAddressError) << quint8(1)
                                 << QColor(0xC0C0C0) << true << false;
        QTest::newRow("coil set") << sim::Fault::None << 0 << quint8(1) << QColor(0xFF9980) << false
                                  << false;
        QTest::newRow("coil clear")
            << sim::Fault::None << 0 << quint8(0) << QColor(0xFFFFFF) << false << false;
    }

    void outcomeColoursTheCurrentRow()
    {
        QFETCH(sim::Fault, fault);
        QFETCH(int, value);
        QFETCH(quint8, coil);
        QFETCH(QColor, colour);
        QFETCH(bool, commError);
        QFETCH(bool, cmdRejected);
        WindowBench b;
        b.bus.addSensor(1, 9600, SensorType::Voltage);
        b.bus.updateSensor(1, [coil](sim::Sensor& s) { s.coil = coil; });
        b.addByHand(1, 9600);
        b.bus.setFault(1, rtu::Function::ReadCoils, {fault, value});

        b.invoke("readCoil");
        const DeviceVEL_DUO300 dev = b.window->deviceRecords().at(0);
        QCOMPARE(b.find<QListWidget>("listWidgetDevices")->currentItem()->background().color(),
                 colour);
        QCOMPARE(dev.commError, commError);
        QCOMPARE(dev.cmdRejected, cmdRejected);
        // A failed coil read clears the status byte; a good one keeps the four answer bytes
        // from index 3, 0 where the six-byte answer has none.
        QCOMPARE(dev.coil[0], commError ? quint8(0) : coil);
        if (!commError)
            QCOMPARE(dev.coil[3], quint8(0));
    }

    void rejectionLastsUntilTheNextExchange()
    {
        WindowBench b;
        b.bus.addSensor(1, 9600, SensorType::Voltage);
        b.addByHand(1, 9600);
        b.bus.setFault(1, rtu::Function::ReadCoils,
                       {sim::Fault::Exception, int(rtu::Exception::UnknownCommand), 1});
        b.invoke("readCoil");
        QVERIFY(b.window->deviceRecords().at(0).cmdRejected);
        b.invoke("readCoil");
        QVERIFY(!b.window->deviceRecords().at(0).cmdRejected);
        QVERIFY(!b.window->deviceRecords().at(0).commError);
    }

    void locks_data()
    {
        QTest::addColumn<QByteArray>("disable");
        QTest::addColumn<QByteArray>("enable");
        QTest::addColumn<bool>("statusShown");
        QTest::addColumn<bool>("wholeTabs");
        QTest::newRow("all views") << QByteArray("DisableAllViewAction")
                                   << QByteArray("EnableAllViewAction") << true << false;
        QTest::newRow("search") << QByteArray("DisableAllViewAction2")
                                << QByteArray("EnableAllViewAction2") << true << true;
        QTest::newRow("reset") << QByteArray("DisableAllViewAction3")
                               << QByteArray("EnableAllViewAction3") << false << true;
    }

    void locks()
    {
        QFETCH(QByteArray, disable);
        QFETCH(QByteArray, enable);
        QFETCH(bool, statusShown);
        QFETCH(bool, wholeTabs);
        WindowBench b;
        QTimer* timer = b.pollTimer();
        emit b.window->startTimer();
        auto* status = b.find<QStatusBar>("statusBar");
        auto* tabs = b.find<QTabWidget>("tabWidget");
        const QList<QWidget*> locked{b.find<QWidget>("listWidgetDevices"),
                                     b.find<QWidget>("groupBox_9"), b.find<QWidget>("groupBox_10")};

        b.invoke(disable.constData());
        QVERIFY(!timer->isActive());
        QCOMPARE(!status->isHidden(), statusShown);
        for (QWidget* w : locked)
            QVERIFY2(!w->isEnabled(), qPrintable(w->objectName()));
        if (wholeTabs) {
            QVERIFY(!tabs->isEnabled());
        } else {
            QVERIFY(tabs->isEnabled());
            QVERIFY(tabs->isTabEnabled(0) && !tabs->isTabEnabled(1) && !tabs->isTabEnabled(2));
            for (const char* name : {"groupBox_3", "groupBox_4", "groupBox", "groupBox_7",
                                     "groupBox_8", "BtnAutoSearch"})
                QVERIFY2(!b.find<QWidget>(name)->isEnabled(), name);
        }

        b.invoke(enable.constData());
        QVERIFY(timer->isActive());
        QVERIFY(status->isHidden());
        for (QWidget* w : locked)
            QVERIFY(w->isEnabled());
        QVERIFY(tabs->isEnabled() && tabs->isTabEnabled(1) && tabs->isTabEnabled(2));
    }

    void resetLockLeavesAShownStatusBar()
    {
        WindowBench b;
        b.invoke("DisableAllViewAction2");
        b.invoke("DisableAllViewAction3");
        QVERIFY(!b.find<QStatusBar>("statusBar")->isHidden());
        b.invoke("EnableAllViewAction3");
        QVERIFY(!b.find<QStatusBar>("statusBar")->isHidden());
    }
};

QTEST_MAIN(TestHandshake)
#include "tst_handshake.moc"
