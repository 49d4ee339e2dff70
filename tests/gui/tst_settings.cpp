// Reading and writing a sensor's settings, changing its address and resetting it, through the
// real window against the simulated bus.
#include "sim/sensorlogic.h"
#include "support/windowbench.h"

#include <QAction>
#include <QComboBox>
#include <QLineEdit>
#include <QListWidget>
#include <QtTest>
#include <cstring>

namespace {

sim::Sensor named(quint8 addr, int baud, const QString& name)
{
    sim::Sensor sensor = sim::makeSensor(addr, baud, SensorType::Voltage);
    setNameText(sensor.ust, name);
    sealChecksum(sensor.ust);
    return sensor;
}

// The name the window reads at a place, with its row selected; the sensor is added by hand
// when the list does not hold it. Empty when nothing answers there.
QString nameReadAt(WindowBench& b, int addr, int baud)
{
    const auto row = [&] {
        const QVector<DeviceVEL_DUO300>& records = b.window->deviceRecords();
        for (int i = 0; i < records.size(); ++i)
            if (records[i].addr == addr && records[i].baudrate == baud)
                return i;
        return -1;
    };
    if (row() < 0)
        b.addByHand(addr, baud);
    b.find<QListWidget>("listWidgetDevices")->setCurrentRow(row());
    b.invoke("readUst");
    const DeviceVEL_DUO300& dev = b.window->deviceRecords().at(row());
    return dev.commError ? QString() : nameText(dev.ust);
}

} // namespace

class TestSettings : public QObject
{
    Q_OBJECT

private slots:
    void readFillsTheForm()
    {
        WindowBench b;
        b.bus.addSensor(1, 9600, SensorType::Voltage);
        b.bus.updateSensor(1, [](sim::Sensor& s) {
            // "Шина А" as a tool on Russian Windows writes it.
            const QByteArray name = QByteArray::fromHex("d8e8ede020c0");
            std::memcpy(s.ust.name, name.constData(), size_t(name.size()));
            s.ust.threshold = -250;
            s.ust.zeroAdc = 2000;
            s.ust.nomAdc = 3900;
            sealChecksum(s.ust);
        });
        b.addByHand(1, 9600);
        b.find<QLineEdit>("lineEditNameDevice")->clear();
        b.bus.clearLog();

        b.invoke("readUst");
        QCOMPARE(b.requests(rtu::Function::ReadRegisters).size(), 1);
        QCOMPARE(b.requests(rtu::Function::ReadRegisters).first().left(6).toHex(),
                 QByteArray("010301000014"));
        QCOMPARE(b.find<QLineEdit>("lineEditNameDevice")->text(), QStringLiteral("Шина А"));
        QCOMPARE(b.find<QComboBox>("comboBoxUstSpeed")->currentText(), QStringLiteral("9600"));
        QCOMPARE(b.find<QLineEdit>("lineEditUstThreshold")->text(), QStringLiteral("-250"));
        QCOMPARE(b.find<QLineEdit>("lineEditMin")->text(), QStringLiteral("2000"));
        QCOMPARE(b.find<QLineEdit>("lineEditMax")->text(), QStringLiteral("3900"));
        QVERIFY(b.find<QListWidget>("listWidgetDevices")
                    ->item(0)
                    ->text()
                    .startsWith(QStringLiteral("1\t9600\tШина А")));
        QCOMPARE(b.find<QListWidget>("listWidgetDevices")->currentRow(), 0);
    }

    void failedReadClearsTheForm()
    {
        WindowBench b;
        b.bus.addSensor(1, 9600, SensorType::Voltage);
        b.addByHand(1, 9600);
        QVERIFY(!b.find<QLineEdit>("lineEditUstThreshold")->text().isEmpty());
        b.bus.setFault(1, rtu::Function::ReadRegisters, {sim::Fault::Silence});
        b.invoke("readUst");
        QCOMPARE(b.requests(rtu::Function::ReadRegisters).size(), 1 + 3);
        QVERIFY(b.find<QLineEdit>("lineEditUstThreshold")->text().isEmpty());
        QCOMPARE(b.find<QComboBox>("comboBoxUstSpeed")->currentIndex(), -1);
        QVERIFY(b.window->deviceRecords().at(0).commError);
    }

