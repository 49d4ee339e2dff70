// Frame codec, error texts and register blocks: pure functions.
#include "codec/blocks.h"
#include "codec/errortext.h"
#include "codec/rtu.h"

#include "support/referencecrc.h"

#include <QtTest>
#include <cstring>

namespace {

QByteArray hex(const char* text)
{
    return QByteArray::fromHex(text);
}

// An answer judged against the request's address, function and expected answer length.
void addAnswerColumns()
{
    QTest::addColumn<QByteArray>("answer");
    QTest::addColumn<int>("addr");
    QTest::addColumn<int>("cmd");
    QTest::addColumn<int>("size");
    QTest::addColumn<int>("code");
}

} // namespace

class TestCodec : public QObject
{
    Q_OBJECT

private slots:
    void checkValue()
    {
        quint16 reg = 0xFFFF;
        for (char c : QByteArray("123456789"))
            reg = rtu::getCRC(reg, quint8(c));
        // The register holds the standard value byte-exchanged.
        QCOMPARE(quint16((reg << 8) | (reg >> 8)), quint16(0x4B37));
    }

    void tableIsExchangedStandardTable()
    {
        for (int i = 0; i < 256; ++i) {
            quint16 crc = quint16(i);
            for (int bit = 0; bit < 8; ++bit)
                crc = (crc & 1) ? quint16((crc >> 1) ^ 0xA001) : quint16(crc >> 1);
            QCOMPARE(rtu::crcTableEntry(i), quint16((crc << 8) | (crc >> 8)));
        }
    }

    void calcCrc_data()
    {
        QTest::addColumn<QByteArray>("input");
        QTest::addColumn<int>("len");
        QTest::addColumn<QByteArray>("expected");
        // Standard CRC 0xCDC5 (published order C5 CD) goes high byte first.
        QTest::newRow("01030000000a") << hex("01030000000a") << 6 << hex("01030000000acdc5");
        QTest::newRow("010301000014") << hex("010301000014") << 6 << hex("0103010000143944");
        QTest::newRow("014000") << hex("014000") << 3 << hex("014000c011");
        QTest::newRow("empty, len 0") << QByteArray() << 0 << hex("ffff");
        QTest::newRow("longer than len+2 keeps the tail")
            << hex("01030000000a0000aabb") << 6 << hex("01030000000acdc5aabb");
        QTest::newRow("shorter than len counts zeros")
            << hex("0103") << 4 << hex("0103") + QByteArray(2, '\0') + QByteArray(2, '\0');
    }

    void calcCrc()
    {
        QFETCH(QByteArray, input);
        QFETCH(int, len);
        QFETCH(QByteArray, expected);
        rtu::calcCrc(input, len);
        if (QTest::currentDataTag() == QByteArray("shorter than len counts zeros")) {
            const quint16 crc = bitwiseCrc(expected.left(4));
            expected[4] = char(crc >> 8);
            expected[5] = char(crc & 0xFF);
        }
        QCOMPARE(input.toHex(), expected.toHex());
        if (len > 0) {
            const quint16 crc = bitwiseCrc(input.left(len));
            QCOMPARE(quint8(input.at(len)), quint8(crc >> 8));
            QCOMPARE(quint8(input.at(len + 1)), quint8(crc & 0xFF));
        }
    }

    void wideFrame()
    {
        // A frame longer than 255 bytes is covered whole.
        QByteArray frame(300, '\x5a');
        rtu::calcCrc(frame, 300);
        const quint16 crc = bitwiseCrc(QByteArray(300, '\x5a'));
        QCOMPARE(frame.size(), 302);
        QCOMPARE(quint8(frame.at(300)), quint8(crc >> 8));
        QCOMPARE(quint8(frame.at(301)), quint8(crc & 0xFF));
    }

    void checkAnswer_data()
    {
        addAnswerColumns();
        QTest::newRow("empty") << QByteArray() << 1 << 3 << 45 << 6;
        QTest::newRow("010302 exception 2") << hex("018302") << 1 << 3 << 45 << 2;
        QTest::newRow("018307 exception 7") << hex("018307") << 1 << 3 << 45 << 9;
        QTest::newRow("0183 two-byte exception") << hex("0183") << 1 << 3 << 45 << 9;
        QTest::newRow("01830b exception 11") << hex("01830b0000") << 1 << 3 << 45 << 11;
        QTest::newRow("01900a exception 10") << hex("01900a0000") << 1 << 0x10 << 8 << 10;
        QTest::newRow("01 one byte") << hex("01") << 1 << 3 << 45 << 5;
        QTest::newRow("right length, other address") << hex("0203020000aaaa") << 1 << 3 << 7 << 7;
        QTest::newRow("short, other address") << hex("0203020000aa") << 1 << 3 << 7 << 5;
        QTest::newRow("right length, other function") << hex("0104020000aaaa") << 1 << 3 << 7 << 8;
        QTest::newRow("wrong crc accepted") << hex("010302000000ff") << 1 << 3 << 7 << 0;
        QTest::newRow("011114 erase success") << hex("011114000000") << 1 << 0x11 << 6 << 0;
        QTest::newRow("011114 erase success, wrong length")
            << hex("0111140000") << 1 << 0x11 << 6 << 5;
        QTest::newRow("011112 write protected") << hex("0111120000") << 1 << 0x11 << 6 << 18;
        QTest::newRow("011100 status 0")
            << hex("011100000000") << 1 << 0x11 << 6 << int(rtu::UnknownFlashStatus);
        QTest::newRow("011190 status 0x90")
            << hex("011190000000") << 1 << 0x11 << 6 << int(rtu::UnknownFlashStatus);
    }

