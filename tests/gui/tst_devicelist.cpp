// The list of known sensors: adding by hand, removing, selecting.
#include "core/link/lineclient.h"
#include "support/windowbench.h"

#include <QComboBox>
#include <QLineEdit>
#include <QListWidget>
#include <QPlainTextEdit>
#include <QPushButton>
#include <QStyledItemDelegate>
#include <QtTest>

namespace {

QStringList rowTexts(const WindowBench& b)
{
    QStringList texts;
    auto* list = b.find<QListWidget>("listWidgetDevices");
    for (int i = 0; i < list->count(); ++i)
        texts << list->item(i)->text().section(QLatin1Char('\t'), 0, 1);
    return texts;
}

const char* const sensorButtons[] = {"BtnReadUst", "BtnWriteUst", "BtnReprog2",   "BtnSetZero",
                                     "BtnSetNom",  "BtnRmDevice", "BtnWriteAddr", "BtnSetDefault"};

} // namespace

class TestDeviceList : public QObject
{
    Q_OBJECT

private slots:
    void duplicates()
    {
        WindowBench b;
        b.bus.addSensor(5, 9600, SensorType::Voltage);
        b.bus.addSensor(5, 19200, SensorType::Temperature);
        b.addByHand(5, 9600);
        b.bus.clearLog();
        b.addByHand(5, 9600);
        QCOMPARE(rowTexts(b), QStringList{"5\t9600"});
        QVERIFY(b.bus.received().isEmpty()); // a duplicate is dropped before any exchange
        b.addByHand(5, 19200);
        QCOMPARE(rowTexts(b), (QStringList{"5\t9600", "5\t19200"}));
        QCOMPARE(b.find<QListWidget>("listWidgetDevices")->currentRow(), 1);
    }

    void silentSensorGetsAGreyRow_data()
    {
        QTest::addColumn<QString>("field");
        QTest::addColumn<QString>("text");
        QTest::newRow("address 7") << QStringLiteral("7") << QStringLiteral("7\t9600");
        QTest::newRow("address 32, the highest")
            << QStringLiteral("32") << QStringLiteral("32\t9600");
    }

    void silentSensorGetsAGreyRow()
    {
        QFETCH(QString, field);
        QFETCH(QString, text);
        WindowBench b;
        b.find<QLineEdit>("lineEditAddrMB")->setText(field);
        b.find<QComboBox>("BaudRateBox")->setCurrentText(QStringLiteral("9600"));
        b.invoke("btnAddDevice");
        auto* list = b.find<QListWidget>("listWidgetDevices");
        QCOMPARE(list->count(), 1);
        QCOMPARE(list->item(0)->text(), text);
        QCOMPARE(list->item(0)->background().color(), QColor(192, 192, 192));
        QVERIFY(b.window->deviceRecords().at(0).commError);
        QCOMPARE(b.requests(rtu::Function::ReadRegisters).size(), 2); // two attempts
    }

    void addressOutsideTheRangeIsRefused_data()
    {
        QTest::addColumn<QString>("field");
        QTest::newRow("empty field") << QString();
        QTest::newRow("0, the broadcast address") << QStringLiteral("0");
        QTest::newRow("33") << QStringLiteral("33");
        QTest::newRow("99") << QStringLiteral("99");
    }

    void addressOutsideTheRangeIsRefused()
    {
        QFETCH(QString, field);
        WindowBench b;
        b.find<QLineEdit>("lineEditAddrMB")->setText(field);
        b.find<QComboBox>("BaudRateBox")->setCurrentText(QStringLiteral("9600"));
        b.invoke("btnAddDevice");
        QVERIFY(b.window->deviceRecords().isEmpty());
        QCOMPARE(b.find<QListWidget>("listWidgetDevices")->count(), 0);
        QVERIFY(b.bus.received().isEmpty());
        QCOMPARE(b.boxes.boxes().size(), 1);
        const ModalAnswerer::Box box = b.boxes.boxes().first();
        QCOMPARE(box.icon, QMessageBox::Warning);
        QCOMPARE(box.title, QStringLiteral("Добавление устройства"));
        QCOMPARE(box.text, QStringLiteral("Введено недопустимое значение Адреса Modbus\nВведите "
                                          "значение от 1 до 32"));
    }

    // Enter in the address field does what "Добавить устройство" does, a refusal included.
    void enterAdds_data()
    {
        QTest::addColumn<int>("key");
        QTest::addColumn<QString>("field");
        QTest::addColumn<QStringList>("rows");
        QTest::addColumn<int>("boxes");
        QTest::newRow("Return") << int(Qt::Key_Return) << QStringLiteral("5")
                                << QStringList{"5\t9600"} << 0;
        QTest::newRow("Enter of the keypad")
            << int(Qt::Key_Enter) << QStringLiteral("5") << QStringList{"5\t9600"} << 0;
        QTest::newRow("0 is refused")
            << int(Qt::Key_Return) << QStringLiteral("0") << QStringList() << 1;
    }

