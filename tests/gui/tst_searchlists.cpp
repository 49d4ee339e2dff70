// The speed and address lists that the automatic search scans, and their numeric order.
#include "gui/listtexts.h"
#include "core/devices/searchplan.h"
#include "support/windowbench.h"

#include <QtTest>
#include <QtWidgets>

namespace {

QStringList comboTexts(const QComboBox* box)
{
    QStringList texts;
    for (int i = 0; i < box->count(); ++i)
        texts << box->itemText(i);
    return texts;
}

QStringList numbers(int from, int to, std::initializer_list<int> without = {})
{
    QStringList texts;
    for (int n = from; n <= to; ++n)
        if (std::find(without.begin(), without.end(), n) == without.end())
            texts << QString::number(n);
    return texts;
}

const QStringList allSpeeds{"115200", "57600", "38400", "19200", "9600", "4800", "2400", "1200"};

} // namespace

class TestSearchLists : public QObject
{
    Q_OBJECT

private slots:
    void numericSort_data()
    {
        QTest::addColumn<QStringList>("texts");
        QTest::addColumn<int>("order");
        QTest::addColumn<QStringList>("sorted");
        QTest::newRow("ascending by value, not by text")
            << QStringList{"10", "9", "31", "2"} << int(Qt::AscendingOrder)
            << QStringList{"2", "9", "10", "31"};
        QTest::newRow("descending by value")
            << QStringList{"9600", "115200", "57600"} << int(Qt::DescendingOrder)
            << QStringList{"115200", "57600", "9600"};
        QTest::newRow("no number reads 0")
            << QStringList{"5", "abc", ""} << int(Qt::AscendingOrder) << QStringList{"0", "0", "5"};
        QTest::newRow("written without leading zeros")
            << QStringList{"007", "12"} << int(Qt::DescendingOrder) << QStringList{"12", "7"};
        QTest::newRow("empty") << QStringList() << int(Qt::AscendingOrder) << QStringList();
    }

    void numericSort()
    {
        QFETCH(QStringList, texts);
        QFETCH(int, order);
        QFETCH(QStringList, sorted);
        QCOMPARE(sortedNumerically(texts, Qt::SortOrder(order)), sorted);
    }

    // Actions: "select:ROW" makes ROW current, "add:TEXT" picks TEXT in the combo box (keeps
    // it when empty) and clicks the add button, "remove" clicks the remove button,
    // "rightclick" asks for the list's context menu.
    void editing_data()
    {
        QTest::addColumn<bool>("speeds");
        QTest::addColumn<QStringList>("actions");
        QTest::addColumn<QStringList>("rows");
        QTest::addColumn<int>("current");
        QTest::addColumn<QStringList>("combo");
        QTest::addColumn<bool>("removable");

        QTest::newRow("adding a speed sorts and selects row 0")
            << true << QStringList{"add:57600"} << QStringList{"115200", "57600", "38400", "9600"}
            << 0 << allSpeeds << true;
        QTest::newRow("adding a listed speed changes nothing")
            << true << QStringList{"add:57600", "select:2", "add:57600"}
            << QStringList{"115200", "57600", "38400", "9600"} << 2 << allSpeeds << true;
        QTest::newRow("removing a speed keeps the row")
            << true << QStringList{"select:1", "remove"} << QStringList{"115200", "9600"} << 1
            << allSpeeds << true;
        QTest::newRow("removing the last speed selects the new last")
            << true << QStringList{"select:2", "remove"} << QStringList{"115200", "38400"} << 1
            << allSpeeds << true;
        QTest::newRow("removing the only speed leaves none current")
            << true << QStringList{"select:2", "remove", "select:1", "remove", "select:0", "remove"}
            << QStringList() << -1 << allSpeeds << false;
        QTest::newRow("right click removes a speed")
            << true << QStringList{"select:0", "rightclick"} << QStringList{"38400", "9600"} << 0
            << allSpeeds << true;
        QTest::newRow("right click without a current speed does nothing")
            << true << QStringList{"rightclick"} << QStringList{"115200", "38400", "9600"} << -1
            << allSpeeds << false;
        QTest::newRow("speed remove button follows the selection")
            << true << QStringList{"select:1", "select:-1"}
            << QStringList{"115200", "38400", "9600"} << -1 << allSpeeds << false;

        QTest::newRow("removing address 5 moves it to the combo box")
            << false << QStringList{"select:4", "remove"} << numbers(1, 31, {5}) << 4
            << QStringList{"5"} << true;
        QTest::newRow("removed addresses are sorted by value")
            << false
            << QStringList{"select:9", "remove", "select:1", "remove", "select:2", "remove"}
            << numbers(1, 31, {2, 4, 10}) << 2 << QStringList{"2", "4", "10"} << true;
        QTest::newRow("adding an address back takes it out of the combo box")
            << false << QStringList{"select:4", "remove", "select:2", "remove", "add:5"}
            << numbers(1, 31, {3}) << -1 << QStringList{"3"} << false;
        QTest::newRow("after adding an address no row is current")
            << false << QStringList{"select:4", "remove", "select:7", "add:5"} << numbers(1, 31)
            << -1 << QStringList() << false;
        QTest::newRow("adding from an empty combo box does nothing")
            << false << QStringList{"select:3", "add:"} << numbers(1, 31) << 3 << QStringList()
            << true;
        QTest::newRow("removing the last address selects the new last")
            << false << QStringList{"select:30", "rightclick"} << numbers(1, 30) << 29
            << QStringList{"31"} << true;
        QTest::newRow("address remove button follows the selection")
            << false << QStringList{"select:0"} << numbers(1, 31) << 0 << QStringList() << true;
    }

    void editing()
    {
        QFETCH(bool, speeds);
        QFETCH(QStringList, actions);
        QFETCH(QStringList, rows);
        QFETCH(int, current);
        QFETCH(QStringList, combo);
        QFETCH(bool, removable);

        WindowBench b;
        auto* list = b.find<QListWidget>(speeds ? "listWidgetSpeed" : "listWidgetAddr");
        auto* box = b.find<QComboBox>(speeds ? "comboBoxSearchSpeed" : "comboBoxSearchAddr");
        auto* add = b.find<QPushButton>(speeds ? "btnAddSpeed" : "btnAddAddr");
        auto* remove = b.find<QPushButton>(speeds ? "btnRmSpeed" : "btnRmAddr");
        QVERIFY(!remove->isEnabled());

        for (const QString& action : actions) {
            const QString arg = action.section(QLatin1Char(':'), 1);
            if (action.startsWith(QLatin1String("select:"))) {
                list->setCurrentRow(arg.toInt());
            } else if (action.startsWith(QLatin1String("add:"))) {
                if (!arg.isEmpty())
                    box->setCurrentIndex(box->findText(arg));
                add->click();
            } else if (action == QLatin1String("remove")) {
                QVERIFY(remove->isEnabled());
                remove->click();
            } else {
                QContextMenuEvent event(QContextMenuEvent::Mouse, QPoint(2, 2));
                QApplication::sendEvent(list->viewport(), &event);
            }
        }

        QCOMPARE(listTexts(list), rows);
        QCOMPARE(list->currentRow(), current);
        QCOMPARE(comboTexts(box), combo);
        QCOMPARE(remove->isEnabled(), removable);
        // No menu opens on a right click.
        QVERIFY(!QApplication::activePopupWidget());
    }
};

QTEST_MAIN(TestSearchLists)
#include "tst_searchlists.moc"