    void checkAnswer()
    {
        QFETCH(QByteArray, answer);
        QFETCH(int, addr);
        QFETCH(int, cmd);
        QFETCH(int, size);
        QFETCH(int, code);
        QCOMPARE(rtu::checkAnswer(answer, quint8(addr), quint8(cmd), size), code);
    }

    // Answers with function 0x11: a flash status only when the request was the erase.
    void eraseAnswers_data()
    {
        addAnswerColumns();
        const QByteArray status0 = hex("011100");
        const QByteArray twoBytes = hex("0111");
        const QByteArray status0Long = hex("011100") + QByteArray(28, '\x22');
        const struct
        {
            const char* name;
            int cmd;
            int size;
        } requests[] = {
            {"parameters read", 0x03, 33}, {"coil read", 0x01, 6}, {"settings read", 0x03, 45}};
        for (const auto& r : requests) {
            QTest::addRow("011100 to a %s", r.name) << status0 << 1 << r.cmd << r.size << 5;
            QTest::addRow("0111 to a %s", r.name) << twoBytes << 1 << r.cmd << r.size << 5;
            QTest::addRow("011100 + 28 bytes to a %s", r.name)
                << status0Long << 1 << r.cmd << r.size << 5;
            QTest::addRow("0x11 answer of the right length to a %s", r.name)
                << hex("011100") + QByteArray(r.size - 3, '\x22') << 1 << r.cmd << r.size << 8;
        }
        QTest::newRow("erase: 011114 success") << hex("011114000000") << 1 << 0x11 << 6 << 0;
        // Only "complete" is a success; any status but the loader's five is a failure of its own.
        const struct
        {
            const char* name;
            int status;
            int code;
        } statuses[] = {
            {"busy", 0x11, rtu::FlashBusy},
            {"write protected", 0x12, rtu::FlashWriteProtected},
            {"program error", 0x13, rtu::FlashProgramError},
            {"time-out", 0x15, rtu::FlashTimeout},
            {"status 0", 0x00, rtu::UnknownFlashStatus},
            {"an exception code's value", 0x03, rtu::UnknownFlashStatus},
            {"one below the loader's", 0x10, rtu::UnknownFlashStatus},
            {"one above the loader's", 0x16, rtu::UnknownFlashStatus},
            {"status 0xff", 0xFF, rtu::UnknownFlashStatus},
        };
        for (const auto& s : statuses) {
            QByteArray answer = hex("0111");
            answer.append(char(s.status)).append(QByteArray(3, '\0'));
            QTest::addRow("erase: %s", s.name) << answer << 1 << 0x11 << 6 << s.code;
        }
        QTest::newRow("erase: 011115 time-out") << hex("011115") << 1 << 0x11 << 6 << 21;
        QTest::newRow("erase: 011100 status 0, short")
            << hex("011100") << 1 << 0x11 << 6 << int(rtu::UnknownFlashStatus);
        QTest::newRow("erase: 0111 has no status") << twoBytes << 1 << 0x11 << 6 << 5;
    }

    void eraseAnswers() { checkAnswer(); }

    void errorTexts_data()
    {
        QTest::addColumn<int>("code");
        QTest::addColumn<QString>("text");
        QTest::newRow("0") << 0 << QString();
        QTest::newRow("1") << 1 << QStringLiteral("Устройство ответило: несуществующая команда");
        QTest::newRow("6") << 6 << QStringLiteral("Нет ответа");
        QTest::newRow("11") << 11 << QStringLiteral("Устройство ответило: некорректные настройки");
        QTest::newRow("12") << 12
                            << QStringLiteral("Загрузчик ответил неизвестным состоянием флеш");
        QTest::newRow("14") << 14 << QStringLiteral("Неизвестная ошибка (14)");
        QTest::newRow("17") << 17 << QStringLiteral("FLASH_BUSY");
        QTest::newRow("18") << 18 << QStringLiteral("FLASH_ERROR_WRP");
        QTest::newRow("19") << 19 << QStringLiteral("FLASH_ERROR_PROGRAM");
        QTest::newRow("21") << 21 << QStringLiteral("FLASH_TIMEOUT");
        QTest::newRow("22") << 22 << QStringLiteral("Неизвестная ошибка (22)");
        QTest::newRow("-112") << -112 << QStringLiteral("Неизвестная ошибка (-112)");
    }

