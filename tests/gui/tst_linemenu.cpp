// The "Файл" menu through its actions, against the simulated bus: a line saved and opened,
// compared with its sensors, an entry put onto a sensor, bad files and places, Cancel, and what
// the window remembers for the next run.
#include "core/link/lineclient.h"
#include "core/ops/linepoller.h"
#include "support/windowbench.h"

#include <QAction>
#include <QCheckBox>
#include <QComboBox>
#include <QDialogButtonBox>
#include <QFile>
#include <QLineEdit>
#include <QListWidget>
#include <QMenu>
#include <QPushButton>
#include <QStatusBar>
#include <QTableWidget>
#include <QtTest>
#include <cstring>

namespace {

void setName(sim::Sensor& s, const QString& name)
{
    setNameText(s.ust, name);
    sealChecksum(s.ust);
}

// The window with its file dialog answered by path.
void choose(WindowBench& b, const QString& path)
{
    b.window->chooseLineFile = [path](bool) { return path; };
}

void trigger(WindowBench& b, const char* action)
{
    b.find<QAction>(action)->trigger();
}

QStringList tableRows(QDialog* dialog, const char* name)
{
    QStringList rows;
    auto* table = dialog->findChild<QTableWidget*>(QLatin1String(name));
    for (int r = 0; table && r < table->rowCount(); ++r) {
        QStringList cells;
        for (int c = 0; c < table->columnCount(); ++c)
            cells << table->item(r, c)->text();
        rows << cells.join(" | ");
    }
    return rows;
}

QStringList listTexts(const QListWidget* list)
{
    QStringList texts;
    for (int i = 0; i < list->count(); ++i)
        texts << list->item(i)->text().section('\t', 0, 1);
    return texts;
}

// Three sensors listed: two that answer, and one at 38400 that no longer does.
void listThree(WindowBench& b)
{
    b.bus.addSensor(1, 9600, SensorType::Voltage);
    b.bus.updateSensor(1, [](sim::Sensor& s) { setName(s, QStringLiteral("Шина А")); });
    b.bus.addSensor(2, 9600, SensorType::Temperature);
    b.bus.addSensor(3, 38400, SensorType::Voltage);
    b.addByHand(1, 9600);
    b.addByHand(2, 9600);
    b.addByHand(3, 38400);
    b.bus.setFault(3, sim::everyFunction, {sim::Fault::Silence});
}

// The entry a restore's file keeps for a sensor that answered.
linefile::Sensor readEntry(int addr, int baud, quint16 type, const QString& name)
{
    UstBlock ust = defaultUstBlock();
    ust.mbAddr = quint16(addr);
    ust.speed = quint16(baud / 100);
    setNameText(ust, name);
    sealChecksum(ust);
    ParamBlock param{};
    param.sensorType = type;
    return linefile::fromBlocks(addr, baud, ust, param, QDateTime::currentDateTime());
}

} // namespace