    void enterAdds()
    {
        QFETCH(int, key);
        QFETCH(QString, field);
        QFETCH(QStringList, rows);
        QFETCH(int, boxes);
        WindowBench b;
        b.bus.addSensor(5, 9600, SensorType::Voltage);
        auto* addr = b.find<QLineEdit>("lineEditAddrMB");
        addr->setText(field);
        b.find<QComboBox>("BaudRateBox")->setCurrentText(QStringLiteral("9600"));

        QTest::keyClick(addr, Qt::Key(key));
        b.invoke("slotSendTimerOut"); // the tick that serves the request

        QCOMPARE(rowTexts(b), rows);
        QCOMPARE(b.boxes.boxes().size(), boxes);
        if (boxes)
            QCOMPARE(b.boxes.boxes().first().title, QStringLiteral("Добавление устройства"));
        else
            QVERIFY(!b.window->deviceRecords().first().commError);
    }

    void answeringSensorShowsItsName()
    {
        WindowBench b;
        b.bus.addSensor(3, 38400, SensorType::Temperature);
        b.bus.updateSensor(3, [](sim::Sensor& s) {
            setNameText(s.ust, QStringLiteral("T-3"));
            sealChecksum(s.ust);
        });
        b.addByHand(3, 38400);
        auto* item = b.find<QListWidget>("listWidgetDevices")->item(0);
        QCOMPARE(item->text(), QStringLiteral("3\t38400\tT-3") + QString(13, QChar(0)));
        // The padding of the name field is not drawn.
        auto* delegate = qobject_cast<QStyledItemDelegate*>(
            b.find<QListWidget>("listWidgetDevices")->itemDelegate());
        QVERIFY(delegate);
        QCOMPARE(delegate->displayText(item->data(Qt::DisplayRole), QLocale()),
                 QStringLiteral("3\t38400\tT-3"));
        for (const char* name : sensorButtons)
            QVERIFY2(b.find<QPushButton>(name)->isEnabled(), name);
    }

    void removal_data()
    {
        QTest::addColumn<int>("count");
        QTest::addColumn<int>("removed");
        QTest::addColumn<QStringList>("left");
        QTest::addColumn<int>("current");
        QTest::newRow("the only one") << 1 << 0 << QStringList() << -1;
        QTest::newRow("a middle one selects row 0")
            << 3 << 1 << QStringList{"1\t9600", "3\t9600"} << 0;
        QTest::newRow("the last one") << 3 << 2 << QStringList{"1\t9600", "2\t9600"} << 0;
    }

    void removal()
    {
        QFETCH(int, count);
        QFETCH(int, removed);
        QFETCH(QStringList, left);
        QFETCH(int, current);
        WindowBench b;
        for (int addr = 1; addr <= count; ++addr) {
            b.bus.addSensor(quint8(addr), 9600, SensorType::Voltage);
            b.addByHand(addr, 9600);
        }
        auto* list = b.find<QListWidget>("listWidgetDevices");
        list->setCurrentRow(removed);

        b.find<QPushButton>("BtnRmDevice")->click();
        QCOMPARE(list->count(), count); // only a request until the next tick
        b.invoke("slotSendTimerOut");

        QCOMPARE(rowTexts(b), left);
        QCOMPARE(b.window->deviceRecords().size(), left.size());
        QCOMPARE(list->currentRow(), current);
        if (left.isEmpty()) {
            for (const char* name : sensorButtons)
                QVERIFY2(!b.find<QPushButton>(name)->isEnabled(), name);
            for (const char* name :
                 {"lineEditNameDevice", "lineEditUstThreshold", "lineEditMeasure",
                  "lineEditVersion", "lineEditWorkTime", "lineEditVoltage"})
                QVERIFY2(b.find<QLineEdit>(name)->text().isEmpty(), name);
            QCOMPARE(b.find<QComboBox>("comboBoxUstSpeed")->currentIndex(), -1);
        }
    }

    void removeThenAddInOneTick()
    {
        WindowBench b;
        b.bus.addSensor(1, 9600, SensorType::Voltage);
        b.bus.addSensor(2, 9600, SensorType::Voltage);
        b.addByHand(1, 9600);
        b.find<QLineEdit>("lineEditAddrMB")->setText(QStringLiteral("2"));
        b.find<QPushButton>("BtnRmDevice")->click();
        b.find<QPushButton>("btnAddDevice")->click();
        b.invoke("slotSendTimerOut");
        QCOMPARE(rowTexts(b), QStringList{"2\t9600"});
    }

    void calibrationGroupFollowsTheSelection()
    {
        WindowBench b;
        b.bus.addSensor(1, 9600, SensorType::Temperature);
        b.bus.addSensor(2, 9600, SensorType::Voltage);
        b.addByHand(1, 9600);
        b.poll();
        b.addByHand(2, 9600);
        b.poll();
        auto* list = b.find<QListWidget>("listWidgetDevices");
        auto* calibration = b.find<QWidget>("groupBox_11");
        list->setCurrentRow(0);
        QVERIFY(calibration->isHidden());
        list->setCurrentRow(1);
        QVERIFY(!calibration->isHidden());
    }