    void speedWithoutMatchingItem()
    {
        WindowBench b;
        b.bus.addSensor(1, 9600, SensorType::Voltage);
        b.bus.updateSensor(1, [](sim::Sensor& s) {
            s.ust.speed = 1234;
            sealChecksum(s.ust);
        });
        b.addByHand(1, 9600);
        QCOMPARE(b.find<QComboBox>("comboBoxUstSpeed")->currentIndex(), -1);
        QVERIFY(!b.find<QLineEdit>("lineEditUstThreshold")->text().isEmpty());
    }

    void writeSendsTheForm_data()
    {
        QTest::addColumn<QString>("name");
        QTest::addColumn<QByteArray>("nameBytes");
        QTest::newRow("short name") << QStringLiteral("Линия 2")
                                    << QByteArray::fromHex("cbe8ede8ff2032") + QByteArray(9, '\0');
        QTest::newRow("16 Cyrillic letters")
            << QStringLiteral("Трансформатор Т1")
            << QByteArray::fromHex("d2f0e0edf1f4eef0ece0f2eef020d231");
        QTest::newRow("16 characters, no NUL")
            << QStringLiteral("ABCDEFGHIJKLMNOP") << QByteArray("ABCDEFGHIJKLMNOP");
        QTest::newRow("empty name clears it") << QString() << QByteArray(16, '\0');
    }

    void writeSendsTheForm()
    {
        QFETCH(QString, name);
        QFETCH(QByteArray, nameBytes);
        WindowBench b;
        b.bus.addSensor(1, 9600, SensorType::Voltage);
        b.addByHand(1, 9600);
        b.bus.clearLog();

        b.find<QLineEdit>("lineEditNameDevice")->setText(name);
        b.find<QComboBox>("comboBoxUstSpeed")->setCurrentIndex(4); // 9600
        b.find<QLineEdit>("lineEditUstThreshold")->setText(QStringLiteral("-1500"));
        b.invoke("writeUst");

        const QList<QByteArray> writes = b.requests(rtu::Function::WriteRegisters);
        QCOMPARE(writes.size(), 1);
        const QByteArray frame = writes.first();
        QCOMPARE(frame.size(), 48);
        QCOMPARE(frame.left(6).toHex(), QByteArray("011001000014"));
        const UstBlock sent = WindowBench::writtenBlock(frame);
        QCOMPARE(QByteArray(sent.name, 16), nameBytes);
        QCOMPARE(sent.speed, quint16(96));
        QCOMPARE(sent.threshold, qint16(-1500));
        QCOMPARE(sent.checksum, ustChecksum(sent));
        // The sensor took it: its own checksum rule accepted the block.
        QCOMPARE(b.bus.sensor(1).ust.threshold, qint16(-1500));
        QVERIFY(!b.window->deviceRecords().at(0).commError);

        b.find<QLineEdit>("lineEditNameDevice")->setText(QStringLiteral("x"));
        b.invoke("readUst");
        QCOMPARE(b.find<QLineEdit>("lineEditNameDevice")->text(), name);
    }

