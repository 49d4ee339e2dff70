// Firmware reprogramming: the image and its writes, and the whole procedure through the real
// window against a simulated sensor and its loader.
#include "codec/firmwareimage.h"
#include "core/ops/confirmation.h"
#include "support/windowbench.h"

#include <QDateTime>
#include <QDir>
#include <QListWidget>
#include <QProgressBar>
#include <QPushButton>
#include <QStatusBar>
#include <QtTest/qtestspontaneevent.h>
#include <QtTest>

Q_DECLARE_METATYPE(sim::FaultSpec)

namespace {

const QString imageName = QStringLiteral("VEL_DUO300.bin");

// Bytes that differ from word to word and within each word, so that a wrong byte order, a
// dropped or a repeated byte changes the checksum.
QByteArray testImage(int size)
{
    QByteArray bytes(size, '\0');
    for (int i = 0; i < size; ++i)
        bytes[i] = char((i * 7 + 13) ^ (i >> 8));
    return bytes;
}

// The image with its last word, where the checksum goes, left blank as a build leaves it.
QByteArray blankTail(QByteArray image)
{
    return image.replace(image.size() - 4, 4, QByteArray(4, char(0xFF)));
}

// ~(sum of little-endian 32-bit words), written out byte by byte.
quint32 referenceChecksum(const QByteArray& padded)
{
    quint32 sum = 0;
    for (int i = 0; i + 3 < padded.size(); i += 4)
        sum += quint32(quint8(padded[i])) | quint32(quint8(padded[i + 1])) << 8 |
               quint32(quint8(padded[i + 2])) << 16 | quint32(quint8(padded[i + 3])) << 24;
    return ~sum;
}

QByteArray littleEndian(quint32 word)
{
    QByteArray bytes;
    for (int i = 0; i < 4; ++i)
        bytes.append(char(word >> (8 * i)));
    return bytes;
}

void writeFile(const QString& path, const QByteArray& bytes)
{
    QFile file(path);
    QVERIFY(file.open(QIODevice::WriteOnly));
    QCOMPARE(file.write(bytes), qint64(bytes.size()));
}

// A request as a short word: function code, and the register or the erase range.
QString describe(const QByteArray& frame)
{
    const quint8 function = quint8(frame.at(1));
    QString text = QString::number(function, 16).rightJustified(2, QLatin1Char('0'));
    if (function == rtu::code(rtu::Function::ReadRegisters) ||
        function == rtu::code(rtu::Function::WriteRegisters) ||
        function == rtu::code(rtu::Function::ErasePages))
        text += QLatin1Char(' ') + QString::fromLatin1(frame.mid(2, 2).toHex());
    return text;
}

QStringList describeAll(const sim::SensorBus& bus)
{
    QStringList requests;
    for (const sim::Received& r : bus.received())
        requests << describe(r.bytes);
    return requests;
}

const QStringList uploadOf1001Bytes = {QStringLiteral("10 1400"), QStringLiteral("10 14c0"),
                                       QStringLiteral("10 1580"), QStringLiteral("10 1640"),
                                       QStringLiteral("10 1700"), QStringLiteral("10 17c0"),
                                       QStringLiteral("10 3bfc")};

// What the window showed when a message box came up.
class BoxMoment : public QObject
{
public:
    explicit BoxMoment(WindowBench& bench) : b(bench) { qApp->installEventFilter(this); }
    ~BoxMoment() override { qApp->removeEventFilter(this); }

