// The sensor types: which word names which, and how each one's measured word becomes a value.
#include "codec/sensortype.h"

#include <QtTest>
#include <cmath>

Q_DECLARE_METATYPE(SensorType)

class TestSensorType : public QObject
{
    Q_OBJECT

private slots:
    void types_data()
    {
        QTest::addColumn<int>("word");
        QTest::addColumn<int>("measure");
        QTest::addColumn<SensorType>("type");
        QTest::addColumn<double>("value"); // NaN: none
        QTest::addColumn<QString>("text");
        QTest::newRow("temperature") << 1 << -2345 << SensorType::Temperature << -23.45
                                     << QStringLiteral("датчик температуры");
        QTest::newRow("voltage") << 2 << 230 << SensorType::Voltage << 230.0
                                 << QStringLiteral("датчик напряжения");
        QTest::newRow("no word") << 0 << 230 << SensorType::Undetermined << double(NAN)
                                 << QStringLiteral("тип не определён");
        QTest::newRow("unknown word") << 3 << 230 << SensorType::Undetermined << double(NAN)
                                      << QStringLiteral("тип не определён");
        QTest::newRow("garbage word") << 0xFFFF << 1 << SensorType::Undetermined << double(NAN)
                                      << QStringLiteral("тип не определён");
    }

    void types()
    {
        QFETCH(int, word);
        QFETCH(int, measure);
        QFETCH(SensorType, type);
        QFETCH(double, value);
        QFETCH(QString, text);
        ParamBlock param{};
        param.sensorType = quint16(word);
        param.measure = qint16(measure);

        QCOMPARE(sensorTypeOf(param), type);
        QCOMPARE(sensorTraits(type).text, text);
        const double measured = measuredValue(param);
        if (std::isnan(value))
            QVERIFY(std::isnan(measured));
        else
            QCOMPARE(measured, value);
        // Only a known type has a unit, and only the voltage sensor is calibrated here.
        QCOMPARE(sensorTraits(type).unit.isEmpty(), type == SensorType::Undetermined);
        QCOMPARE(sensorTraits(type).calibrated, type == SensorType::Voltage);
    }
};

QTEST_GUILESS_MAIN(TestSensorType)
#include "tst_sensortype.moc"
