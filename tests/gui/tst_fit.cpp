// The window on a desktop: every caption whole at the default fonts and at twice their size,
// Qt's own texts in Russian, the monitor in a fixed-width font, the program's icon.
#include "gui/desktop.h"
#include "support/windowbench.h"

#include <QtTest>
#include <QtWidgets>

namespace {

// Widgets whose captions have been cut off on a desktop with larger fonts, and the tab each
// stands on (-1: outside the tabs).
struct Caption
{
    const char* name;
    int tab;
};
const Caption captions[] = {
    {"lSerialPort", -1},  {"PortNameBox", -1},  {"Btn_Search", -1},  {"BtnRmDevice", -1},
    {"LMeasure", 1},      {"LWorkTime", 1},     {"LNameDevice", 1},  {"LUstSpeed", 1},
    {"LUstThreshold", 1}, {"BtnAutoSearch", 0}, {"btnAddAddr", 0},   {"btnRmAddr", 0},
    {"btnAddSpeed", 0},   {"btnRmSpeed", 0},    {"btnAddDevice", 0}, {"BtnReprog2", 3},
    {"BtnSetDefault", 3},
};

QString clipped(QWidget* widget)
{
    const QSize hint = widget->sizeHint();
    const int needed =
        widget->hasHeightForWidth() ? widget->heightForWidth(widget->width()) : hint.height();
    if (qobject_cast<QLabel*>(widget) && qobject_cast<QLabel*>(widget)->wordWrap()) {
        if (widget->height() < needed)
            return QStringLiteral("%1 is %2 high, needs %3")
                .arg(widget->objectName())
                .arg(widget->height())
                .arg(needed);
        return QString();
    }
    if (widget->width() < hint.width() || widget->height() < needed)
        return QStringLiteral("%1 is %2x%3, needs %4x%5")
            .arg(widget->objectName())
            .arg(widget->width())
            .arg(widget->height())
            .arg(hint.width())
            .arg(needed);
    return QString();
}

} // namespace

class TestFit : public QObject
{
    Q_OBJECT

private slots:
    void initTestCase() { defaultFont = QApplication::font(); }

    void cleanup()
    {
        bench.reset();
        QApplication::setFont(defaultFont);
    }

    void captionsWhole_data()
    {
        QTest::addColumn<qreal>("scale");
        QTest::newRow("default fonts") << 1.0;
        QTest::newRow("font scale 2") << 2.0;
    }

    void captionsWhole()
    {
        QFETCH(qreal, scale);
        QFont font = defaultFont;
        font.setPointSizeF(defaultFont.pointSizeF() * scale);
        QApplication::setFont(font);
        bench = std::make_unique<WindowBench>();
        MainWindow* window = bench->window.get();
        window->show();
        QVERIFY(QTest::qWaitForWindowExposed(window));

        // The designed size is the least the window has.
        QVERIFY(window->width() >= 1098);
        QVERIFY(window->height() >= 704);

        auto* tabs = bench->find<QTabWidget>("tabWidget");
        QTabBar* bar = tabs->tabBar();
        for (QToolButton* arrow : bar->findChildren<QToolButton*>())
            QVERIFY2(!arrow->isVisible(), "the tab bar scrolls");
        for (int i = 0; i < bar->count(); ++i)
            QVERIFY2(bar->tabRect(i).width() >
                             bar->fontMetrics().horizontalAdvance(bar->tabText(i)) &&
                         bar->rect().contains(bar->tabRect(i)),
                     qPrintable(bar->tabText(i)));

        for (const Caption& caption : captions) {
            if (caption.tab >= 0)
                tabs->setCurrentIndex(caption.tab);
            QApplication::sendPostedEvents(nullptr, QEvent::LayoutRequest);
            const QString fault = clipped(bench->find<QWidget>(caption.name));
            QVERIFY2(fault.isEmpty(), qPrintable(fault));
        }
    }

    void monitorFont()
    {
        bench = std::make_unique<WindowBench>();
        // Frames in hex line up in columns.
        QVERIFY(evenWidths(bench->find<QPlainTextEdit>("consol")->font()));
    }

    void windowIcon()
    {
        if (QIcon::hasThemeIcon(QStringLiteral("icon.ico")))
            QSKIP("the desktop theme brings its own icon");
        bench = std::make_unique<WindowBench>();
        const QIcon icon = bench->window->windowIcon();
        QVERIFY(!icon.isNull());
        for (int size : {16, 24, 32, 48, 256})
            QCOMPARE(icon.pixmap(size).width(), size);
    }

    // Last: the translation stays installed for the rest of the run.
    void qtTextsInRussian_data()
    {
        QTest::addColumn<int>("button");
        QTest::addColumn<QString>("text");
        QTest::newRow("Cancel") << int(QMessageBox::Cancel) << "Отмена";
        QTest::newRow("Close") << int(QMessageBox::Close) << "Закрыть";
    }

    void qtTextsInRussian()
    {
        QFETCH(int, button);
        QFETCH(QString, text);
        const bool available =
            QFileInfo::exists(QLibraryInfo::location(QLibraryInfo::TranslationsPath) +
                              QStringLiteral("/qtbase_ru.qm"));
        QCOMPARE(loadQtTranslation(qApp), available);
        if (!available)
            QSKIP("Qt's Russian translation is not installed (qttranslations5-l10n)");
        QMessageBox box(QMessageBox::Warning, QStringLiteral("Сброс настроек"), QString(),
                        QMessageBox::Ok | QMessageBox::StandardButton(button));
        QCOMPARE(box.button(QMessageBox::StandardButton(button))->text().remove('&'), text);
    }

private:
    QFont defaultFont;
    std::unique_ptr<WindowBench> bench;
};

QTEST_MAIN(TestFit)
#include "tst_fit.moc"