    struct State
    {
        QString title;
        int progress;
        int maximum;
        bool listEnabled;
        bool cancelVisible;
    };
    QList<State> seen;

protected:
    bool eventFilter(QObject* watched, QEvent* event) override
    {
        if (auto* box = qobject_cast<QMessageBox*>(watched); box && event->type() == QEvent::Show) {
            auto* bar = b.window->findChild<QProgressBar*>();
            seen.append({box->windowTitle(), bar->value(), bar->maximum(),
                         b.find<QListWidget>("listWidgetDevices")->isEnabled(),
                         !cancelButton()->isHidden()});
        }
        return QObject::eventFilter(watched, event);
    }

public:
    QPushButton* cancelButton() const
    {
        for (QPushButton* button : b.window->findChildren<QPushButton*>())
            if (button->text() == QStringLiteral("Отмена"))
                return button;
        qFatal("no cancel button");
    }

private:
    WindowBench& b;
};

QStringList boxTexts(const WindowBench& b)
{
    QStringList texts;
    for (const ModalAnswerer::Box& box : b.boxes.boxes())
        texts << box.title + QStringLiteral(": ") + box.text;
    return texts;
}

// Every upload is confirmed first: the tests that run one answer Yes.
void confirmUpload(WindowBench& b)
{
    b.boxes.answerNext(QMessageBox::Yes);
}

// The boxes of an upload after its confirmation, which must have come first.
QStringList boxTextsAfterConfirmation(const WindowBench& b)
{
    QStringList texts = boxTexts(b);
    if (texts.isEmpty() || !texts.first().startsWith(QStringLiteral("Перепрограммирование: ")))
        return QStringList{QStringLiteral("(no confirmation first)")} + texts;
    texts.removeFirst();
    return texts;
}

void verifyUnlocked(WindowBench& b)
{
    QVERIFY(b.find<QListWidget>("listWidgetDevices")->isEnabled());
    QVERIFY(b.find<QWidget>("tabWidget")->isEnabled());
    QVERIFY(b.find<QWidget>("groupBox_9")->isEnabled());
    QVERIFY(b.find<QStatusBar>("statusBar")->isHidden());
}

// A sensor at address 1, 115200 Bd, selected, with the image file in the working directory.
void prepare(WindowBench& b, const QByteArray& image)
{
    b.bus.addSensor(1, 115200, SensorType::Voltage);
    b.addByHand(1, 115200);
    QCOMPARE(b.find<QListWidget>("listWidgetDevices")->currentRow(), 0);
    writeFile(QDir::current().filePath(imageName), image);
    b.bus.clearLog();
}

// Runs action once the bus has received a chunk write at this register, while the window's
// upload goes on.
class AtChunk : public QObject
{
public:
    AtChunk(const sim::SensorBus& bus, quint16 reg, std::function<void()> action)
        : bus(bus), reg(reg), action(std::move(action))
    {
        startTimer(5);
    }

protected:
    void timerEvent(QTimerEvent* event) override
    {
        for (const sim::Received& r : bus.received()) {
            if (r.bytes.size() > 4 &&
                quint8(r.bytes[1]) == rtu::code(rtu::Function::WriteRegisters) &&
                quint16(quint8(r.bytes[2]) << 8 | quint8(r.bytes[3])) == reg) {
                killTimer(event->timerId());
                action();
                return;
            }
        }
    }

private:
    const sim::SensorBus& bus;
    quint16 reg;
    std::function<void()> action;
};

} // namespace

class TestReprog : public QObject
{
    Q_OBJECT

private slots:
    void uploadPlan_data()
    {
        QTest::addColumn<int>("size");
        QTest::addColumn<bool>("blank"); // the last word blank
        QTest::addColumn<int>("padding");
        QTest::addColumn<int>("chunks");
        // The last chunks as register address : register count.
        QTest::addColumn<QString>("layoutEnd");

        QTest::newRow("1000 bytes: five of 192, one of 40")
            << 1000 << false << 0 << 6
            << QStringLiteral("1400:96 14c0:96 1580:96 1640:96 1700:96 17c0:20");
        QTest::newRow("1001 bytes padded to 1004")
            << 1001 << false << 3 << 6 << QStringLiteral("17c0:22");
        QTest::newRow("1002 bytes padded to 1004")
            << 1002 << false << 2 << 6 << QStringLiteral("17c0:22");
        QTest::newRow("one byte padded to a word")
            << 1 << false << 3 << 1 << QStringLiteral("1400:2");
        QTest::newRow("one whole chunk") << 192 << false << 0 << 1 << QStringLiteral("1400:96");
        // Its blank last word is sent as it is; the checksum goes there after it.
        QTest::newRow("10240 bytes fill the area")
            << 10240 << true << 0 << 54 << QStringLiteral("3b00:96 3bc0:32");
    }

