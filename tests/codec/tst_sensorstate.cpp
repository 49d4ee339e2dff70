// What one sensor's state makes of its polls: the overviews' rows, the site's sensors and the
// sensor's retained state on a broker all take them the same way.
#include "codec/sensorstate.h"

#include <QtTest>
#include <cmath>

namespace {

// One poll as a state is given it: the reading, a failure's text, and the last answer a
// sensor's retained state brings along (msecs 0: none).
struct Poll
{
    Reading reading;
    QString failure;
    Reading lastAnswer;
};

Reading answer(qint64 msecs, SensorType type, qint16 measure, quint16 adc = 2048, quint8 coil = 0)
{
    Reading r;
    r.msecs = msecs;
    r.addr = 7;
    r.baudrate = 9600;
    r.sensorType = type;
    r.measure = measure;
    r.adc = adc;
    r.coil = coil;
    return r;
}

Reading failed(qint64 msecs, int error = 6)
{
    Reading r;
    r.msecs = msecs;
    r.addr = 7;
    r.baudrate = 9600;
    r.error = error;
    return r;
}

bool take(SensorState& state, const Poll& poll)
{
    return state.take(poll.reading, poll.failure,
                      poll.lastAnswer.msecs ? std::optional<Reading>(poll.lastAnswer)
                                            : std::nullopt);
}

const QString noAnswer = QStringLiteral("Нет ответа");
const QString portLost = QStringLiteral("Связь с портом потеряна: адаптер отключён.");

} // namespace

Q_DECLARE_METATYPE(Poll)

class TestSensorState : public QObject
{
    Q_OBJECT

private slots:
    void takesAPoll_data()
    {
        QTest::addColumn<QVector<Poll>>("before");
        QTest::addColumn<Poll>("poll");
        QTest::addColumn<bool>("taken");
        // The answer whose values the state shows afterwards; msecs 0: none yet.
        QTest::addColumn<Reading>("values");
        QTest::addColumn<qint64>("lastAt");
        QTest::addColumn<int>("lastError");
        QTest::addColumn<QString>("errorText");
        QTest::addColumn<double>("value"); // NaN: none

        const Reading voltage = answer(1000, SensorType::Voltage, 230, 3012, 1);
        const Reading temperature = answer(1000, SensorType::Temperature, -2345, 17, 1);
        const Reading later = answer(2000, SensorType::Voltage, 231, 3020);
        QTest::newRow("an answer") << QVector<Poll>{} << Poll{voltage, {}, {}} << true << voltage
                                   << qint64(1000) << 0 << QString() << 230.0;
        QTest::newRow("a failed poll keeps the last answer's values")
            << QVector<Poll>{{temperature, {}, {}}} << Poll{failed(2000), noAnswer, {}} << true
            << temperature << qint64(2000) << 6 << noAnswer << -23.45;
        QTest::newRow("a failure's text may be left to its code")
            << QVector<Poll>{{temperature, {}, {}}} << Poll{failed(2000), {}, {}} << true
            << temperature << qint64(2000) << 6 << QString() << -23.45;
        QTest::newRow("a failure before any answer")
            << QVector<Poll>{} << Poll{failed(2000, 2), portLost, {}} << true << Reading()
            << qint64(2000) << 2 << portLost << double(NAN);
        QTest::newRow("an answer after a failure clears its text")
            << QVector<Poll>{{voltage, {}, {}}, {failed(1500), noAnswer, {}}} << Poll{later, {}, {}}
            << true << later << qint64(2000) << 0 << QString() << 231.0;
        QTest::newRow("an older answer changes nothing")
            << QVector<Poll>{{later, {}, {}}} << Poll{voltage, {}, {}} << false << later
            << qint64(2000) << 0 << QString() << 231.0;
        QTest::newRow("an older failure changes nothing")
            << QVector<Poll>{{later, {}, {}}} << Poll{failed(1000), noAnswer, {}} << false << later
            << qint64(2000) << 0 << QString() << 231.0;
        // The reading and the state of one poll both come to a site's view.
        QTest::newRow("the same poll again is taken")
            << QVector<Poll>{{failed(2000), noAnswer, {}}} << Poll{later, {}, {}} << true << later
            << qint64(2000) << 0 << QString() << 231.0;
        QTest::newRow("undetermined type")
            << QVector<Poll>{} << Poll{answer(1000, SensorType::Undetermined, 100, 40), {}, {}}
            << true << answer(1000, SensorType::Undetermined, 100, 40) << qint64(1000) << 0
            << QString() << double(NAN);
        QTest::newRow("a failed state brings a newer last answer")
            << QVector<Poll>{{voltage, {}, {}}} << Poll{failed(3000), portLost, later} << true
            << later << qint64(3000) << 6 << portLost << 231.0;
        QTest::newRow("a failed state's last answer before any answer")
            << QVector<Poll>{} << Poll{failed(3000), portLost, voltage} << true << voltage
            << qint64(3000) << 6 << portLost << 230.0;
        QTest::newRow("a last answer older than the values kept")
            << QVector<Poll>{{later, {}, {}}} << Poll{failed(3000), portLost, voltage} << true
            << later << qint64(3000) << 6 << portLost << 231.0;
    }

    void takesAPoll()
    {
        QFETCH(QVector<Poll>, before);
        QFETCH(Poll, poll);
        QFETCH(bool, taken);
        QFETCH(Reading, values);
        QFETCH(qint64, lastAt);
        QFETCH(int, lastError);
        QFETCH(QString, errorText);
        QFETCH(double, value);
        SensorState state(7, 9600);
        for (const Poll& p : before)
            QVERIFY(take(state, p));
        QCOMPARE(take(state, poll), taken);
        QCOMPARE(state.addr, 7);
        QCOMPARE(state.baudrate, 9600);
        QCOMPARE(state.answered, values.msecs != 0);
        QCOMPARE(state.answeredAt, values.msecs);
        QCOMPARE(state.type, values.sensorType);
        QCOMPARE(state.measure, values.measure);
        QCOMPARE(state.adc, values.adc);
        QCOMPARE(state.coil, values.coil);
        QCOMPARE(state.lastAt, lastAt);
        QCOMPARE(state.lastError, lastError);
        QCOMPARE(state.errorText, errorText);
        if (std::isnan(value))
            QVERIFY2(std::isnan(state.value()), qPrintable(QString::number(state.value())));
        else
            QCOMPARE(state.value(), value);
    }
};

QTEST_APPLESS_MAIN(TestSensorState)
#include "tst_sensorstate.moc"