class TestLineMenu : public QObject
{
    Q_OBJECT

private slots:
    void saveAndOpenRoundTrip()
    {
        WindowBench b;
        listThree(b);
        const QString path = b.dir.filePath("line.json");
        choose(b, path);
        trigger(b, "actionSaveLine");

        const linefile::ReadResult saved = linefile::readFile(path, linefile::Mode::File);
        QVERIFY2(saved.ok(), qPrintable(saved.refusal));
        QCOMPARE(saved.line.port, b.bus.slavePath());
        QCOMPARE(saved.line.sensors.size(), 3);
        QCOMPARE(*saved.line.sensors[0].name, QStringLiteral("Шина А"));
        QVERIFY(saved.line.sensors[0].readAt.isValid());
        QCOMPARE(*saved.line.sensors[1].type, 1);
        QVERIFY(!saved.line.sensors[2].answered);
        QCOMPARE(saved.line.sensors[2].address, 3);
        QCOMPARE(saved.line.sensors[2].speed, 38400);
        QVERIFY(b.boxes.boxes().last().text.contains(QStringLiteral("Не ответили")));
        QVERIFY(b.boxes.boxes().last().text.contains(QStringLiteral("3@38400")));
        QVERIFY(b.exchangesInTurn());

        // Open over a list the user keeps, then over one the user gives up.
        auto* list = b.find<QListWidget>("listWidgetDevices");
        b.boxes.clear();
        b.find<QPushButton>("BtnRmDevice")->click();
        b.invoke("slotSendTimerOut");
        QCOMPARE(list->count(), 2);
        b.boxes.answerNext(QMessageBox::No);
        trigger(b, "actionOpenLine");
        QCOMPARE(list->count(), 2);
        b.boxes.answerNext(QMessageBox::Yes);
        trigger(b, "actionOpenLine");
        QCOMPARE(b.boxes.boxes().size(), 2);
        QCOMPARE(listTexts(list), (QStringList{"1\t9600", "2\t9600", "3\t38400"}));
        QCOMPARE(list->currentRow(), -1);
        QVERIFY(b.find<QLineEdit>("lineEditNameDevice")->text().isEmpty());

        // The form is filled from the sensor, not from the file.
        b.bus.updateSensor(1, [](sim::Sensor& s) { setName(s, QStringLiteral("Шина Н")); });
        list->setCurrentRow(0);
        QVERIFY(b.find<QLineEdit>("lineEditNameDevice")->text().isEmpty());
        b.poll();
        QCOMPARE(b.find<QLineEdit>("lineEditNameDevice")->text(), QStringLiteral("Шина Н"));
    }

    void compare_data()
    {
        QTest::addColumn<bool>("change");
        QTest::addColumn<QStringList>("rows"); // empty: the box that says all agree
        QTest::newRow("one changed field")
            << true << QStringList{"1@9600 «Шина А» | Уставка | 100 | 250"};
        QTest::newRow("none changed") << false << QStringList();
    }

    void compare()
    {
        QFETCH(bool, change);
        QFETCH(QStringList, rows);
        WindowBench b;
        b.bus.addSensor(1, 9600, SensorType::Voltage);
        b.bus.updateSensor(1, [](sim::Sensor& s) { setName(s, QStringLiteral("Шина А")); });
        b.bus.addSensor(2, 9600, SensorType::Temperature);
        b.addByHand(1, 9600);
        b.addByHand(2, 9600);
        QVERIFY(!b.find<QAction>("actionCompareLine")->isEnabled());
        choose(b, b.dir.filePath("line.json"));
        trigger(b, "actionSaveLine");
        QVERIFY(b.find<QAction>("actionCompareLine")->isEnabled());
        if (change)
            b.bus.updateSensor(1, [](sim::Sensor& s) {
                s.ust.threshold = 250;
                sealChecksum(s.ust);
            });
        b.boxes.clear();

        QStringList shown;
        b.boxes.answerNextDialog([&](QDialog* d) { shown = tableRows(d, "differences"); });
        trigger(b, "actionCompareLine");
        QCOMPARE(shown, rows);
        if (rows.isEmpty()) {
            QCOMPARE(b.boxes.dialogs(), QStringList());
            QCOMPARE(b.boxes.boxes().size(), 1);
            QVERIFY(b.boxes.boxes().first().text.startsWith(QStringLiteral("Все датчики")));
        } else {
            QCOMPARE(b.boxes.dialogs(), QStringList{"compareDialog"});
        }
    }