    void uploadPlan()
    {
        QFETCH(int, size);
        QFETCH(bool, blank);
        QFETCH(int, padding);
        QFETCH(int, chunks);
        QFETCH(QString, layoutEnd);
        const QByteArray image = blank ? blankTail(testImage(size)) : testImage(size);
        const QByteArray padded = image + QByteArray(padding, char(0xFF));

        const firmware::UploadPlan plan = firmware::uploadPlan(image);
        QCOMPARE(plan.chunks.size(), chunks);
        QStringList layout;
        QByteArray sent;
        int nextAddr = 0x1400;
        for (const firmware::FlashWrite& chunk : plan.chunks) {
            layout << QStringLiteral("%1:%2").arg(chunk.regAddr, 0, 16).arg(chunk.regCount);
            QCOMPARE(int(chunk.regAddr), nextAddr);
            QCOMPARE(chunk.bytes.size(), 2 * chunk.regCount);
            QVERIFY(chunk.bytes.size() <= 192);
            nextAddr += chunk.bytes.size();
            sent += chunk.bytes;
        }
        QVERIFY2(layout.join(QLatin1Char(' ')).endsWith(layoutEnd), qPrintable(layout.join(' ')));
        QCOMPARE(sent, padded);

        QCOMPARE(plan.checksum, referenceChecksum(padded));
        QCOMPARE(int(plan.checksumWrite.regAddr), 0x3BFC);
        QCOMPARE(int(plan.checksumWrite.regCount), 2);
        QCOMPARE(plan.checksumWrite.bytes, littleEndian(referenceChecksum(padded)));
    }

    void imageFile_data()
    {
        QTest::addColumn<QString>("name");
        QTest::addColumn<int>("size");   // -1: no such file, -2: a folder of that name
        QTest::addColumn<bool>("blank"); // the last word blank
        QTest::addColumn<QString>("refusal");

        const QString underChecksum = QStringLiteral(
            "Файл VEL_DUO300.bin занимает слово контрольной суммы: байты 10236–10239 образа "
            "(адрес 0x3BFC, последние 4 байта области приложения) должны быть пустыми (0xFF), "
            "туда записывается контрольная сумма образа.");
        QTest::newRow("10236 bytes end before the checksum word")
            << imageName << 10236 << false << QString();
        QTest::newRow("10240 bytes with a blank checksum word")
            << imageName << 10240 << true << QString();
        QTest::newRow("10240 bytes with data under the checksum word")
            << imageName << 10240 << false << underChecksum;
        QTest::newRow("10237 bytes, one under the checksum word")
            << imageName << 10237 << false << underChecksum;
        QTest::newRow("10241 bytes are refused")
            << imageName << 10241 << false
            << QStringLiteral(
                   "Файл VEL_DUO300.bin слишком велик: 10241 байт, допустимо не более 10240 байт.");
        QTest::newRow("far too large")
            << imageName << 70000 << false
            << QStringLiteral(
                   "Файл VEL_DUO300.bin слишком велик: 70000 байт, допустимо не более 10240 байт.");
        QTest::newRow("empty") << imageName << 0 << false
                               << QStringLiteral("Файл VEL_DUO300.bin пуст.");
        QTest::newRow("missing") << imageName << -1 << false
                                 << QStringLiteral("VEL_DUO300.bin файла не существует.");
        QTest::newRow("cannot be opened")
            << imageName << -2 << false << QStringLiteral("Ошибка открытия файла VEL_DUO300.bin");
        QTest::newRow("no name") << QString() << -1 << false
                                 << QStringLiteral("Выберите файл для перепрошивки.");
    }

    void imageFile()
    {
        QFETCH(QString, name);
        QFETCH(int, size);
        QFETCH(bool, blank);
        QFETCH(QString, refusal);
        QTemporaryDir dir;
        const QString previous = QDir::currentPath();
        QDir::setCurrent(dir.path());
        const QByteArray image = blank ? blankTail(testImage(size)) : testImage(qMax(size, 0));
        if (size >= 0)
            writeFile(name, image);
        else if (size == -2)
            QVERIFY(QDir().mkdir(name));

        const firmware::ImageFile file = firmware::readImageFile(name);
        QDir::setCurrent(previous);
        QCOMPARE(file.refusal, refusal);
        QCOMPARE(file.bytes, refusal.isEmpty() ? image : QByteArray());
    }