    void refusedFormIsNotWritten_data()
    {
        QTest::addColumn<bool>("speed");
        QTest::addColumn<QString>("threshold");
        QTest::addColumn<QString>("name");
        QTest::addColumn<QString>("text");
        const QString range = QStringLiteral(
            "Уставки не записаны: значение поля «Уставка температуры/напряжения, °С/В» должно "
            "быть от -30000 до 30000.");
        QTest::newRow("no speed")
            << false << QStringLiteral("100") << QString()
            << QStringLiteral("Уставки не записаны: не заполнено поле «Скорость Com порта».");
        QTest::newRow("no setpoint") << true << QString() << QString()
                                     << QStringLiteral("Уставки не записаны: не заполнено поле "
                                                       "«Уставка температуры/напряжения, °С/В».");
        QTest::newRow("setpoint 30001") << true << QStringLiteral("30001") << QString() << range;
        QTest::newRow("setpoint -30001") << true << QStringLiteral("-30001") << QString() << range;
        QTest::newRow("setpoint 99999") << true << QStringLiteral("99999") << QString() << range;
        QTest::newRow("setpoint only a sign") << true << QStringLiteral("-") << QString() << range;
        QTest::newRow("name outside Windows-1251")
            << true << QStringLiteral("100") << QStringLiteral("Müller Ж€")
            << QStringLiteral("Уставки не записаны: в поле «Название устройства» есть знаки, "
                              "которых нет в кодировке датчика (Windows-1251): ü.");
    }

    void refusedFormIsNotWritten()
    {
        QFETCH(bool, speed);
        QFETCH(QString, threshold);
        QFETCH(QString, name);
        QFETCH(QString, text);
        WindowBench b;
        b.bus.addSensor(1, 9600, SensorType::Voltage);
        b.addByHand(1, 9600);
        const UstBlock before = b.window->deviceRecords().at(0).ust;
        b.bus.clearLog();
        if (!speed)
            b.find<QComboBox>("comboBoxUstSpeed")->setCurrentIndex(-1);
        b.find<QLineEdit>("lineEditUstThreshold")->setText(threshold);
        b.find<QLineEdit>("lineEditNameDevice")->setText(name);
        b.invoke("writeUst");
        QVERIFY(b.bus.received().isEmpty());
        QCOMPARE(blockBytes(b.window->deviceRecords().at(0).ust), blockBytes(before));
        QCOMPARE(b.boxes.boxes().size(), 1);
        QCOMPARE(b.boxes.boxes().first().icon, QMessageBox::Warning);
        QCOMPARE(b.boxes.boxes().first().title, QStringLiteral("Запись уставок"));
        QCOMPARE(b.boxes.boxes().first().text, text);
    }

    void limitsOfTheSetpointAreWritten_data()
    {
        QTest::addColumn<int>("threshold");
        QTest::newRow("-30000") << -30000;
        QTest::newRow("30000") << 30000;
    }

    void limitsOfTheSetpointAreWritten()
    {
        QFETCH(int, threshold);
        WindowBench b;
        b.bus.addSensor(1, 9600, SensorType::Voltage);
        b.addByHand(1, 9600);
        b.find<QLineEdit>("lineEditUstThreshold")->setText(QString::number(threshold));
        b.invoke("writeUst");
        QVERIFY(b.boxes.boxes().isEmpty());
        QCOMPARE(b.bus.sensor(1).ust.threshold, qint16(threshold));
    }

    void newSpeedIsFollowed()
    {
        WindowBench b;
        b.bus.addSensor(1, 9600, SensorType::Voltage);
        b.addByHand(1, 9600);
        b.find<QComboBox>("comboBoxUstSpeed")->setCurrentText(QStringLiteral("19200"));
        b.invoke("writeUst");
        QCOMPARE(b.bus.sensor(1).baud, 19200);
        QCOMPARE(b.window->deviceRecords().at(0).baudrate, 19200);
        QVERIFY(b.find<QListWidget>("listWidgetDevices")->item(0)->text().startsWith("1\t19200"));

        b.bus.clearLog();
        b.find<QLineEdit>("lineEditMeasure")->clear();
        b.poll();
        const QList<sim::Received> log = b.bus.received();
        QVERIFY(!log.isEmpty());
        for (const sim::Received& r : log)
            QCOMPARE(r.baud, 19200);
        QVERIFY(!b.window->deviceRecords().at(0).commError);
        QVERIFY(!b.find<QLineEdit>("lineEditMeasure")->text().isEmpty());
    }

