// The main window as it stands right after construction, before any user action.
#include "support/windowbench.h"

#include <QtTest>
#include <QtWidgets>

namespace {

QStringList baudRateTexts()
{
    return {"115200", "57600", "38400", "19200", "9600", "4800", "2400", "1200"};
}

QStringList itemTexts(const QListWidget* list)
{
    QStringList texts;
    for (int i = 0; i < list->count(); ++i)
        texts << list->item(i)->text();
    return texts;
}

} // namespace

class TestMainWindow : public QObject
{
    Q_OBJECT

private slots:
    void initTestCase() { bench = std::make_unique<WindowBench>(); }
    void cleanupTestCase() { bench.reset(); }

    void baudRateBoxes_data()
    {
        QTest::addColumn<QString>("name");
        QTest::addColumn<int>("current");
        QTest::newRow("BaudRateBox") << "BaudRateBox" << 0;
        QTest::newRow("comboBoxSearchSpeed") << "comboBoxSearchSpeed" << 0;
        QTest::newRow("comboBoxUstSpeed") << "comboBoxUstSpeed" << -1;
    }

    void baudRateBoxes()
    {
        QFETCH(QString, name);
        QFETCH(int, current);
        auto* box = bench->find<QComboBox>(qPrintable(name));
        const QStringList texts = baudRateTexts();
        QCOMPARE(box->count(), texts.size());
        for (int i = 0; i < texts.size(); ++i) {
            QCOMPARE(box->itemText(i), texts.at(i));
            const QVariant data = box->itemData(i);
            QCOMPARE(data.userType(), int(QMetaType::Int));
            QCOMPARE(data.toInt(), texts.at(i).toInt());
        }
        QCOMPARE(box->currentIndex(), current);
        QCOMPARE(box->currentText(), current < 0 ? QString() : texts.at(current));
    }

    void searchLists()
    {
        QCOMPARE(itemTexts(bench->find<QListWidget>("listWidgetSpeed")),
                 QStringList({"115200", "38400", "9600"}));
        QStringList addresses;
        for (int addr = 1; addr <= 31; ++addr)
            addresses << QString::number(addr);
        QCOMPARE(itemTexts(bench->find<QListWidget>("listWidgetAddr")), addresses);
        QCOMPARE(bench->find<QComboBox>("comboBoxSearchAddr")->count(), 0);
    }

    void disabledAtStart_data()
    {
        QTest::addColumn<QString>("name");
        for (const char* name :
             {"BtnReadUst", "BtnWriteUst", "BtnReprog2", "BtnSetZero", "BtnSetNom", "BtnRmDevice",
              "BtnWriteAddr", "BtnSetDefault", "btnRmAddr", "btnRmSpeed"})
            QTest::newRow(name) << name;
    }

    void disabledAtStart()
    {
        QFETCH(QString, name);
        QVERIFY(!bench->find<QWidget>(qPrintable(name))->isEnabled());
    }

    void enabledAtStart_data()
    {
        QTest::addColumn<QString>("name");
        // The calibration group itself stays usable; only its buttons wait for a sensor.
        for (const char* name : {"groupBox_11", "Btn_Search", "btnAddDevice", "BtnAutoSearch",
                                 "btnAddSpeed", "btnAddAddr", "cBtnClear"})
            QTest::newRow(name) << name;
    }

    void enabledAtStart()
    {
        QFETCH(QString, name);
        QVERIFY(bench->find<QWidget>(qPrintable(name))->isEnabled());
    }

    void hiddenAtStart_data()
    {
        QTest::addColumn<QString>("name");
        for (const char* name :
             {"statusBar", "groupBox_12", "lineEditReprogFilePath", "BtnSetFile"})
            QTest::newRow(name) << name;
    }

    void hiddenAtStart()
    {
        QFETCH(QString, name);
        QWidget* widget = bench->find<QWidget>(qPrintable(name));
        QVERIFY(widget->isHidden());
        QVERIFY(!widget->isVisibleTo(bench->window.get()));
    }