    void fullRun()
    {
        WindowBench b;
        const QByteArray image = testImage(1001);
        prepare(b, image);
        BoxMoment moment(b);
        // Polling runs until the procedure starts, and stays stopped while it runs.
        emit b.window->startTimer();

        confirmUpload(b);
        b.invoke("Reprog");

        const QStringList expected =
            QStringList{QStringLiteral("03 0100"), QStringLiteral("10 0100"), QStringLiteral("40"),
                        QStringLiteral("11 050a")} +
            uploadOf1001Bytes + QStringList{QStringLiteral("41")};
        QCOMPARE(describeAll(b.bus), expected);
        const QList<sim::Received> received = b.bus.received();
        // The loader code went with an otherwise valid settings block.
        UstBlock block{};
        copyFromAnswer(&block, int(sizeof block), received.at(1).bytes, 6);
        QCOMPARE(block.loaderCode, regmap::loaderRequest);
        QCOMPARE(block.checksum, ustChecksum(block));
        // The sensor had a second to restart into its loader before the erase.
        QVERIFY2(received.at(3).atMs - received.at(2).atMs >= 990,
                 qPrintable(QString::number(received.at(3).atMs - received.at(2).atMs)));

        const sim::Sensor sensor = b.bus.sensor(1);
        QVERIFY(!sensor.inLoader);
        const QByteArray padded = image + QByteArray(3, char(0xFF));
        QCOMPARE(sensor.flash.left(padded.size()), padded);
        QCOMPARE(sensor.flash.mid(padded.size(), 0x3BFC - 0x1400 - padded.size()),
                 QByteArray(0x3BFC - 0x1400 - padded.size(), char(0xFF)));
        QCOMPARE(sensor.flash.right(4), littleEndian(referenceChecksum(padded)));

        QCOMPARE(boxTextsAfterConfirmation(b),
                 QStringList{
                     QStringLiteral("Готово: Перепрограммирование устройства успешно завершено")});
        QCOMPARE(b.boxes.boxes().last().icon, QMessageBox::Information);
        // Complete and still locked when the box came up, with no cancel to offer.
        QCOMPARE(moment.seen.size(), 2);
        QVERIFY(moment.seen.last().maximum > 0);
        QCOMPARE(moment.seen.last().progress, moment.seen.last().maximum);
        QVERIFY(!moment.seen.last().listEnabled);
        QVERIFY(!moment.seen.last().cancelVisible);

        verifyUnlocked(b);
        QVERIFY(!moment.cancelButton()->isHidden());
        QVERIFY(!b.window->deviceRecords().first().commError);
        // A later settings write does not carry the loader request back to the sensor.
        b.invoke("writeUst");
        UstBlock written{};
        copyFromAnswer(&written, int(sizeof written),
                       b.requests(rtu::Function::WriteRegisters).last(), 6);
        QCOMPARE(written.loaderCode, quint32(0));
        QVERIFY(!b.window->deviceRecords().first().commError);
        // Polling resumes.
        b.bus.clearLog();
        QTRY_VERIFY_WITH_TIMEOUT(!b.requests(rtu::Function::ReadRegisters).isEmpty(), 5000);
    }

    void sensorInItsLoaderStartsAtTheErase()
    {
        WindowBench b;
        const QByteArray image = testImage(1001);
        prepare(b, image);
        // It answers the poll with "nonexistent command", as a sensor in its loader does.
        b.bus.updateSensor(1, [](sim::Sensor& s) { s.inLoader = true; });
        b.poll();
        QVERIFY(b.window->deviceRecords().first().cmdRejected);
        b.bus.clearLog();

        // A click on "Считать" that comes during the run waits for its end.
        QTimer::singleShot(0, b.window.get(), [&b] { b.invoke("readUst"); });
        QElapsedTimer clock;
        clock.start();
        confirmUpload(b);
        b.invoke("Reprog");
        QVERIFY2(clock.elapsed() < 990, qPrintable(QString::number(clock.elapsed())));

        const QStringList expected = QStringList{QStringLiteral("11 050a")} + uploadOf1001Bytes +
                                     QStringList{QStringLiteral("41"), QStringLiteral("03 0100")};
        QCOMPARE(describeAll(b.bus), expected);
        QCOMPARE(b.bus.sensor(1).flash.left(1001), image);
        QCOMPARE(boxTextsAfterConfirmation(b),
                 QStringList{
                     QStringLiteral("Готово: Перепрограммирование устройства успешно завершено")});
        verifyUnlocked(b);
    }