    void addressChange_data()
    {
        QTest::addColumn<QString>("entered");
        QTest::addColumn<bool>("occupiedByGarbage");
        QTest::addColumn<int>("answer");
        QTest::addColumn<QStringList>("texts");
        QTest::addColumn<int>("reads");
        QTest::addColumn<int>("writes");
        QTest::addColumn<int>("addrAfter");

        QTest::newRow("32 is out of range")
            << QStringLiteral("32") << false << int(QMessageBox::Ok)
            << QStringList{QStringLiteral(
                   "Введено недопустимое значение Адреса Modbus\nВведите значение от 1 до 31")}
            << 0 << 0 << 3;
        QTest::newRow("own address does nothing")
            << QStringLiteral("3") << false << int(QMessageBox::Ok) << QStringList() << 0 << 0 << 3;
        // The first answer of any kind ends the probing, and the refusal names what answered.
        QTest::newRow("occupied by a sensor")
            << QStringLiteral("4") << false << int(QMessageBox::Ok)
            << QStringList{QStringLiteral("В сети уже имеется устройство с адресом '4'\nАдрес 4 на "
                                          "скорости 9600 уже занят: там отвечает датчик без "
                                          "названия. Ничего не записано.")}
            << 1 << 0 << 3;
        QTest::newRow("occupied by garbage")
            << QStringLiteral("9") << true << int(QMessageBox::Ok)
            << QStringList{QStringLiteral("В сети уже имеется устройство с адресом '9'\nАдрес 9 на "
                                          "скорости 9600 уже занят: там отвечает устройство, чей "
                                          "ответ не принят (Неверная длина ответа). Ничего не "
                                          "записано.")}
            << 1 << 0 << 3;
        QTest::newRow("free, cancelled")
            << QStringLiteral("12") << false << int(QMessageBox::Cancel)
            << QStringList{QStringLiteral("Адрес устройства будет изменён с '3' на '12'")} << 3 << 0
            << 3;
        QTest::newRow("free, confirmed")
            << QStringLiteral("12") << false << int(QMessageBox::Ok)
            << QStringList{QStringLiteral("Адрес устройства будет изменён с '3' на '12'")} << 3 << 1
            << 12;
    }

    void addressChange()
    {
        QFETCH(QString, entered);
        QFETCH(bool, occupiedByGarbage);
        QFETCH(int, answer);
        QFETCH(QStringList, texts);
        QFETCH(int, reads);
        QFETCH(int, writes);
        QFETCH(int, addrAfter);

        WindowBench b;
        b.bus.addSensor(3, 9600, SensorType::Voltage);
        b.bus.addSensor(4, 9600, SensorType::Temperature);
        if (occupiedByGarbage) {
            // Something at address 9 answers with bytes that make no valid answer.
            b.bus.addSensor(9, 9600, SensorType::Temperature);
            b.bus.setFault(9, sim::everyFunction, {sim::Fault::Garbage, 7});
        }
        b.addByHand(3, 9600);
        b.bus.clearLog();

        b.find<QLineEdit>("lineEditAddrDevice")->setText(entered);
        b.boxes.answerNext(QMessageBox::StandardButton(answer));
        b.invoke("writeAddr");

        QStringList shown;
        for (const ModalAnswerer::Box& box : b.boxes.boxes()) {
            QCOMPARE(box.title, QStringLiteral("Программирование адреса"));
            QCOMPARE(box.icon, QMessageBox::Warning);
            shown << box.text;
        }
        QCOMPARE(shown, texts);
        QCOMPARE(b.requests(rtu::Function::ReadRegisters).size(), reads);
        const QList<QByteArray> written = b.requests(rtu::Function::WriteRegisters);
        QCOMPARE(written.size(), writes);
        QCOMPARE(b.window->deviceRecords().at(0).addr, addrAfter);
        if (writes) {
            // Sent to the old address, with the new one in the block.
            QCOMPARE(quint8(written.first().at(0)), quint8(3));
            QCOMPARE(WindowBench::writtenBlock(written.first()).mbAddr, quint16(12));
            QVERIFY(b.bus.hasSensor(12));
            QVERIFY(
                b.find<QListWidget>("listWidgetDevices")->item(0)->text().startsWith("12\t9600"));
        }
    }

