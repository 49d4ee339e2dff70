// The protocol's words and the layout of its frames, as the transactions build requests and the
// simulated sensor builds answers from them.
#include "codec/protocol.h"

#include <QtTest>

using rtu::Function;

Q_DECLARE_METATYPE(Function)

class TestProtocol : public QObject
{
    Q_OBJECT

private slots:
    void requests_data()
    {
        QTest::addColumn<QByteArray>("body");
        QTest::addColumn<int>("size"); // what requestSize gives, the CRC included
        QTest::addColumn<QByteArray>("wire");
        const QByteArray data = QByteArray::fromHex("a1a2a3a4ff");
        QTest::newRow("coil read")
            << rtu::readRequest(1, Function::ReadCoils, 0, 1)
            << rtu::requestSize(Function::ReadCoils) << QByteArray("010100000001");
        QTest::newRow("register read")
            << rtu::readRequest(0xF7, Function::ReadRegisters, 0x0100, 20)
            << rtu::requestSize(Function::ReadRegisters) << QByteArray("f70301000014");
        QTest::newRow("write of two registers takes four data bytes")
            << rtu::writeRequest(3, 0x1400, 2, data)
            << rtu::requestSize(Function::WriteRegisters, 2) << QByteArray("031014000002a1a2a3a4");
        QTest::newRow("erase") << rtu::eraseRequest(1, 5, 10)
                               << rtu::requestSize(Function::ErasePages) << QByteArray("0111050a");
        QTest::newRow("to the loader")
            << rtu::plainRequest(2, Function::GoToLoader) << rtu::requestSize(Function::GoToLoader)
            << QByteArray("024000");
        QTest::newRow("to the application")
            << rtu::plainRequest(2, Function::GoToApplication)
            << rtu::requestSize(Function::GoToApplication) << QByteArray("024100");
        QTest::newRow("potentiometer read")
            << rtu::plainRequest(2, Function::ReadPotentiometer)
            << rtu::requestSize(Function::ReadPotentiometer) << QByteArray("025000");
        QTest::newRow("potentiometer write")
            << rtu::writePotentiometerRequest(2, 0x80)
            << rtu::requestSize(Function::WritePotentiometer) << QByteArray("02510080");
    }

    void requests()
    {
        QFETCH(QByteArray, body);
        QFETCH(int, size);
        QFETCH(QByteArray, wire);
        QCOMPARE(body.toHex(), wire);
        QCOMPARE(size, body.size() + rtu::crcSize);
    }

    void answers_data()
    {
        QTest::addColumn<Function>("function");
        QTest::addColumn<int>("count");
        QTest::addColumn<int>("size");
        QTest::newRow("one coil") << Function::ReadCoils << 1 << 6;
        QTest::newRow("nine coils take two bytes") << Function::ReadCoils << 9 << 7;
        QTest::newRow("parameters") << Function::ReadRegisters << 14 << 33;
        QTest::newRow("settings") << Function::ReadRegisters << 20 << 45;
        QTest::newRow("write echo") << Function::WriteRegisters << 20 << 8;
        QTest::newRow("erase status") << Function::ErasePages << 0 << 6;
        QTest::newRow("to the loader") << Function::GoToLoader << 0 << 5;
        QTest::newRow("to the application") << Function::GoToApplication << 0 << 5;
        QTest::newRow("potentiometer read") << Function::ReadPotentiometer << 0 << 6;
        QTest::newRow("potentiometer write") << Function::WritePotentiometer << 0 << 5;
    }

    void answers()
    {
        QFETCH(Function, function);
        QFETCH(int, count);
        QFETCH(int, size);
        QCOMPARE(rtu::answerSize(function, count), size);
    }

    void answerBodies()
    {
        QCOMPARE(rtu::answerHead(7, Function::ReadRegisters).toHex(), QByteArray("0703"));
        QCOMPARE(
            rtu::exceptionAnswer(7, Function::WriteRegisters, rtu::Exception::BadSettings).toHex(),
            QByteArray("07900b"));
        QCOMPARE(rtu::exceptionAnswer(7, 0x42, 0x63).toHex(), QByteArray("07c263"));
        QCOMPARE(rtu::exceptionAnswerSize, 5);
        QCOMPARE(rtu::eraseAnswer(7, quint8(rtu::FlashStatus::Complete)).toHex(),
                 QByteArray("07111400"));
    }

    void functionCodes()
    {
        const QList<int> known{0x01, 0x03, 0x10, 0x11, 0x40, 0x41, 0x50, 0x51};
        for (int byte = 0; byte < 256; ++byte)
            QCOMPARE(rtu::isFunction(quint8(byte)), known.contains(byte));
    }

    void flashStatuses_data()
    {
        QTest::addColumn<int>("status");
        QTest::addColumn<QString>("name"); // empty: not one of the loader's
        QTest::newRow("0x00") << 0x00 << QString();
        QTest::newRow("0x10") << 0x10 << QString();
        QTest::newRow("0x11") << 0x11 << QStringLiteral("FLASH_BUSY");
        QTest::newRow("0x12") << 0x12 << QStringLiteral("FLASH_ERROR_WRP");
        QTest::newRow("0x13") << 0x13 << QStringLiteral("FLASH_ERROR_PROGRAM");
        QTest::newRow("0x14") << 0x14 << QStringLiteral("FLASH_COMPLETE");
        QTest::newRow("0x15") << 0x15 << QStringLiteral("FLASH_TIMEOUT");
        QTest::newRow("0x16") << 0x16 << QString();
        QTest::newRow("0xff") << 0xFF << QString();
    }

    void flashStatuses()
    {
        QFETCH(int, status);
        QFETCH(QString, name);
        QCOMPARE(rtu::isFlashStatus(quint8(status)), !name.isEmpty());
        if (!name.isEmpty())
            QCOMPARE(rtu::flashStatusName(rtu::FlashStatus(status)), name);
    }
};

QTEST_APPLESS_MAIN(TestProtocol)
#include "tst_protocol.moc"