    void failures_data()
    {
        QTest::addColumn<quint8>("function");
        QTest::addColumn<sim::FaultSpec>("fault");
        QTest::addColumn<QStringList>("boxes");
        QTest::addColumn<QString>("monitorLine");
        QTest::addColumn<QStringList>("lastRequests");

        const QString done =
            QStringLiteral("Готово: Перепрограммирование устройства успешно завершено");
        const QString uploadFailed =
            QStringLiteral("Ошибка: Ошибка перепрограммирования  устройства:\n");
        const QString uploadLine = QStringLiteral("Error: Ошибка перепрограммирования устройства");
        const QString inLoader = QStringLiteral(
            "\n\nПерепрограммирование не завершено: датчик 1@115200 остался в загрузчике, без "
            "своей программы. Чтобы вернуть его, перепрограммируйте его снова: кнопка "
            "«Перепрограммирование» на вкладке «Перепрограммирование».");

        // The sensor enters its loader but its answer comes back cut short: shown, and the
        // procedure goes on.
        QTest::newRow("loader entry")
            << rtu::code(rtu::Function::GoToLoader) << sim::FaultSpec{sim::Fault::Short, 1}
            << QStringList{QStringLiteral(
                               "Ошибка: Ошибка перехода в загрузчик:\nНеверная длина ответа"),
                           done}
            << QString() << QStringList{QStringLiteral("10 3bfc"), QStringLiteral("41")};
        QTest::newRow("erase, flash write protection")
            << rtu::code(rtu::Function::ErasePages)
            << sim::FaultSpec{sim::Fault::EraseStatus, int(rtu::FlashStatus::ErrorWrp)}
            << QStringList{QStringLiteral("Ошибка: Ошибка очистки флеш:\nFLASH_ERROR_WRP"), done}
            << QString() << QStringList{QStringLiteral("10 3bfc"), QStringLiteral("41")};
        QTest::newRow("erase, flash time-out")
            << rtu::code(rtu::Function::ErasePages)
            << sim::FaultSpec{sim::Fault::EraseStatus, int(rtu::FlashStatus::Timeout)}
            << QStringList{QStringLiteral("Ошибка: Ошибка очистки флеш:\nFLASH_TIMEOUT"), done}
            << QString() << QStringList{QStringLiteral("10 3bfc"), QStringLiteral("41")};
        QTest::newRow("second chunk")
            << rtu::code(rtu::Function::WriteRegisters)
            << sim::FaultSpec{sim::Fault::Exception, int(rtu::Exception::RegisterError), -1, 0,
                              0x14C0}
            << QStringList{uploadFailed + QStringLiteral("Устройство ответило: ошибка регистра") +
                           inLoader}
            << uploadLine
            << QStringList{QStringLiteral("10 1400"), QStringLiteral("10 14c0"),
                           QStringLiteral("10 14c0"), QStringLiteral("10 14c0")};
        QTest::newRow("checksum")
            << rtu::code(rtu::Function::WriteRegisters)
            << sim::FaultSpec{sim::Fault::Silence, 0, -1, 0, 0x3BFC}
            << QStringList{uploadFailed + QStringLiteral("Нет ответа") + inLoader} << uploadLine
            << QStringList{QStringLiteral("10 17c0"), QStringLiteral("10 3bfc"),
                           QStringLiteral("10 3bfc"), QStringLiteral("10 3bfc")};
        QTest::newRow("application start")
            << rtu::code(rtu::Function::GoToApplication)
            << sim::FaultSpec{sim::Fault::Exception, int(rtu::Exception::UnknownCommand)}
            << QStringList{QStringLiteral(
                               "Ошибка: Ошибка перехода на основную программу:\nУстройство "
                               "ответило: несуществующая команда") +
                           inLoader}
            << QString() << QStringList{QStringLiteral("10 3bfc"), QStringLiteral("41")};
    }

    void failures()
    {
        QFETCH(quint8, function);
        QFETCH(sim::FaultSpec, fault);
        QFETCH(QStringList, boxes);
        QFETCH(QString, monitorLine);
        QFETCH(QStringList, lastRequests);
        WindowBench b;
        prepare(b, testImage(1001));
        b.bus.setFault(1, function, fault);

        confirmUpload(b);
        b.invoke("Reprog");

        QCOMPARE(boxTextsAfterConfirmation(b), boxes);
        for (const ModalAnswerer::Box& box : b.boxes.boxes())
            if (box.title == QStringLiteral("Ошибка"))
                QCOMPARE(box.icon, QMessageBox::Warning);
        if (!monitorLine.isEmpty()) {
            QVERIFY2(b.monitorText().contains(monitorLine), qPrintable(b.monitorText()));
            QVERIFY(b.logText().contains(monitorLine));
        }
        // A write that fails its three attempts ends the upload: nothing follows it.
        const QStringList requests = describeAll(b.bus);
        QCOMPARE(requests.mid(requests.size() - lastRequests.size()), lastRequests);
        verifyUnlocked(b);
    }