    // A record whose settings read failed holds no image of the sensor's block: a write built
    // on it would send address 0, speed 0 and zero calibration points. The block is read
    // first, and without it nothing is written.
    void writeOverAnUnreadBlock_data()
    {
        QTest::addColumn<QString>("slot");
        QTest::addColumn<bool>("readAnswers");
        QTest::addColumn<QString>("title");
        QTest::addColumn<int>("reads"); // settings reads and address probes
        const QString address = QStringLiteral("Программирование адреса");
        const QString settings = QStringLiteral("Запись уставок");
        QTest::newRow("address change, read fails") << "writeAddr" << false << address << 3;
        QTest::newRow("address change, read answers") << "writeAddr" << true << address << 1 + 3;
        QTest::newRow("settings write, read fails") << "writeUst" << false << settings << 3;
        // The new speed is probed before the write.
        QTest::newRow("settings write, read answers") << "writeUst" << true << settings << 1 + 3;
    }

    void writeOverAnUnreadBlock()
    {
        QFETCH(QString, slot);
        QFETCH(bool, readAnswers);
        QFETCH(QString, title);
        QFETCH(int, reads);
        WindowBench b;
        b.bus.addSensor(3, 9600, SensorType::Voltage);
        b.bus.updateSensor(3, [](sim::Sensor& s) {
            setNameText(s.ust, QStringLiteral("Шина А"));
            s.ust.reserved[1] = 0x1234;
            s.ust.threshold = 250;
            s.ust.zeroAdc = 2010;
            s.ust.nomAdc = 3890;
            sealChecksum(s.ust);
        });
        const UstBlock stored = b.bus.sensor(3).ust;
        b.bus.setFault(3, rtu::Function::ReadRegisters, {sim::Fault::Silence});
        b.addByHand(3, 9600);
        QVERIFY(!b.window->deviceRecords().at(0).ustRead);
        if (readAnswers)
            b.bus.clearFaults();
        b.bus.clearLog();

        b.find<QLineEdit>("lineEditAddrDevice")->setText(QStringLiteral("12"));
        b.find<QLineEdit>("lineEditNameDevice")->setText(QStringLiteral("Линия 2"));
        b.find<QComboBox>("comboBoxUstSpeed")->setCurrentText(QStringLiteral("19200"));
        b.find<QLineEdit>("lineEditUstThreshold")->setText(QStringLiteral("-1500"));
        b.invoke(qPrintable(slot));

        // The sensor's own block is read first.
        const QList<sim::Received> log = b.bus.received();
        QVERIFY(!log.isEmpty());
        QCOMPARE(log.first().bytes.left(6).toHex(), QByteArray("030301000014"));
        QCOMPARE(b.requests(rtu::Function::ReadRegisters).size(), reads);
        const QList<QByteArray> written = b.requests(rtu::Function::WriteRegisters);
        if (!readAnswers) {
            QVERIFY(written.isEmpty());
            QCOMPARE(b.boxes.boxes().size(), 1);
            const ModalAnswerer::Box box = b.boxes.boxes().first();
            QCOMPARE(box.title, title);
            QCOMPARE(box.icon, QMessageBox::Warning);
            QCOMPARE(box.text,
                     QStringLiteral("Не удалось считать настройки датчика с адресом 3: ничего не "
                                    "записано."));
            QCOMPARE(b.window->deviceRecords().at(0).addr, 3);
            return;
        }
        // Only the intended change: the calibration points, the words the program does not
        // interpret and, for a settings write, the address are the sensor's.
        UstBlock expected = stored;
        if (slot == QLatin1String("writeAddr")) {
            expected.mbAddr = 12;
        } else {
            setNameText(expected, QStringLiteral("Линия 2"));
            expected.speed = 192;
            expected.threshold = -1500;
        }
        sealChecksum(expected);
        QCOMPARE(written.size(), 1);
        QCOMPARE(blockBytes(WindowBench::writtenBlock(written.first())).toHex(),
                 blockBytes(expected).toHex());
        QCOMPARE(blockBytes(b.bus.sensor(slot == QLatin1String("writeAddr") ? 12 : 3).ust).toHex(),
                 blockBytes(expected).toHex());
    }

