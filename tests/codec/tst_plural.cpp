// The Russian form of a noun after a count.
#include "codec/plural.h"

#include <QtTest>

class TestPlural : public QObject
{
    Q_OBJECT

private slots:
    void forms_data()
    {
        QTest::addColumn<qint64>("count");
        QTest::addColumn<QString>("readings");
        QTest::addColumn<QString>("bytes");
        const auto row = [](qint64 count, const char* readings, const char* bytes) {
            QTest::addRow("%lld", static_cast<long long>(count))
                << count << QString::fromUtf8(readings) << QString::fromUtf8(bytes);
        };
        row(0, "0 показаний", "0 байт");
        row(1, "1 показание", "1 байт");
        row(2, "2 показания", "2 байта");
        row(4, "4 показания", "4 байта");
        row(5, "5 показаний", "5 байт");
        row(11, "11 показаний", "11 байт");
        row(12, "12 показаний", "12 байт");
        row(14, "14 показаний", "14 байт");
        row(21, "21 показание", "21 байт");
        row(42, "42 показания", "42 байта");
        row(111, "111 показаний", "111 байт");
        row(112, "112 показаний", "112 байт");
        row(101, "101 показание", "101 байт");
        row(2002, "2002 показания", "2002 байта");
        row(111600, "111600 показаний", "111600 байт");
        row(-1, "-1 показание", "-1 байт");
    }

    void forms()
    {
        QFETCH(qint64, count);
        QFETCH(QString, readings);
        QFETCH(QString, bytes);
        QCOMPARE(readingsText(count), readings);
        QCOMPARE(bytesText(count), bytes);
    }
};

QTEST_APPLESS_MAIN(TestPlural)
#include "tst_plural.moc"
