// Texts shown for a sensor: its device list row and its measured value.
#include "core/sensor/format.h"

#include <QtTest>

class TestFormat : public QObject
{
    Q_OBJECT

private slots:
    void rowText()
    {
        DeviceVEL_DUO300 dev{};
        dev.addr = 5;
        dev.baudrate = 9600;
        setNameText(dev.ust, QStringLiteral("Ф1"));
        QCOMPARE(deviceRowText(dev), QStringLiteral("5\t9600\tФ1") + QString(14, QChar(0)));
        dev.commError = true;
        QCOMPARE(deviceRowText(dev), QStringLiteral("5\t9600"));
        dev.addr = -3;
        QCOMPARE(deviceRowText(dev), QStringLiteral("-3\t9600"));
        // It answered "nonexistent command", as a sensor left in its loader does.
        dev.cmdRejected = true;
        QCOMPARE(deviceRowText(dev),
                 QStringLiteral("-3\t9600\tв загрузчике: «Перепрограммирование»"));
    }

    void measure_data()
    {
        QTest::addColumn<int>("type");
        QTest::addColumn<int>("measure");
        QTest::addColumn<QString>("text");
        QTest::newRow("voltage -12") << 2 << -12 << QStringLiteral("-12");
        QTest::newRow("temperature 2345") << 1 << 2345 << QStringLiteral("23.45");
        QTest::newRow("temperature -50") << 1 << -50 << QStringLiteral("-0.5");
        QTest::newRow("temperature 12345678 rounds to 6 digits")
            << 1 << 32767 << QStringLiteral("327.67");
        QTest::newRow("unknown type") << 7 << 100 << QStringLiteral("Ошибка!");
    }

    void measure()
    {
        QFETCH(int, type);
        QFETCH(int, measure);
        QFETCH(QString, text);
        ParamBlock param{};
        param.sensorType = quint16(type);
        param.measure = qint16(measure);
        QCOMPARE(measureText(param), text);
    }
};

QTEST_APPLESS_MAIN(TestFormat)
#include "tst_format.moc"