    void confirmationText_data()
    {
        QTest::addColumn<int>("type");
        QTest::addColumn<bool>("read");
        QTest::addColumn<QString>("name");
        QTest::addColumn<QString>("sensor");
        QTest::newRow("voltage sensor with a name")
            << 2 << true << QStringLiteral("Шина А")
            << QStringLiteral("адрес 7, скорость 38400, датчик напряжения, название «Шина А»");
        QTest::newRow("temperature sensor without a name")
            << 1 << true << QString()
            << QStringLiteral("адрес 7, скорость 38400, датчик температуры, без названия");
        QTest::newRow("never polled, settings never read")
            << 0 << false << QString()
            << QStringLiteral("адрес 7, скорость 38400, тип не определён, название не считано");
    }

    void confirmationText()
    {
        QFETCH(int, type);
        QFETCH(bool, read);
        QFETCH(QString, name);
        QFETCH(QString, sensor);
        QTemporaryDir dir;
        const QString path = dir.filePath(QStringLiteral("image.bin"));
        writeFile(path, testImage(2002));
        QFile file(path);
        QVERIFY(file.open(QIODevice::ReadWrite));
        QVERIFY(file.setFileTime(QDateTime(QDate(2024, 3, 5), QTime(9, 7, 2)),
                                 QFileDevice::FileModificationTime));
        file.close();
        DeviceVEL_DUO300 dev{};
        dev.addr = 7;
        dev.baudrate = 38400;
        dev.param.sensorType = quint16(type);
        dev.ustRead = read;
        setNameText(dev.ust, name);

        QCOMPARE(
            reprogConfirmationText(dev, QFileInfo(path)),
            QStringLiteral("Датчик: ") + sensor +
                QStringLiteral(".\nФайл: image.bin, 2002 байта, изменён 05.03.2024 09:07:02.\n\n"
                               "Программа датчика будет стёрта и заменена программой из "
                               "этого файла. Продолжить?"));
    }

    void declinedConfirmationSendsNothing()
    {
        WindowBench b;
        prepare(b, testImage(1001));
        b.bus.updateSensor(1, [](sim::Sensor& s) {
            setNameText(s.ust, QStringLiteral("Ввод 1"));
            sealChecksum(s.ust);
        });
        b.invoke("readUst");
        b.poll(); // the sensor type
        QFile image(imageName);
        QVERIFY(image.open(QIODevice::ReadWrite));
        QVERIFY(image.setFileTime(QDateTime(QDate(2025, 1, 31), QTime(14, 5, 7)),
                                  QFileDevice::FileModificationTime));
        image.close();
        b.bus.clearLog();

        b.boxes.answerNext(QMessageBox::No);
        b.find<QPushButton>("BtnReprog2")->click();

        QCOMPARE(b.boxes.boxes().size(), 1);
        const ModalAnswerer::Box box = b.boxes.boxes().first();
        QCOMPARE(box.title, QStringLiteral("Перепрограммирование"));
        QCOMPARE(box.icon, QMessageBox::Question);
        QCOMPARE(box.buttons, QMessageBox::Yes | QMessageBox::No);
        QCOMPARE(box.defaultButton, QMessageBox::No);
        QCOMPARE(box.text,
                 QStringLiteral("Датчик: адрес 1, скорость 115200, датчик напряжения, название "
                                "«Ввод 1».\nФайл: VEL_DUO300.bin, 1001 байт, изменён 31.01.2025 "
                                "14:05:07.\n\nПрограмма датчика будет стёрта и заменена "
                                "программой из этого файла. Продолжить?"));
        QVERIFY(!b.bus.waitForReceived(1, 100));
        verifyUnlocked(b);
        QVERIFY(!b.bus.sensor(1).inLoader);
    }

    // The loader request goes back only in a block read in the same run; when that read fails,
    // the run goes on without it: a sensor that sits in its loader already answers no settings
    // read and is still reprogrammed.
    void loaderRequestOnlyFromAReadOfTheRun_data()
    {
        QTest::addColumn<bool>("inLoader");
        QTest::addColumn<QString>("readError");
        QTest::addColumn<QStringList>("requestsBegin");
        QTest::addColumn<QStringList>("boxes");

        const QString read = QStringLiteral("03 0100");
        QTest::newRow("sensor in its loader already")
            << true << QStringLiteral("Устройство ответило: несуществующая команда")
            << QStringList{read, read, read, QStringLiteral("40"), QStringLiteral("11 050a")} +
                   uploadOf1001Bytes + QStringList{QStringLiteral("41")}
            << QStringList{
                   QStringLiteral("Готово: Перепрограммирование устройства успешно завершено")};
        // Without the request the sensor stays in its application and refuses the loader's
        // commands: each step says so.
        QTest::newRow("settings read unanswered")
            << false << QStringLiteral("Нет ответа")
            << QStringList{read, read, read, QStringLiteral("40")}
            << QStringList{
                   QStringLiteral("Ошибка: Ошибка перехода в загрузчик:\nУстройство ответило: "
                                  "несуществующая команда"),
                   QStringLiteral("Ошибка: Ошибка очистки флеш:\nУстройство ответило: "
                                  "несуществующая команда"),
                   QStringLiteral("Ошибка: Ошибка перепрограммирования  устройства:\nУстройство "
                                  "ответило: ошибка адреса регистра")};
    }

