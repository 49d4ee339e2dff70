// Sparkplug B payloads, topics and the primary host's state: what is written reads back the
// same, and what the network may bring is refused with a reason, never half read.
#include "codec/sparkplug.h"

#include <QtTest>
#include <limits>

using namespace sparkplug;

Q_DECLARE_METATYPE(sparkplug::Metric)

class TestSparkplug : public QObject
{
    Q_OBJECT

private slots:
    void metricRoundTrip_data()
    {
        QTest::addColumn<Metric>("metric");
        const auto row = [](const char* name, quint32 type, const QVariant& value) {
            QTest::newRow(name) << sparkplug::metric(QString::fromLatin1(name), 7, type, value);
        };
        row("Int8 lowest", Int8, qint64(-128));
        row("Int16 negative", Int16, qint64(-30000));
        row("Int32 lowest", Int32, qint64(std::numeric_limits<qint32>::min()));
        row("Int64 negative", Int64, qint64(-5000000000LL));
        row("UInt8 highest", UInt8, quint64(255));
        row("UInt16 highest", UInt16, quint64(65535));
        row("UInt32 highest", UInt32, quint64(0xFFFFFFFFu));
        row("UInt64 highest", UInt64, quint64(std::numeric_limits<quint64>::max()));
        row("DateTime", DateTime, quint64(1765440000123ULL));
        row("Float", Float, 23.25f);
        row("Double", Double, -1.0 / 3);
        row("Boolean", Boolean, true);
        row("String in Cyrillic", String, QStringLiteral("Насос 3"));
        row("Bytes", Bytes, QByteArray("\x00\x01\xff", 3));
        row("null", UInt16, QVariant());
        Metric full = sparkplug::metric(QStringLiteral("Measure"), 1, Float, 12.5f);
        full.timestamp = 1765440000000ULL;
        full.historical = true;
        full.properties = {{QStringLiteral("engUnit"), String, QStringLiteral("°C")},
                           {QStringLiteral("Quality"), Int32, qint64(192)},
                           {QStringLiteral("empty"), String, QVariant()}};
        QTest::newRow("timestamp, historical, properties") << full;
        Metric byAlias;
        byAlias.alias = 3;
        byAlias.datatype = Unknown;
        byAlias.value = quint64(17);
        QTest::newRow("by alias, no datatype") << byAlias;
    }

    void metricRoundTrip()
    {
        QFETCH(Metric, metric);
        Payload sent;
        sent.timestamp = 1765440000999ULL;
        sent.seq = 255;
        sent.metrics = {metric};
        Payload back;
        QString why;
        QVERIFY2(decode(encode(sent), &back, &why), qPrintable(why));
        QCOMPARE(back.timestamp, sent.timestamp);
        QCOMPARE(back.seq, sent.seq);
        QCOMPARE(back.metrics.size(), 1);
        const Metric& m = back.metrics[0];
        QCOMPARE(m.name, metric.name);
        QCOMPARE(m.alias, metric.alias);
        QCOMPARE(m.timestamp, metric.timestamp);
        QCOMPARE(m.datatype, metric.datatype);
        QCOMPARE(m.historical, metric.historical);
        QCOMPARE(m.value, metric.value);
        QCOMPARE(m.value.isNull(), metric.value.isNull());
        QCOMPARE(m.properties.size(), metric.properties.size());
        for (int i = 0; i < m.properties.size(); ++i) {
            QCOMPARE(m.properties[i].key, metric.properties[i].key);
            QCOMPARE(m.properties[i].type, metric.properties[i].type);
            QCOMPARE(m.properties[i].value, metric.properties[i].value);
        }
    }

    // Values that a datatype cannot hold are not written as something else.
    void valueOutOfItsType_data()
    {
        QTest::addColumn<quint32>("type");
        QTest::addColumn<QVariant>("value");
        QTest::newRow("Int8 above") << quint32(Int8) << QVariant(qint64(128));
        QTest::newRow("UInt8 negative") << quint32(UInt8) << QVariant(qint64(-1));
        QTest::newRow("UInt16 above") << quint32(UInt16) << QVariant(quint64(65536));
        QTest::newRow("Int32 not a number") << quint32(Int32) << QVariant(QStringLiteral("x"));
    }

    void valueOutOfItsType()
    {
        QFETCH(quint32, type);
        QFETCH(QVariant, value);
        QVERIFY(valueAs(type, value).isNull());
        Payload back;
        QString why;
        QVERIFY(decode(encode({{}, {}, {sparkplug::metric(QStringLiteral("m"), 1, type, value)}}),
                       &back, &why));
        QVERIFY(back.metrics[0].value.isNull());
    }