    void validators_data()
    {
        QTest::addColumn<QString>("name");
        QTest::addColumn<QString>("input");
        QTest::addColumn<bool>("acceptable");
        for (const char* name : {"lineEditAddrMB", "lineEditAddrDevice"}) {
            const QByteArray row(name);
            QTest::newRow(row + " 1") << name << "1" << true;
            QTest::newRow(row + " 32") << name << "32" << true;
            QTest::newRow(row + " 0") << name << "0" << false;
            QTest::newRow(row + " 33") << name << "33" << false;
            QTest::newRow(row + " -1") << name << "-1" << false;
        }
        const char* ust = "lineEditUstThreshold";
        QTest::newRow("ust -30000") << ust << "-30000" << true;
        QTest::newRow("ust 30000") << ust << "30000" << true;
        QTest::newRow("ust 0") << ust << "0" << true;
        QTest::newRow("ust -30001") << ust << "-30001" << false;
        QTest::newRow("ust 30001") << ust << "30001" << false;
    }

    void validators()
    {
        QFETCH(QString, name);
        QFETCH(QString, input);
        QFETCH(bool, acceptable);
        const QValidator* validator = bench->find<QLineEdit>(qPrintable(name))->validator();
        QVERIFY(validator);
        int pos = 0;
        QCOMPARE(validator->validate(input, pos) == QValidator::Acceptable, acceptable);
    }

    void lineEdits_data()
    {
        QTest::addColumn<QString>("name");
        QTest::addColumn<int>("maxLength");
        QTest::addColumn<QString>("text");
        QTest::newRow("lineEditAddrMB") << "lineEditAddrMB" << 2 << "1";
        QTest::newRow("lineEditUstThreshold") << "lineEditUstThreshold" << 6 << "";
        QTest::newRow("lineEditNameDevice") << "lineEditNameDevice" << 16 << "";
    }

    void lineEdits()
    {
        QFETCH(QString, name);
        QFETCH(int, maxLength);
        QFETCH(QString, text);
        auto* edit = bench->find<QLineEdit>(qPrintable(name));
        QCOMPARE(edit->maxLength(), maxLength);
        QCOMPARE(edit->text(), text);
    }

    void window()
    {
        MainWindow* window = bench->window.get();
        QCOMPARE(window->objectName(), QStringLiteral("MainWindow"));
        QCOMPARE(window->windowTitle(), QStringLiteral("Конфигуратор бесконтактных датчиков"));
        // The designed size, grown only as far as the fonts need.
        QCOMPARE(window->size(), QSize(1098, 704).expandedTo(window->sizeHint()));
        QCOMPARE(window->sizePolicy().horizontalPolicy(), QSizePolicy::Fixed);
        QCOMPARE(window->sizePolicy().verticalPolicy(), QSizePolicy::Fixed);

        auto* tabs = bench->find<QTabWidget>("tabWidget");
        QCOMPARE(tabs->currentIndex(), 0);
        QCOMPARE(tabs->currentWidget(), bench->find<QWidget>("tab_3"));
        QCOMPARE(tabs->tabText(0), QStringLiteral("Добавление устройств"));
        QCOMPARE(bench->find<QGroupBox>("groupBox_12")->title(), QString());
    }

    void focusChain()
    {
        const QStringList expected = {
            "BtnRmDevice",        "Btn_Search",       "PortNameBox",
            "BaudRateBox",        "lineEditAddrMB",   "btnAddDevice",
            "btnAddSpeed",        "btnRmSpeed",       "comboBoxSearchSpeed",
            "listWidgetSpeed",    "btnRmAddr",        "comboBoxSearchAddr",
            "btnAddAddr",         "listWidgetAddr",   "BtnAutoSearch",
            "lineEditWorkTime",   "lineEditMeasure",  "lineEditVersion",
            "BtnWriteUst",        "BtnReadUst",       "lineEditUstThreshold",
            "lineEditNameDevice", "comboBoxUstSpeed", "lineEditAddrDevice",
            "BtnWriteAddr",       "cBtnClear",        "consol",
            "BtnReprog2",         "BtnSetFile",       "lineEditReprogFilePath",
            "lineEditMax",        "lineEditMin",      "lineEditDiscret",
            "BtnSetZero",         "BtnSetNom",        "lineEditVoltage",
            "BtnSetDefault"};
        MainWindow* window = bench->window.get();
        QStringList chain;
        for (QWidget* w = window->nextInFocusChain(); w && w != window; w = w->nextInFocusChain()) {
            if (w->focusPolicy() != Qt::NoFocus && expected.contains(w->objectName()))
                chain << w->objectName();
        }
        QCOMPARE(chain, expected);
    }

    void deviceListNeverTakesFocus()
    {
        auto* list = bench->find<QListWidget>("listWidgetDevices");
        QCOMPARE(list->focusPolicy(), Qt::NoFocus);
        QCOMPARE(list->currentRow(), -1);
        QCOMPARE(list->count(), 0);
    }