    void loaderRequestOnlyFromAReadOfTheRun()
    {
        QFETCH(bool, inLoader);
        QFETCH(QString, readError);
        QFETCH(QStringList, requestsBegin);
        QFETCH(QStringList, boxes);
        WindowBench b;
        const QByteArray image = testImage(1001);
        prepare(b, image);
        if (inLoader)
            b.bus.updateSensor(1, [](sim::Sensor& s) {
                // Left there by an earlier run that did not finish.
                s.ust.loaderCode = regmap::loaderRequest;
                sealChecksum(s.ust);
                s.inLoader = true;
            });
        else
            b.bus.setFault(1, rtu::Function::ReadRegisters, {sim::Fault::Silence});

        confirmUpload(b);
        b.invoke("Reprog");

        const QStringList requests = describeAll(b.bus);
        QCOMPARE(requests.mid(0, requestsBegin.size()), requestsBegin);
        QVERIFY2(!requests.contains(QStringLiteral("10 0100")), qPrintable(requests.join(' ')));
        const QString line =
            QStringLiteral("Error: Запрос на переход в загрузчик не записан: не удалось считать "
                           "настройки датчика: ") +
            readError;
        QVERIFY2(b.monitorText().contains(line), qPrintable(b.monitorText()));
        QCOMPARE(boxTextsAfterConfirmation(b), boxes);
        if (inLoader)
            QCOMPARE(b.bus.sensor(1).flash.left(image.size()), image);
        verifyUnlocked(b);
    }

    void refusedFileSendsNothing_data()
    {
        QTest::addColumn<int>("size"); // -1: no such file, -2: a folder of that name
        QTest::newRow("missing") << -1;
        QTest::newRow("cannot be opened") << -2;
        QTest::newRow("empty") << 0;
        QTest::newRow("10241 bytes") << 10241;
        QTest::newRow("10240 bytes, data under the checksum word") << 10240;
    }

    void refusedFileSendsNothing()
    {
        QFETCH(int, size);
        WindowBench b;
        prepare(b, QByteArray());
        QVERIFY(QFile::remove(imageName));
        if (size >= 0)
            writeFile(imageName, testImage(size));
        else if (size == -2)
            QVERIFY(QDir().mkdir(imageName));
        const QString reason = firmware::readImageFile(imageName).refusal;
        QVERIFY(reason.contains(imageName));

        // Through the button, as the user starts it.
        b.find<QPushButton>("BtnReprog2")->click();

        QCOMPARE(boxTexts(b), QStringList{QStringLiteral("Warning: ") + reason});
        QCOMPARE(b.boxes.boxes().first().icon, QMessageBox::Warning);
        QVERIFY(b.monitorText().contains(QStringLiteral("Warning: ") + reason));
        QVERIFY(!b.bus.waitForReceived(1, 100));
        verifyUnlocked(b);
        QVERIFY(!b.bus.sensor(1).inLoader);
    }