    void errorTexts()
    {
        QFETCH(int, code);
        QFETCH(QString, text);
        QCOMPARE(errorTextFor(code), text);
    }

    void defaultBlock()
    {
        const QByteArray expected = hex("80040000000000006400010000080010") + QByteArray(16, '\0') +
                                    hex("00000000") + hex("1bf3feef");
        const UstBlock ust = defaultUstBlock();
        QCOMPARE(blockBytes(ust).toHex(), expected.toHex());
        QCOMPARE(ust.checksum, quint32(0xEFFEF31B));
        QCOMPARE(ustChecksum(ust), ust.checksum);
    }

    void checksumFollowsEveryWord()
    {
        UstBlock ust = defaultUstBlock();
        ust.loaderCode = regmap::loaderRequest;
        QVERIFY(ustChecksum(ust) != ust.checksum);
        sealChecksum(ust);
        QCOMPARE(ust.checksum, ~(0x10010CE4u + regmap::loaderRequest));
    }

    void imageSum()
    {
        // Whole little-endian words only; nothing sums to the inverted zero.
        const QByteArray bytes = hex("0100000002000000ff");
        QCOMPARE(wordSum(reinterpret_cast<const uchar*>(bytes.constData()), bytes.size()), 3u);
        QCOMPARE(invertedSum(wordSum(nullptr, 0)), 0xFFFFFFFFu);
    }

    void copyFromShortAnswer()
    {
        UstBlock ust = defaultUstBlock();
        const QByteArray answer = hex("01032880041122");
        copyFromAnswer(&ust, int(sizeof ust), answer);
        const QByteArray bytes = blockBytes(ust);
        QCOMPARE(bytes.left(4).toHex(), QByteArray("80041122"));
        QCOMPARE(bytes.mid(4), QByteArray(36, '\0'));
    }

    void names_data()
    {
        QTest::addColumn<QString>("name");
        QTest::addColumn<QString>("shown");
        QTest::addColumn<QByteArray>("bytes"); // the field as stored, Windows-1251
        QTest::newRow("short") << QStringLiteral("Шина 1") << QStringLiteral("Шина 1")
                               << hex("d8e8ede02031") + QByteArray(10, '\0');
        QTest::newRow("16 Cyrillic letters fit")
            << QStringLiteral("Трансформатор Т1") << QStringLiteral("Трансформатор Т1")
            << hex("d2f0e0edf1f4eef0ece0f2eef020d231");
        QTest::newRow("16 characters")
            << QStringLiteral("ABCDEFGHIJKLMNOP") << QStringLiteral("ABCDEFGHIJKLMNOP")
            << QByteArray("ABCDEFGHIJKLMNOP");
        QTest::newRow("longer is cut")
            << QStringLiteral("ABCDEFGHIJKLMNOPQRS") << QStringLiteral("ABCDEFGHIJKLMNOP")
            << QByteArray("ABCDEFGHIJKLMNOP");
        QTest::newRow("empty") << QString() << QString() << QByteArray(16, '\0');
    }

    void names()
    {
        QFETCH(QString, name);
        QFETCH(QString, shown);
        QFETCH(QByteArray, bytes);
        QVERIFY(nameEncodable(name));
        UstBlock ust{};
        std::memset(ust.name, 'x', sizeof ust.name);
        setNameText(ust, name);
        QCOMPARE(QByteArray(ust.name, 16).toHex(), bytes.toHex());
        QCOMPARE(nameText(ust), shown);
    }

    void nameWrittenByAnotherTool()
    {
        // "Ввод №2" as a tool on Russian Windows writes it.
        UstBlock ust{};
        const QByteArray bytes = hex("c2e2eee420b932");
        std::memcpy(ust.name, bytes.constData(), size_t(bytes.size()));
        QCOMPARE(nameText(ust), QStringLiteral("Ввод №2"));
    }

    void namesWindows1251CannotHold_data()
    {
        QTest::addColumn<QString>("name");
        QTest::newRow("Latin with diaeresis") << QStringLiteral("Müller");
        QTest::newRow("Chinese") << QStringLiteral("变压器");
        QTest::newRow("emoji") << QStringLiteral("Шина \U0001F600");
    }

    void namesWindows1251CannotHold()
    {
        QFETCH(QString, name);
        QVERIFY(!nameEncodable(name));
    }

    void versionFillingTheField()
    {
        ParamBlock param{};
        std::memcpy(param.version, "0123456789ABCDEF", 16);
        QCOMPARE(versionText(param), QStringLiteral("0123456789ABCDEF"));
        param.version[4] = '\0';
        QCOMPARE(versionText(param), QStringLiteral("0123"));
    }
};

QTEST_APPLESS_MAIN(TestCodec)
#include "tst_codec.moc"