    void contextMenuPolicy_data()
    {
        QTest::addColumn<QString>("name");
        for (const char* name : {"listWidgetDevices", "listWidgetSpeed", "listWidgetAddr"})
            QTest::newRow(name) << name;
    }

    void contextMenuPolicy()
    {
        QFETCH(QString, name);
        QCOMPARE(bench->find<QListWidget>(qPrintable(name))->contextMenuPolicy(),
                 Qt::CustomContextMenu);
    }

    void menus()
    {
        auto* view = bench->find<QMenu>("menuView");
        // Each opens with Alt and its underlined letter.
        QCOMPARE(view->title(), QStringLiteral("&Вид"));
        auto* menu = bench->find<QMenu>("menu");
        QCOMPARE(menu->title(), QStringLiteral("&Справка"));
        QCOMPARE(bench->find<QMenu>("menuFile")->title(), QStringLiteral("&Файл"));
        QCOMPARE(bench->find<QAction>("actionSiteView")->shortcut(),
                 QKeySequence(QStringLiteral("Ctrl+Shift+L")));
        // F10 opens the first.
        bench->window->show();
        QVERIFY(QTest::qWaitForWindowExposed(bench->window.get()));
        bench->window->activateWindow();
        QTest::keyClick(bench->window.get(), Qt::Key_F10);
        QTRY_COMPARE(bench->window->menuBar()->activeAction(),
                     bench->find<QMenu>("menuFile")->menuAction());
        QTest::keyClick(bench->window->menuBar(), Qt::Key_Escape);
        const QList<QAction*> bar = bench->window->menuBar()->actions();
        // "Файл" first, "Вид" after it, "Справка" last.
        QCOMPARE(bar.size(), 3);
        QCOMPARE(bar.at(0), bench->find<QMenu>("menuFile")->menuAction());
        QCOMPARE(bar.at(1), view->menuAction());
        QCOMPARE(bar.at(2), menu->menuAction());

        QCOMPARE(view->actions().size(), 2);
        QAction* overview = view->actions().first();
        QCOMPARE(overview->objectName(), QStringLiteral("actionLineOverview"));
        QCOMPARE(overview->text(), QStringLiteral("Обзор линии"));
        QCOMPARE(overview->shortcut(), QKeySequence(QStringLiteral("Ctrl+L")));
        QAction* site = view->actions().at(1);
        QCOMPARE(site->objectName(), QStringLiteral("actionSiteView"));
        QCOMPARE(site->text(), QStringLiteral("Обзор площадки…"));

        const QList<QAction*> actions = menu->actions();
        QCOMPARE(actions.size(), 2);
        QCOMPARE(actions.at(0)->objectName(), QStringLiteral("actionAboutApplication"));
        QCOMPARE(actions.at(0)->text(), QStringLiteral("О программе"));
        QCOMPARE(actions.at(1)->objectName(), QStringLiteral("actionAboutSensor"));
        QCOMPARE(actions.at(1)->text(), QStringLiteral("Описание датчика VEL_DUO300"));
        for (QAction* action : actions)
            QCOMPARE(action->parent(), bench->window.get());
    }

    // Changes the window's state, so it runs last.
    void rightClickOnDeviceListRemovesWithoutMenu()
    {
        bench->bus.addSensor(1, 9600, SensorType::Voltage);
        bench->addByHand(1, 9600);
        auto* list = bench->find<QListWidget>("listWidgetDevices");
        QCOMPARE(list->count(), 1);
        QCOMPARE(bench->window->deviceRecords().size(), 1);

        // The event a right mouse button gives, delivered where the platform delivers it.
        QContextMenuEvent event(QContextMenuEvent::Mouse,
                                list->visualItemRect(list->item(0)).center());
        QApplication::sendEvent(list->viewport(), &event);
        QVERIFY(!QApplication::activePopupWidget());
        QCOMPARE(bench->window->deviceRecords().size(), 1); // only requested so far

        bench->invoke("slotSendTimerOut");
        QCOMPARE(bench->window->deviceRecords().size(), 0);
        QCOMPARE(list->count(), 0);
        QVERIFY(!QApplication::activePopupWidget());
    }

private:
    std::unique_ptr<WindowBench> bench;
};

QTEST_MAIN(TestMainWindow)
#include "tst_mainwindow.moc"