    // The adapter lost mid-upload leaves the sensor in its loader: the box says so, and once the
    // adapter is back the sensor's row and the monitor say what it is and the way back, which
    // brings it back.
    void portLostMidUploadLeavesTheSensorInItsLoader()
    {
        WindowBench b(WindowBench::PortName::Link);
        const QByteArray image = testImage(3000);
        prepare(b, image);
        AtChunk cut(b.bus, firmware::areaStart + 3 * firmware::chunkSize, [&b] { b.bus.hangUp(); });

        confirmUpload(b);
        b.invoke("Reprog");

        const QStringList boxes = boxTextsAfterConfirmation(b);
        QCOMPARE(boxes.size(), 1);
        QVERIFY2(boxes.first().startsWith(
                     QStringLiteral("Ошибка: Ошибка перепрограммирования  устройства:\n")) &&
                     boxes.first().endsWith(QStringLiteral(
                         "Перепрограммирование не завершено: датчик 1@115200 остался в загрузчике, "
                         "без своей программы. Чтобы вернуть его, перепрограммируйте его снова: "
                         "кнопка «Перепрограммирование» на вкладке «Перепрограммирование».")),
                 qPrintable(boxes.first()));
        verifyUnlocked(b);

        sim::SensorBus again;
        QString error;
        QVERIFY2(again.open(&error, b.adapterPath()), qPrintable(error));
        again.addSensor(b.bus.sensor(1));
        QVERIFY(again.sensor(1).inLoader);
        auto* list = b.find<QListWidget>("listWidgetDevices");
        QTRY_VERIFY_WITH_TIMEOUT((b.poll(), b.window->deviceRecords().first().cmdRejected), 5000);
        QCOMPARE(list->item(0)->text(),
                 QStringLiteral("1\t115200\tв загрузчике: «Перепрограммирование»"));
        QCOMPARE(list->item(0)->background().color(), QColor(0x1E90FF));
        const QString notice = QStringLiteral(
            "Warning: Датчик 1@115200 отвечает «несуществующая команда», как отвечает его "
            "загрузчик: по-видимому, перепрограммирование было прервано, и датчик остался в "
            "загрузчике, без своей программы. Чтобы вернуть его, перепрограммируйте его снова: "
            "кнопка «Перепрограммирование» на вкладке «Перепрограммирование».");
        QVERIFY2(b.monitorText().contains(notice), qPrintable(b.monitorText()));
        // Said once, not with every poll.
        b.poll();
        QCOMPARE(b.monitorText().count(notice), 1);

        b.boxes.clear();
        confirmUpload(b);
        b.invoke("Reprog");
        QCOMPARE(boxTextsAfterConfirmation(b),
                 QStringList{
                     QStringLiteral("Готово: Перепрограммирование устройства успешно завершено")});
        QVERIFY(!again.sensor(1).inLoader);
        QCOMPARE(again.sensor(1).flash.left(image.size()), image);
        QVERIFY(list->item(0)->text().startsWith(QStringLiteral("1\t115200\t")));
        QVERIFY(!list->item(0)->text().contains(QStringLiteral("загрузчике")));
    }

    // The user's close during a flash asks first, "Нет" being the default; an end signal's close
    // does not ask.
    void closeDuringAFlashAsksFirst_data()
    {
        QTest::addColumn<bool>("byUser");
        QTest::addColumn<int>("answer");
        QTest::addColumn<bool>("closes");
        QTest::newRow("the user keeps it") << true << int(QMessageBox::No) << false;
        QTest::newRow("the user closes it") << true << int(QMessageBox::Yes) << true;
        QTest::newRow("an end signal") << false << int(QMessageBox::NoButton) << true;
    }

    void closeDuringAFlashAsksFirst()
    {
        QFETCH(bool, byUser);
        QFETCH(int, answer);
        QFETCH(bool, closes);
        WindowBench b;
        prepare(b, testImage(3000));
        bool accepted = false;
        AtChunk close(b.bus, firmware::areaStart + 3 * firmware::chunkSize, [&] {
            QCloseEvent event;
            // As the window system delivers it; sendEvent would mark it the program's own.
            if (byUser)
                QSpontaneKeyEvent::setSpontaneous(&event);
            qApp->notify(b.window.get(), &event);
            accepted = event.isAccepted();
        });

        confirmUpload(b);
        if (answer != QMessageBox::NoButton)
            b.boxes.answerNext(QMessageBox::StandardButton(answer));
        b.invoke("Reprog");

        QCOMPARE(accepted, closes);
        QStringList titles;
        for (const ModalAnswerer::Box& box : b.boxes.boxes())
            titles << box.title;
        if (!byUser) {
            QCOMPARE(titles, (QStringList{"Перепрограммирование", "Готово"}));
            return;
        }
        QCOMPARE(titles, (QStringList{"Перепрограммирование", "Перепрограммирование", "Готово"}));
        const ModalAnswerer::Box question = b.boxes.boxes().at(1);
        QCOMPARE(question.text,
                 QStringLiteral("Идёт перепрограммирование датчика 1@115200. Если закрыть "
                                "программу сейчас, датчик останется в загрузчике, без своей "
                                "программы, и его придётся перепрограммировать снова. Закрыть "
                                "программу?"));
        QCOMPARE(question.icon, QMessageBox::Question);
        QCOMPARE(question.buttons, QMessageBox::Yes | QMessageBox::No);
        QCOMPARE(question.defaultButton, QMessageBox::No);
    }
};

QTEST_MAIN(TestReprog)
#include "tst_reprog.moc"