    void failedAddressWriteKeepsTheAddress()
    {
        WindowBench b;
        b.bus.addSensor(3, 9600, SensorType::Voltage);
        b.addByHand(3, 9600);
        b.bus.setFault(3, rtu::Function::WriteRegisters,
                       {sim::Fault::Exception, int(rtu::Exception::FlashWriteError)});
        b.find<QLineEdit>("lineEditAddrDevice")->setText(QStringLiteral("12"));
        b.invoke("writeAddr");
        const DeviceVEL_DUO300 dev = b.window->deviceRecords().at(0);
        QCOMPARE(dev.addr, 3);
        QCOMPARE(dev.ust.mbAddr, quint16(3));
        QVERIFY(dev.commError);
    }

    void resetWritesTheDefaultBlockOnce_data()
    {
        QTest::addColumn<bool>("answers");
        QTest::newRow("sensor answers") << true;
        QTest::newRow("sensor silent: one attempt only") << false;
    }

    void resetWritesTheDefaultBlockOnce()
    {
        QFETCH(bool, answers);
        WindowBench b;
        b.bus.addSensor(3, 9600, SensorType::Voltage);
        b.addByHand(3, 9600);
        b.bus.clearLog();
        if (!answers)
            b.bus.setFault(3, rtu::Function::WriteRegisters, {sim::Fault::Silence});

        b.boxes.answerNext(QMessageBox::Ok);
        b.invoke("setDefault");

        QCOMPARE(b.boxes.boxes().size(), 1);
        QCOMPARE(b.boxes.boxes().first().title, QStringLiteral("Сброс настроек"));
        QCOMPARE(b.boxes.boxes().first().text,
                 QStringLiteral("Будут установлены настройки по умолчанию для датчика '3'"));
        const QList<QByteArray> written = b.requests(rtu::Function::WriteRegisters);
        QCOMPARE(written.size(), 1);
        QCOMPARE(written.first().mid(6, 40).toHex(), blockBytes(defaultUstBlock()).toHex());
        // The record keeps the address the program talks to it at.
        QCOMPARE(b.window->deviceRecords().at(0).addr, 3);
        QCOMPARE(b.window->deviceRecords().at(0).commError, !answers);
        QVERIFY(b.find<QListWidget>("listWidgetDevices")->isEnabled());
        // Where the sensor is to be found now.
        const QString whereNow = QStringLiteral(
            "Warning: Датчик с адресом 3 принял настройки по умолчанию: теперь он отвечает по "
            "адресу 1 на скорости 115200. Добавьте его с этими адресом и скоростью.");
        QCOMPARE(b.monitorText().contains(whereNow), answers);
    }

    void resetCancelledSendsNothing()
    {
        WindowBench b;
        b.bus.addSensor(3, 9600, SensorType::Voltage);
        b.addByHand(3, 9600);
        b.bus.clearLog();
        b.boxes.answerNext(QMessageBox::Cancel);
        b.invoke("setDefault");
        QCOMPARE(b.boxes.boxes().size(), 1);
        QVERIFY(b.bus.received().isEmpty());
    }