    // Bytes as they may come from another node or from a broker gone wrong.
    void decodeChecks_data()
    {
        QTest::addColumn<QByteArray>("bytes");
        QTest::addColumn<bool>("accepted");
        const auto row = [](const char* name, const char* hex, bool accepted) {
            QTest::newRow(name) << QByteArray::fromHex(hex) << accepted;
        };
        row("empty payload", "", true);
        row("unknown field of an extension", "3001", true);
        row("template metric, value skipped", "120720139201020a00", true);
        row("truncated varint", "08", false);
        row("length past the end", "120501", false);
        row("wire type 7", "0f", false);
        row("unknown datatype", "12022063", false);
        row("Float declared, integer sent", "120420095001", false);
        row("Int8 out of range", "1205200150c801", false);
        row("UInt16 in the 64-bit field", "120420065805", false);
        row("UInt32 in the 32-bit field", "120420075005", true);
        row("Int64 in the 32-bit field", "120420045005", false);
        row("Boolean declared, string sent", "1205200b7a0161", false);
        row("property keys without values", "12054a030a0175", false);
        row("property of unknown type", "120a4a080a0175120308ff01", false);
    }

    void decodeChecks()
    {
        QFETCH(QByteArray, bytes);
        QFETCH(bool, accepted);
        Payload payload;
        payload.seq = 99; // left as it was when refused
        QString why;
        QCOMPARE(decode(bytes, &payload, &why), accepted);
        if (accepted) {
            QVERIFY(!payload.seq);
        } else {
            QCOMPARE(payload.seq, std::optional<quint64>(99));
            QVERIFY(!why.isEmpty());
        }
    }

    void topics_data()
    {
        QTest::addColumn<QString>("topic");
        QTest::addColumn<bool>("valid");
        QTest::addColumn<QString>("type");
        QTest::addColumn<QString>("device");
        QTest::newRow("node birth") << "spBv1.0/Plant/NBIRTH/node1" << true << "NBIRTH"
                                    << "";
        QTest::newRow("device data") << "spBv1.0/Plant/DDATA/node1/s07" << true << "DDATA"
                                     << "s07";
        QTest::newRow("node type on a device") << "spBv1.0/Plant/NDATA/node1/s07" << false << ""
                                               << "";
        QTest::newRow("device type on a node") << "spBv1.0/Plant/DBIRTH/node1" << false << ""
                                               << "";
        QTest::newRow("state") << "spBv1.0/STATE/scada" << false << ""
                               << "";
        QTest::newRow("other namespace") << "spAv1.0/Plant/NBIRTH/node1" << false << ""
                                         << "";
        QTest::newRow("empty level") << "spBv1.0//NBIRTH/node1" << false << ""
                                     << "";
        QTest::newRow("too deep") << "spBv1.0/P/DDATA/n/d/x" << false << ""
                                  << "";
    }

    void topics()
    {
        QFETCH(QString, topic);
        QFETCH(bool, valid);
        QFETCH(QString, type);
        QFETCH(QString, device);
        Topic parsed;
        QCOMPARE(parseTopic(topic, &parsed), valid);
        if (!valid)
            return;
        QCOMPARE(parsed.type, type);
        QCOMPARE(parsed.device, device);
        const QString again =
            device.isEmpty() ? nodeTopic(parsed.group, parsed.type, parsed.node)
                             : deviceTopic(parsed.group, parsed.type, parsed.node, parsed.device);
        QCOMPARE(again, topic);
    }

    void ids()
    {
        QCOMPARE(defaultNodeId(QStringLiteral("plc 1"), QStringLiteral("/dev/ttyUSB0")),
                 QStringLiteral("plc_1-ttyUSB0"));
        QCOMPARE(validId(QStringLiteral("a+b#c")), QStringLiteral("a_b_c"));
        QCOMPARE(deviceId(7), QStringLiteral("s07"));
        QCOMPARE(deviceId(247), QStringLiteral("s247"));
        QString why;
        QVERIFY(checkId(QStringLiteral("Plant-1"), &why));
        QVERIFY(!checkId(QStringLiteral("Plant/1"), &why));
        QVERIFY(!checkId(QString(), &why));
    }

    void hostState_data()
    {
        QTest::addColumn<QByteArray>("bytes");
        QTest::addColumn<bool>("valid");
        QTest::addColumn<bool>("online");
        QTest::newRow("online") << QByteArray(R"({"online":true,"timestamp":1765440000000})")
                                << true << true;
        QTest::newRow("offline") << QByteArray(R"({"timestamp":5,"online":false})") << true
                                 << false;
        QTest::newRow("2.2 text") << QByteArray("ONLINE") << false << false;
        QTest::newRow("online as text")
            << QByteArray(R"({"online":"true","timestamp":1})") << false << false;
        QTest::newRow("no timestamp") << QByteArray(R"({"online":true})") << false << false;
        QTest::newRow("fractional timestamp")
            << QByteArray(R"({"online":true,"timestamp":1.5})") << false << false;
    }

    void hostState()
    {
        QFETCH(QByteArray, bytes);
        QFETCH(bool, valid);
        QFETCH(bool, online);
        HostState state;
        QString why;
        QCOMPARE(parseHostState(bytes, &state, &why), valid);
        if (valid) {
            QCOMPARE(state.online, online);
            HostState again;
            QVERIFY(parseHostState(hostStatePayload(state), &again, &why));
            QCOMPARE(again.online, state.online);
            QCOMPARE(again.timestamp, state.timestamp);
        }
    }
};

QTEST_GUILESS_MAIN(TestSparkplug)
#include "tst_sparkplug.moc"
