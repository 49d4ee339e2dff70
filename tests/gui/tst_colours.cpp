// Row colours after an exchange.
#include "gui/colours.h"

#include <QtTest>

class TestColours : public QObject
{
    Q_OBJECT

private slots:
    void colours_data()
    {
        QTest::addColumn<int>("error");
        QTest::addColumn<int>("coil");
        QTest::addColumn<QColor>("colour");
        QTest::newRow("rejected command") << 1 << 0 << QColor(0x1E90FF);
        QTest::newRow("no answer") << 6 << 1 << QColor(0xC0C0C0);
        QTest::newRow("coil set") << 0 << 1 << QColor(0xFF9980);
        QTest::newRow("coil clear") << 0 << 0 << QColor(0xFFFFFF);
    }

    void colours()
    {
        QFETCH(int, error);
        QFETCH(int, coil);
        QFETCH(QColor, colour);
        QCOMPARE(exchangeColour(error, quint8(coil)), colour);
    }
};

QTEST_APPLESS_MAIN(TestColours)
#include "tst_colours.moc"