    // Every window action that moves a sensor, with another sensor where it would land: nothing
    // is written, the box names that sensor, and both still answer where they were.
    void moveOntoATakenPlace_data()
    {
        QTest::addColumn<QString>("slot");
        QTest::addColumn<int>("fromAddress");
        QTest::addColumn<int>("fromSpeed");
        QTest::addColumn<int>("toAddress");
        QTest::addColumn<int>("toSpeed");
        QTest::addColumn<QString>("title");

        QTest::newRow("address change")
            << "writeAddr" << 3 << 9600 << 5 << 9600 << QStringLiteral("Программирование адреса");
        QTest::newRow("settings write with a new speed")
            << "writeUst" << 3 << 9600 << 3 << 38400 << QStringLiteral("Запись уставок");
        // Free at the sensor's own speed, taken at the entry's.
        QTest::newRow("restore") << "restoreSensor" << 8 << 38400 << 1 << 115200
                                 << QStringLiteral("Восстановление датчика");
        QTest::newRow("reset") << "setDefault" << 3 << 9600 << 1 << 115200
                               << QStringLiteral("Сброс настроек");
    }

    void moveOntoATakenPlace()
    {
        QFETCH(QString, slot);
        QFETCH(int, fromAddress);
        QFETCH(int, fromSpeed);
        QFETCH(int, toAddress);
        QFETCH(int, toSpeed);
        QFETCH(QString, title);
        WindowBench b;
        b.bus.addSensor(named(quint8(fromAddress), fromSpeed, QStringLiteral("Ввод А")));
        b.bus.addSensor(named(quint8(toAddress), toSpeed, QStringLiteral("Ввод Б")));
        if (slot == QLatin1String("restoreSensor")) {
            // A line file whose only entry is where the other sensor answers.
            linefile::Line line;
            line.port = b.bus.slavePath();
            line.sensors = {linefile::fromBlocks(
                toAddress, toSpeed, named(quint8(toAddress), toSpeed, QStringLiteral("Ввод Б")).ust,
                ParamBlock{}, QDateTime::currentDateTime())};
            const QString path = b.dir.filePath("line.json");
            QCOMPARE(linefile::save(line, path), QString());
            b.window->chooseLineFile = [path](bool) { return path; };
            b.find<QAction>("actionOpenLine")->trigger();
        }
        b.addByHand(fromAddress, fromSpeed);
        b.boxes.clear();
        if (slot == QLatin1String("restoreSensor"))
            b.boxes.answerNextDialog([](QDialog* d) {
                d->findChild<QListWidget*>("entries")->setCurrentRow(0);
                d->accept();
            });
        b.find<QLineEdit>("lineEditAddrDevice")->setText(QString::number(toAddress));
        b.find<QComboBox>("comboBoxUstSpeed")->setCurrentText(QString::number(toSpeed));
        b.bus.clearLog();

        b.invoke(qPrintable(slot));

        // The reset's confirmation comes first.
        QCOMPARE(b.boxes.boxes().size(), slot == QLatin1String("setDefault") ? 2 : 1);
        const ModalAnswerer::Box box = b.boxes.boxes().last();
        QCOMPARE(box.title, title);
        QVERIFY2(box.text.contains(QStringLiteral("там отвечает датчик «Ввод Б»")),
                 qPrintable(box.text));
        QVERIFY(b.requests(rtu::Function::WriteRegisters).isEmpty());
        // Both answer where they were.
        QCOMPARE(nameReadAt(b, fromAddress, fromSpeed), QStringLiteral("Ввод А"));
        QCOMPARE(nameReadAt(b, toAddress, toSpeed), QStringLiteral("Ввод Б"));
    }

    // "Записать адрес" and "0В" over a settings block that comes damaged from every read: the box
    // says why, and nothing is written.
    void damagedBlockIsNotWrittenBack_data()
    {
        QTest::addColumn<QString>("slot");
        QTest::addColumn<QString>("title");
        QTest::newRow("address change") << "writeAddr" << QStringLiteral("Программирование адреса");
        QTest::newRow("zero point") << "on_BtnSetZero_clicked" << QStringLiteral("Запись уставок");
    }

