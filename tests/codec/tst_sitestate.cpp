// What a line tells its subscribers besides its readings: a sensor's retained state after a
// failed poll, the line's own state, and the line file on one line.
#include "codec/linefile.h"
#include "codec/sitepayloads.h"

#include <QtTest>

class TestSiteState : public QObject
{
    Q_OBJECT

private slots:
    // After a failed poll the state keeps the type, unit, name and the last value with its time;
    // the error tells the failure, and a reader gets the last answer back.
    void failedPollKeepsTheLastAnswer()
    {
        DeviceVEL_DUO300 dev;
        dev.addr = 2;
        dev.baudrate = 38400;
        dev.ustRead = true;
        setNameText(dev.ust, QStringLiteral("Шина А"));
        dev.param.sensorType = 1;
        Reading answer;
        answer.msecs = 1700000000123;
        answer.addr = 2;
        answer.baudrate = 38400;
        answer.sensorType = SensorType::Temperature;
        answer.measure = 2487;
        answer.adc = 2048;
        Reading failure = answer;
        failure.msecs += 5000;
        failure.error = 6;
        failure.sensorType = SensorType::Undetermined;
        failure.measure = 0;
        failure.adc = 0;
        const QString reason = QStringLiteral("Связь с портом потеряна: адаптер отключён.");

        SensorState state(2, 38400);
        state.take(answer);
        state.take(failure, reason);
        const QByteArray payload = broker::sensorPayload(dev, state, 3);
        QVERIFY(!payload.contains('\n'));
        const QJsonObject object = QJsonDocument::fromJson(payload).object();
        QCOMPARE(object.value("error").toInt(), 6);
        QCOMPARE(object.value("text").toString(), reason);
        QCOMPARE(object.value("type").toInt(), 1);
        QCOMPARE(object.value("unit").toString(), QStringLiteral("°C"));
        QCOMPARE(object.value("measure").toDouble(), 24.87);
        QCOMPARE(object.value("name").toString(), QStringLiteral("Шина А"));
        QCOMPARE(object.value("answeredAt").toString(), QStringLiteral("2023-11-14T22:13:20.123Z"));
        QCOMPARE(object.value("readAt").toString(), QStringLiteral("2023-11-14T22:13:25.123Z"));

        broker::SensorReport report;
        QString why;
        QVERIFY2(broker::parseSensorPayload(payload, &report, &why), qPrintable(why));
        QCOMPARE(report.reading.error, 6);
        QCOMPARE(report.text, reason);
        QVERIFY(report.lastAnswer);
        QCOMPARE(report.lastAnswer->msecs, answer.msecs);
        QCOMPARE(report.lastAnswer->measure, answer.measure);
        QCOMPARE(report.lastAnswer->sensorType, SensorType::Temperature);
        QVERIFY(report.lastAnswer->ok());

        // A sensor that never answered has nothing to keep; an answer carries its own values.
        SensorState unanswered(2, 38400);
        unanswered.take(failure);
        const QByteArray never = broker::sensorPayload(DeviceVEL_DUO300(), unanswered, 0);
        QVERIFY(!QJsonDocument::fromJson(never).object().contains("type"));
        QVERIFY(broker::parseSensorPayload(never, &report, &why));
        QVERIFY(!report.lastAnswer);
        SensorState answered(2, 38400);
        answered.take(answer);
        QVERIFY(broker::parseSensorPayload(broker::sensorPayload(dev, answered, 0), &report, &why));
        QVERIFY(!report.lastAnswer);
        QCOMPARE(report.reading.measure, answer.measure);

        // A kept value that no publisher could send is refused like any other.
        QByteArray broken = payload;
        broken.replace("\"adc\":2048", "\"adc\":-1");
        QVERIFY(!broker::parseSensorPayload(broken, &report, &why));
        QVERIFY(why.contains("adc"));
    }

    void lineState_data()
    {
        QTest::addColumn<QString>("state");
        QTest::addColumn<QString>("text");
        QTest::addColumn<QString>("system");
        QTest::newRow("polling") << broker::linestate::polling << QString() << QString();
        QTest::newRow("port lost")
            << broker::linestate::portLost << "Связь с портом потеряна: адаптер отключён."
            << "Input/output error";
        QTest::newRow("stopping") << broker::linestate::stopping << "завершение по сигналу"
                                  << QString();
    }

    void lineState()
    {
        QFETCH(QString, state);
        QFETCH(QString, text);
        QFETCH(QString, system);
        QCOMPARE(broker::stateTopic(QStringLiteral("velduo/a/ttyUSB0")),
                 QStringLiteral("velduo/a/ttyUSB0/state"));
        const QByteArray payload =
            broker::statePayload({state, 1700000000123, text, system}, 42, 7);
        QVERIFY(!payload.contains('\n'));
        const QJsonObject object = QJsonDocument::fromJson(payload).object();
        QCOMPARE(object.value("v").toInt(), 1);
        QCOMPARE(object.value("state").toString(), state);
        QCOMPARE(object.value("since").toString(), QStringLiteral("2023-11-14T22:13:20.123Z"));
        QCOMPARE(object.value("queued").toInt(), 42);
        QCOMPARE(object.value("dropped").toInt(), 7);
        QCOMPARE(object.value("text").toString(), text);
        QCOMPARE(object.contains("text"), !text.isEmpty());
        QCOMPARE(object.value("system").toString(), system);
    }

    // The line file on one line reads back as the same line, strings' spaces and escapes kept.
    // What a row shows of a text from the network: within its room, nothing that reorders it.
    void shownText_data()
    {
        QTest::addColumn<QString>("text");
        QTest::addColumn<QString>("shown");
        QTest::newRow("short") << QStringLiteral("line7") << QStringLiteral("line7");
        QTest::newRow("long") << QStringLiteral("abcdefghijk")
                              << QStringLiteral("abcdefghi") + QChar(0x2026);
        QTest::newRow("override") << QStringLiteral("a") + QChar(0x202E) + QStringLiteral("b")
                                  << QStringLiteral("a\\u202eb");
        QTest::newRow("an escape past the room at the end")
            << QStringLiteral("abcdefgh") + QChar(0x0001)
            << QStringLiteral("abcdefgh") + QChar(0x2026);
    }

    void shownText()
    {
        QFETCH(QString, text);
        QFETCH(QString, shown);
        QCOMPARE(broker::shownText(text, 10), shown);
    }

    void compactLineFile()
    {
        linefile::Line line;
        line.port = QStringLiteral("/dev/serial/by-id/usb-FTDI A \"x\"");
        linefile::Sensor sensor;
        sensor.address = 5;
        sensor.speed = 9600;
        sensor.answered = false;
        line.sensors = {sensor, sensor};
        line.sensors[1].address = 6;
        const QByteArray compact = linefile::toCompactJson(line);
        QVERIFY(!compact.contains('\n'));
        QVERIFY(!compact.contains("\": "));
        QVERIFY(compact.startsWith("{\"format\":\"velduo-line\""));
        const linefile::ReadResult back = linefile::parse(compact, linefile::Mode::File);
        QVERIFY2(back.ok(), qPrintable(back.refusal));
        QCOMPARE(back.line, line);
    }
};

QTEST_APPLESS_MAIN(TestSiteState)
#include "tst_sitestate.moc"