    void planOpensAsALine()
    {
        WindowBench b;
        b.bus.addSensor(3, 9600, SensorType::Voltage);
        b.bus.updateSensor(3, [](sim::Sensor& s) {
            setName(s, QStringLiteral("Ввод 3"));
            s.ust.threshold = 250;
            sealChecksum(s.ust);
        });
        b.bus.addSensor(4, 38400, SensorType::Temperature);
        b.bus.updateSensor(4, [](sim::Sensor& s) {
            setName(s, QStringLiteral("Ввод 4"));
            s.ust.threshold = 100;
            sealChecksum(s.ust);
        });
        // What commissioning is to make of them: no port, no types, no calibration points.
        const QString path = b.dir.filePath("plan.json");
        {
            QFile f(path);
            QVERIFY(f.open(QIODevice::WriteOnly));
            f.write(R"({"format": "velduo-line", "version": 1, "sensors": [
                {"address": 3, "speed": 9600, "name": "Ввод 3", "setpoint": -40,
                 "calibrate": ["zero"]},
                {"address": 4, "speed": 38400, "name": "Ввод 4", "setpoint": 100}]})");
        }
        choose(b, path);
        trigger(b, "actionOpenLine");
        QCOMPARE(b.boxes.boxes().size(), 0);
        QCOMPARE(listTexts(b.find<QListWidget>("listWidgetDevices")),
                 (QStringList{"3\t9600", "4\t38400"}));
        QCOMPARE(b.find<QComboBox>("PortNameBox")->currentText(), b.bus.slavePath());

        // Compared by what the plan holds only.
        QStringList shown;
        b.boxes.answerNextDialog([&](QDialog* d) { shown = tableRows(d, "differences"); });
        trigger(b, "actionCompareLine");
        QCOMPARE(shown, QStringList{"3@9600 «Ввод 3» | Уставка | -40 | 250"});
    }

    void restore_data()
    {
        QTest::addColumn<bool>("calibration");
        QTest::addColumn<int>("changes"); // rows the dialog shows
        QTest::addColumn<int>("zeroAdc");
        QTest::addColumn<int>("nomAdc");
        // A replacement keeps the calibration of its own hardware.
        QTest::newRow("factory sensor replaces a failed one") << false << 4 << 1500 << 3500;
        QTest::newRow("same sensor after a reset, calibration too") << true << 6 << 2000 << 3900;
    }

    void restore()
    {
        QFETCH(bool, calibration);
        QFETCH(int, changes);
        QFETCH(int, zeroAdc);
        QFETCH(int, nomAdc);
        WindowBench b;
        // The file holds the sensor that was at 5@9600; it no longer answers.
        UstBlock ust = defaultUstBlock();
        ust.mbAddr = 5;
        ust.speed = 96;
        setNameText(ust, QStringLiteral("Шина Б"));
        ust.threshold = 120;
        ust.zeroAdc = 2000;
        ust.nomAdc = 3900;
        sealChecksum(ust);
        ParamBlock param{};
        param.sensorType = 2;
        std::strncpy(param.version, "VEL-1.0.2", sizeof param.version);
        const linefile::Sensor kept =
            linefile::fromBlocks(5, 9600, ust, param, QDateTime::currentDateTime());
        linefile::Line line;
        line.port = b.bus.slavePath();
        line.sensors = {kept};
        const QString path = b.dir.filePath("line.json");
        QCOMPARE(linefile::save(line, path), QString());
        choose(b, path);
        trigger(b, "actionOpenLine");

        // In its place a sensor with the factory settings and its own calibration.
        b.bus.addSensor(1, 115200, SensorType::Voltage);
        b.bus.updateSensor(1, [](sim::Sensor& s) {
            s.ust.zeroAdc = 1500;
            s.ust.nomAdc = 3500;
            sealChecksum(s.ust);
        });
        b.addByHand(1, 115200);
        auto* list = b.find<QListWidget>("listWidgetDevices");
        QCOMPARE(list->currentRow(), 1);
        b.boxes.clear();

        int shown = -1;
        b.boxes.answerNextDialog([&](QDialog* d) {
            d->findChild<QListWidget*>("entries")->setCurrentRow(0);
            d->findChild<QCheckBox*>("calibration")->setChecked(calibration);
            shown = tableRows(d, "changes").size();
            d->accept();
        });
        trigger(b, "actionRestoreSensor");
        QCOMPARE(shown, changes);

        const sim::Sensor now = b.bus.sensor(5);
        QVERIFY(b.bus.hasSensor(5));
        QCOMPARE(int(now.ust.mbAddr), 5);
        QCOMPARE(int(now.ust.speed), 96);
        QCOMPARE(nameText(now.ust), QStringLiteral("Шина Б"));
        QCOMPARE(int(now.ust.threshold), 120);
        QCOMPARE(int(now.ust.zeroAdc), zeroAdc);
        QCOMPARE(int(now.ust.nomAdc), nomAdc);
        // No box but the last: the address change is part of what was confirmed.
        QCOMPARE(b.boxes.boxes().size(), 1);
        QCOMPARE(b.boxes.boxes().last().text,
                 QStringLiteral("Датчик совпадает с записью 5@9600 «Шина Б»."));
        // The replacement takes the failed sensor's row.
        QCOMPARE(listTexts(list), QStringList{"5\t9600"});
        QCOMPARE(list->currentRow(), 0);
        QVERIFY(b.exchangesInTurn());
    }

    void restoreWaitsForADeliberateChoice_data()
    {
        QTest::addColumn<int>("addr"); // of the selected sensor, at 38400
        QTest::addColumn<QString>("preselected");
        QTest::newRow("the sensor's own entry, not the first")
            << 8 << QStringLiteral("8@38400 «Ввод 8», датчик температуры");
        QTest::newRow("no entry of its own") << 9 << QString();
    }

    void restoreWaitsForADeliberateChoice()
    {
        QFETCH(int, addr);
        QFETCH(QString, preselected);
        WindowBench b;
        linefile::Sensor unread;
        unread.address = 3;
        unread.speed = 9600;
        unread.answered = false;
        linefile::Line line;
        line.port = b.bus.slavePath();
        line.sensors = {readEntry(1, 115200, 2, QStringLiteral("Ввод 1")), unread,
                        readEntry(8, 38400, 1, QStringLiteral("Ввод 8"))};
        const QString path = b.dir.filePath("line.json");
        QCOMPARE(linefile::save(line, path), QString());
        // The restore asks for the file itself.
        choose(b, path);
        b.bus.addSensor(quint8(addr), 38400, SensorType::Temperature);
        b.addByHand(addr, 38400);
        b.bus.clearLog();
        b.boxes.clear();

        QStringList texts;
        QStringList chosen;
        bool writable = false;
        bool open = true;
        b.boxes.answerNextDialog([&](QDialog* d) {
            auto* entries = d->findChild<QListWidget*>("entries");
            texts = listTexts(entries);
            for (QListWidgetItem* item : entries->selectedItems())
                chosen << item->text();
            writable = d->findChild<QDialogButtonBox*>()->button(QDialogButtonBox::Ok)->isEnabled();
            // Enter, as a user in a hurry presses it.
            entries->setFocus();
            QTest::keyClick(entries, Qt::Key_Return);
            open = d->isVisible();
        });
        trigger(b, "actionRestoreSensor");

        QCOMPARE(texts, (QStringList{"1@115200 «Ввод 1», датчик напряжения", "3@9600",
                                     "8@38400 «Ввод 8», датчик температуры"}));
        QCOMPARE(chosen, preselected.isEmpty() ? QStringList() : QStringList{preselected});
        QCOMPARE(writable, !preselected.isEmpty());
        QVERIFY(!open);
        // Only the settings read that the dialog's changes were worked out from.
        QCOMPARE(b.requests(rtu::Function::WriteRegisters).size(), 0);
        QCOMPARE(b.bus.received().size(), 1);
        QVERIFY(b.bus.hasSensor(quint8(addr)));
        QCOMPARE(int(b.bus.sensor(quint8(addr)).ust.mbAddr), addr);
        QVERIFY(b.boxes.boxes().isEmpty());
    }

    void withTheOverviewOpen_data()
    {
        QTest::addColumn<QString>("action");
        // The last box's text (%1 the file), or the rows of the comparison.
        QTest::addColumn<QString>("shown");
        QTest::newRow("restore") << "actionRestoreSensor"
                                 << "Датчик совпадает с записью 1@9600 «Шина А».";
        QTest::newRow("compare") << "actionCompareLine"
                                 << "1@9600 «Шина А» | Уставка | 100 | 250";
        QTest::newRow("save") << "actionSaveLine"
                              << "Линия сохранена в файл «%1»: датчиков 2.";
    }

    void withTheOverviewOpen()
    {
        QFETCH(QString, action);
        QFETCH(QString, shown);
        WindowBench b;
        b.bus.addSensor(1, 9600, SensorType::Voltage);
        b.bus.updateSensor(1, [](sim::Sensor& s) { setName(s, QStringLiteral("Шина А")); });
        b.bus.addSensor(2, 38400, SensorType::Temperature);
        b.addByHand(1, 9600);
        b.addByHand(2, 38400);
        const QString path = b.dir.filePath("line.json");
        choose(b, path);
        trigger(b, "actionSaveLine");
        b.bus.updateSensor(1, [](sim::Sensor& s) {
            s.ust.threshold = 250;
            sealChecksum(s.ust);
        });
        auto* list = b.find<QListWidget>("listWidgetDevices");
        list->setCurrentRow(0);
        b.bus.clearLog();
        b.boxes.clear();

        // Between two rounds of the overview, each ending at 38400, the action on the sensor
        // at 9600.
        trigger(b, "actionLineOverview");
        auto* poller = b.window->findChild<LinePoller*>();
        QVERIFY(poller);
        QStringList rows;
        b.boxes.answerNextDialog([&](QDialog* d) {
            if (d->objectName() == QLatin1String("restoreDialog"))
                d->findChild<QDialogButtonBox*>()->button(QDialogButtonBox::Ok)->click();
            else
                rows = tableRows(d, "differences");
        });
        bool triggered = false;
        connect(
            poller, &LinePoller::roundDone, b.window.get(),
            [&] {
                if (triggered)
                    return;
                triggered = true;
                QCOMPARE(b.window->findChild<LineClient*>()->baudrate(), 38400);
                // Saved again under the same name: it is to be replaced.
                if (action == QLatin1String("actionSaveLine"))
                    b.boxes.answerNext(QMessageBox::Yes);
                trigger(b, action.toLatin1().constData());
            },
            Qt::QueuedConnection);
        // The action may have waited for the poller's exchange in flight.
        QTRY_VERIFY_WITH_TIMEOUT(!b.boxes.boxes().isEmpty() || !rows.isEmpty(), 20000);
        poller->stop();

        if (action == QLatin1String("actionCompareLine"))
            QCOMPARE(rows.join(QLatin1Char('\n')), shown);
        else
            QCOMPARE(b.boxes.boxes().last().text,
                     shown.contains(QLatin1String("%1")) ? shown.arg(path) : shown);
        // Every request went to its sensor at the sensor's speed.
        for (const sim::Received& r : b.bus.received())
            QCOMPARE(r.baud, quint8(r.bytes.at(0)) == 1 ? 9600 : 38400);
        QVERIFY(b.exchangesInTurn());
        if (action == QLatin1String("actionRestoreSensor"))
            QCOMPARE(int(b.bus.sensor(1).ust.threshold), 100);
    }

    void badFilesAndPlaces_data()
    {
        QTest::addColumn<QString>("action");
        QTest::addColumn<QByteArray>("contents"); // of the file opened, or the old file
        QTest::addColumn<QString>("where");       // relative to the scratch directory
        QTest::addColumn<QStringList>("named");   // what the box names

        QTest::newRow("not JSON") << "actionOpenLine" << QByteArray("{\"format\": ") << "line.json"
                                  << QStringList{"JSON"};
        QTest::newRow("entry without its speed")
            << "actionOpenLine"
            << QByteArray("{\"format\": \"velduo-line\", \"version\": 1, \"port\": \"p\", "
                          "\"sensors\": [{\"address\": 7}]}")
            << "line.json" << QStringList{"Запись 1 (адрес 7)", "\"speed\""};
        QTest::newRow("entry with a name too long")
            << "actionOpenLine"
            << QByteArray("{\"format\": \"velduo-line\", \"version\": 1, \"port\": \"p\", "
                          "\"sensors\": [{\"address\": 7, \"speed\": 9600, "
                          "\"answered\": false}, {\"address\": 8, \"speed\": 9600, "
                          "\"type\": 2, \"name\": \"abcdefghijklmnopq\"}]}")
            << "line.json" << QStringList{"Запись 2 (адрес 8)", "\"name\""};
        QTest::newRow("save under a regular file")
            << "actionSaveLine" << QByteArray("old contents\n") << "line.json/line.json"
            << QStringList{"Не удалось сохранить", "line.json/line.json"};
    }

    void badFilesAndPlaces()
    {
        QFETCH(QString, action);
        QFETCH(QByteArray, contents);
        QFETCH(QString, where);
        QFETCH(QStringList, named);
        WindowBench b;
        b.bus.addSensor(1, 9600, SensorType::Voltage);
        b.addByHand(1, 9600);
        const QString file = b.dir.filePath("line.json");
        {
            QFile f(file);
            QVERIFY(f.open(QIODevice::WriteOnly));
            f.write(contents);
        }
        choose(b, b.dir.filePath(where));
        b.boxes.clear();
        trigger(b, action.toLatin1().constData());

        QCOMPARE(b.boxes.boxes().size(), 1);
        for (const QString& part : named)
            QVERIFY2(b.boxes.boxes().first().text.contains(part),
                     qPrintable(b.boxes.boxes().first().text));
        // Nothing changes: the list, the file, the files the menu offers.
        QCOMPARE(listTexts(b.find<QListWidget>("listWidgetDevices")), QStringList{"1\t9600"});
        QFile f(file);
        QVERIFY(f.open(QIODevice::ReadOnly));
        QCOMPARE(f.readAll(), contents);
        QVERIFY(!b.find<QAction>("actionCompareLine")->isEnabled());
        QCOMPARE(b.find<QMenu>("menuFile")->actions().size(), 8);
    }

    void savedNameEndsInJson_data()
    {
        QTest::addColumn<QString>("typed");
        QTest::addColumn<QString>("saved");
        QTest::addColumn<QByteArray>("before"); // the saved name's contents before; empty: none
        QTest::addColumn<int>("answer");        // to the question whether to replace it
        QTest::newRow("typed without") << "line31"
                                       << "line31.json" << QByteArray() << 0;
        QTest::newRow("typed with") << "line31.json"
                                    << "line31.json" << QByteArray() << 0;
        QTest::newRow("in capitals") << "LINE31.JSON"
                                     << "LINE31.JSON" << QByteArray() << 0;
        QTest::newRow("a dot in the name") << "line.v2"
                                           << "line.v2.json" << QByteArray() << 0;
        QTest::newRow("over a file, replaced")
            << "line31"
            << "line31.json" << QByteArray("old\n") << int(QMessageBox::Yes);
        QTest::newRow("over a file, kept")
            << "line31"
            << "line31.json" << QByteArray("old\n") << int(QMessageBox::No);
    }

    void savedNameEndsInJson()
    {
        QFETCH(QString, typed);
        QFETCH(QString, saved);
        QFETCH(QByteArray, before);
        QFETCH(int, answer);
        WindowBench b;
        b.bus.addSensor(1, 9600, SensorType::Voltage);
        b.addByHand(1, 9600);
        const QString path = b.dir.filePath(saved);
        if (!before.isEmpty()) {
            QFile f(path);
            QVERIFY(f.open(QIODevice::WriteOnly));
            f.write(before);
        }
        choose(b, b.dir.filePath(typed));
        b.boxes.clear();
        if (answer)
            b.boxes.answerNext(QMessageBox::StandardButton(answer));
        trigger(b, "actionSaveLine");

        const QList<ModalAnswerer::Box> boxes = b.boxes.boxes();
        QVERIFY(!boxes.isEmpty());
        // The question, when there is one, names the file that would be replaced.
        QCOMPARE(
            boxes.first().text.startsWith(QStringLiteral("Файл «%1» уже существует").arg(path)),
            !before.isEmpty());
        const bool written = before.isEmpty() || answer == QMessageBox::Yes;
        QCOMPARE(
            boxes.last().text.startsWith(QStringLiteral("Линия сохранена в файл «%1»").arg(path)),
            written);
        if (written) {
            const linefile::ReadResult read = linefile::readFile(path, linefile::Mode::File);
            QVERIFY2(read.ok(), qPrintable(read.refusal));
            QCOMPARE(read.line.sensors.size(), 1);
        } else {
            QFile f(path);
            QVERIFY(f.open(QIODevice::ReadOnly));
            QCOMPARE(f.readAll(), before);
            QCOMPARE(boxes.size(), 1);
        }
        QCOMPARE(QDir(b.dir.path())
                     .entryList({QStringLiteral("*31*"), QStringLiteral("*.v2*")}, QDir::Files),
                 QStringList{saved});
    }

    void cancelDuringSaveWritesNothing()
    {
        WindowBench b;
        listThree(b);
        b.bus.setFault(1, sim::everyFunction, {sim::Fault::Delay, 300});
        const QString path = b.dir.filePath("line.json");
        choose(b, path);
        b.bus.clearLog();
        QPushButton* cancel = nullptr;
        for (QPushButton* button : b.find<QStatusBar>("statusBar")->findChildren<QPushButton*>())
            if (button->text() == QStringLiteral("Отмена"))
                cancel = button;
        QVERIFY(cancel);
        // Clicked while the first sensor's answer is awaited.
        QTimer clicker;
        QObject::connect(&clicker, &QTimer::timeout, [&] {
            if (!b.bus.received().isEmpty() && !b.find<QMenu>("menuFile")->isEnabled()) {
                clicker.stop();
                cancel->click();
            }
        });
        clicker.start(5);
        b.boxes.clear();
        trigger(b, "actionSaveLine");

        QVERIFY(!clicker.isActive());
        QVERIFY(!QFile::exists(path));
        QCOMPARE(b.boxes.boxes().size(), 1);
        QVERIFY(b.boxes.boxes().first().text.startsWith(QStringLiteral("Сохранение остановлено")));
        // The sensors after the first were not read; the window is free again.
        for (const sim::Received& r : b.bus.received())
            QCOMPARE(int(quint8(r.bytes.at(0))), 1);
        QVERIFY(b.find<QMenu>("menuFile")->isEnabled());
        QVERIFY(b.find<QListWidget>("listWidgetDevices")->isEnabled());
    }

    void rememberedForTheNextRun()
    {
        WindowBench b;
        b.bus.addSensor(1, 9600, SensorType::Voltage);
        b.addByHand(1, 9600);
        const QString path = b.dir.filePath("line.json");
        choose(b, path);
        trigger(b, "actionSaveLine");
        b.window->move(40, 50);
        b.window->resize(b.window->size() + QSize(30, 20));
        const QRect place = b.window->geometry();
        b.window.reset();

        // Another port stands first in the list now; the bus's is still there.
        qputenv("VEL_DUO300_EXTRA_PORTS", ("ttyS99:" + b.bus.slavePath()).toLocal8Bit());
        b.window = std::make_unique<MainWindow>();
        emit b.window->stopTimer();
        QCOMPARE(b.find<QComboBox>("PortNameBox")->currentText(), b.bus.slavePath());
        QCOMPARE(b.window->size(), place.size());
        // Where the frame goes is the platform's affair: within a few pixels.
        QVERIFY((b.window->pos() - place.topLeft()).manhattanLength() <= 8);
        QCOMPARE(b.find<QListWidget>("listWidgetDevices")->count(), 0);
        QAction* recent = nullptr;
        for (QAction* a : b.find<QMenu>("menuFile")->actions())
            if (a->data().toString() == path)
                recent = a;
        QVERIFY(recent);
        QCOMPARE(recent->text(), QStringLiteral("line.json"));
        recent->trigger();
        QCOMPARE(listTexts(b.find<QListWidget>("listWidgetDevices")), QStringList{"1\t9600"});
    }
};

QTEST_MAIN(TestLineMenu)
#include "tst_linemenu.moc"