    void damagedBlockIsNotWrittenBack()
    {
        QFETCH(QString, slot);
        QFETCH(QString, title);
        WindowBench b;
        b.bus.addSensor(5, 9600, SensorType::Voltage);
        // The stored block names a speed no sensor can have; its checksum is right.
        b.bus.updateSensor(5, [](sim::Sensor& s) {
            s.ust.speed = 97;
            sealChecksum(s.ust);
        });
        b.addByHand(5, 9600);
        b.bus.clearLog();
        b.find<QLineEdit>("lineEditAddrDevice")->setText(QStringLiteral("9"));

        b.invoke(qPrintable(slot));

        QCOMPARE(b.boxes.boxes().size(), 1);
        const ModalAnswerer::Box box = b.boxes.boxes().first();
        QCOMPARE(box.title, title);
        QCOMPARE(box.icon, QMessageBox::Warning);
        QCOMPARE(box.text, QStringLiteral("Настройки датчика с адресом 5 при каждом чтении "
                                          "приходят повреждёнными (в блоке скорость 9700, такой "
                                          "скорости у датчика нет): ничего не записано."));
        QVERIFY(b.requests(rtu::Function::WriteRegisters).isEmpty());
        QCOMPARE(b.bus.sensor(5).baud, 9600);
        QCOMPARE(b.window->deviceRecords().at(0).addr, 5);
    }

    // The list is kept when another port is chosen; a record's block came from the sensor of
    // the first port. A write that goes to the new port (the overview opened it there) must
    // stand on the block of the sensor there, whose calibration it would otherwise overwrite.
    void writeAfterAnotherPortIsChosen_data()
    {
        QTest::addColumn<QString>("slot");
        QTest::newRow("address change") << "writeAddr";
        QTest::newRow("zero point") << "on_BtnSetZero_clicked";
    }

    void writeAfterAnotherPortIsChosen()
    {
        QFETCH(QString, slot);
        WindowBench b;
        b.bus.addSensor(5, 9600, SensorType::Voltage);
        b.bus.updateSensor(5, [](sim::Sensor& s) {
            s.ust.zeroAdc = 111;
            s.ust.nomAdc = 2222;
            sealChecksum(s.ust);
        });
        sim::SensorBus other;
        QVERIFY(other.open());
        other.addSensor(5, 9600, SensorType::Voltage);
        other.updateSensor(5, [](sim::Sensor& s) {
            s.ust.zeroAdc = 333;
            s.ust.nomAdc = 4444;
            sealChecksum(s.ust);
        });
        b.addByHand(5, 9600);

        // The overview follows the port box, so the line is open on the new port by the time
        // the write goes out.
        b.find<QAction>("actionLineOverview")->trigger();
        QComboBox* ports = b.find<QComboBox>("PortNameBox");
        ports->addItem(other.slavePath());
        ports->setCurrentText(other.slavePath());
        QTRY_VERIFY(!other.received().isEmpty());
        b.find<QLineEdit>("lineEditAddrDevice")->setText(QStringLiteral("9"));
        b.boxes.answerNext(QMessageBox::Ok);
        b.invoke(qPrintable(slot));

        QVERIFY(b.requests(rtu::Function::WriteRegisters).isEmpty());
        QList<QByteArray> written;
        for (const sim::Received& r : other.received())
            if (r.bytes.size() > 1 &&
                quint8(r.bytes.at(1)) == rtu::code(rtu::Function::WriteRegisters))
                written << r.bytes;
        QCOMPARE(written.size(), 1);
        const UstBlock block = WindowBench::writtenBlock(written.first());
        QCOMPARE(block.nomAdc, quint16(4444));
        if (slot == QLatin1String("writeAddr"))
            QCOMPARE(block.zeroAdc, quint16(333));
        QCOMPARE(b.bus.sensor(5).ust.nomAdc, quint16(2222));
    }
};

QTEST_MAIN(TestSettings)
#include "tst_settings.moc"