    // The port is closed and opened again as often as the selected sensor changes: by the
    // user, also at the same speed, or by an addition or a removal; rebuilding the list around
    // the same record leaves it alone.
    void portReopensWhenTheSelectionChanges_data()
    {
        QTest::addColumn<bool>("twoKnown"); // sensors 1 and 2 at 9600 Bd added first
        QTest::addColumn<QString>("action");
        QTest::addColumn<int>("sequences");

        QTest::newRow("first addition") << false << "add" << 1;
        QTest::newRow("another addition") << true << "add" << 1;
        QTest::newRow("settings read") << true << "readUst" << 0;
        QTest::newRow("settings write") << true << "writeUst" << 0;
        QTest::newRow("address change") << true << "writeAddr" << 0;
        QTest::newRow("user selects another row at the same speed") << true << "row 0" << 1;
        QTest::newRow("user selects one row, then another") << true << "row 0, row 1" << 2;
        QTest::newRow("removal") << true << "remove" << 1;
    }

    void portReopensWhenTheSelectionChanges()
    {
        QFETCH(bool, twoKnown);
        QFETCH(QString, action);
        QFETCH(int, sequences);
        WindowBench b;
        QStringList steps;
        QObject::connect(b.window->findChild<LineClient*>(), &LineClient::disconnectPort,
                         [&steps] { steps << "close"; });
        QObject::connect(
            b.window->findChild<LineClient*>(), &LineClient::savesettings,
            [&steps](QString, int rate, int, int, int, int) { steps << QString::number(rate); });
        QObject::connect(b.window->findChild<LineClient*>(), &LineClient::connectPort,
                         [&steps] { steps << "open"; });
        for (quint8 addr : {1, 2, 3})
            b.bus.addSensor(addr, 9600, SensorType::Voltage);
        if (twoKnown) {
            b.addByHand(1, 9600);
            b.addByHand(2, 9600);
        }
        const int stepsBefore = steps.size();

        auto* list = b.find<QListWidget>("listWidgetDevices");
        if (action == "add") {
            b.addByHand(3, 9600);
        } else if (action == "remove") {
            b.find<QPushButton>("BtnRmDevice")->click();
            b.invoke("slotSendTimerOut");
        } else if (action.startsWith("row")) {
            for (const QString& row : action.split(", "))
                list->setCurrentRow(row.section(' ', 1).toInt());
        } else {
            b.find<QLineEdit>("lineEditAddrDevice")->setText(QStringLiteral("5"));
            b.invoke(qPrintable(action));
        }

        QStringList expected;
        for (int i = 0; i < sequences; ++i)
            expected << "close"
                     << "9600"
                     << "open";
        QCOMPARE(steps.mid(stepsBefore), expected);
        // The monitor shows every port event that happened, and only those: each open, and
        // each close but the very first, which found the port closed. They come from the
        // worker's thread.
        const int opens = steps.count("open");
        QTRY_COMPARE_WITH_TIMEOUT(b.monitorText().count(QStringLiteral("Открыт!")), opens, 2000);
        QTRY_COMPARE_WITH_TIMEOUT(b.monitorText().count(QStringLiteral("Закрыт!")), opens - 1,
                                  2000);
        // The exchange went through, with the port open at the selected sensor's speed.
        QVERIFY(list->currentRow() >= 0);
        QVERIFY(!b.window->deviceRecords().at(list->currentRow()).commError);
    }

    void actionDuringAWaitRunsAfterIt()
    {
        WindowBench b;
        b.bus.addSensor(1, 9600, SensorType::Voltage);
        b.addByHand(1, 9600);
        b.bus.setFault(1, rtu::Function::ReadRegisters, {sim::Fault::Silence});
        b.bus.clearLog();

        emit b.window->startTimer();
        QTRY_COMPARE_WITH_TIMEOUT(b.requests(rtu::Function::ReadRegisters).size(), 1, 3000);
        // "Считать" during the poll's wait: it must not take the poll's answer.
        b.find<QPushButton>("BtnReadUst")->click();
        QTRY_COMPARE_WITH_TIMEOUT(b.requests(rtu::Function::ReadRegisters).size(), 1 + 3, 5000);
        emit b.window->stopTimer();

        const QList<sim::Received> log = b.bus.received();
        QCOMPARE(quint8(log.at(0).bytes.at(1)),
                 rtu::code(rtu::Function::ReadRegisters)); // poll: parameters
        QCOMPARE(quint8(log.at(1).bytes.at(1)), rtu::code(rtu::Function::ReadCoils)); // poll: coil
        QCOMPARE(log.at(2).bytes.left(4).toHex(), QByteArray("01030100")); // then the read
        QVERIFY2(b.exchangesInTurn(), "exchanges overlapped");
    }
};

QTEST_MAIN(TestDeviceList)
#include "tst_devicelist.moc"
