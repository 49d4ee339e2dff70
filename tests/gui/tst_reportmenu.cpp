// "Файл" → «Протокол наладки…»: the listed sensors, or a line file's, read and set against the
// file, previewed, and saved as the PDF that velduo report makes.
#include "support/windowbench.h"

#include <QAction>
#include <QLineEdit>
#include <QPrintPreviewDialog>
#include <QtTest>

namespace {

// Modbus's single writes, which the sensor does not know: a report must send neither.
constexpr quint8 writeSingleCoil = 0x05;
constexpr quint8 writeSingleRegister = 0x06;

void setName(sim::Sensor& s, const QString& name)
{
    setNameText(s.ust, name);
    sealChecksum(s.ust);
}

QString pdfText(const QString& path)
{
    QProcess process;
    process.start(QStringLiteral("pdftotext"),
                  {QStringLiteral("-layout"), path, QStringLiteral("-")});
    if (!process.waitForFinished(60000) || process.exitCode() != 0)
        return QString();
    return QString::fromUtf8(process.readAllStandardOutput()).simplified();
}

} // namespace

class TestReportMenu : public QObject
{
    Q_OBJECT

private slots:
    void reportFromTheList_data()
    {
        QTest::addColumn<bool>("fromList"); // else the file is chosen
        QTest::newRow("listed sensors against the file saved") << true;
        QTest::newRow("a line file chosen") << false;
    }

    void reportFromTheList()
    {
        QFETCH(bool, fromList);
        WindowBench b;
        b.bus.addSensor(1, 9600, SensorType::Voltage);
        b.bus.updateSensor(1, [](sim::Sensor& s) { setName(s, QStringLiteral("Ввод 1")); });
        b.bus.addSensor(2, 9600, SensorType::Temperature);
        b.bus.updateSensor(2, [](sim::Sensor& s) { setName(s, QStringLiteral("Шина А")); });
        b.addByHand(1, 9600);
        b.addByHand(2, 9600);
        const QString linePath = b.dir.filePath("line.json");
        b.window->chooseLineFile = [linePath](bool) { return linePath; };
        b.find<QAction>("actionSaveLine")->trigger();
        QVERIFY(QFile::exists(linePath));
        // Since the file was saved: a setpoint changed, and a sensor gone.
        b.bus.updateSensor(1, [](sim::Sensor& s) {
            s.ust.threshold = 250;
            sealChecksum(s.ust);
        });
        b.bus.updateSensor(2, [](sim::Sensor& s) { s.addr = 200; });
        b.boxes.clear();
        b.bus.clearLog();

        const QString pdf = b.dir.filePath("protokol");
        b.window->chooseReportFile = [pdf] { return pdf; };
        b.boxes.answerNext(fromList ? QMessageBox::Yes : QMessageBox::No);
        b.boxes.answerNextDialog([](QDialog* names) {
            names->findChild<QLineEdit*>("site")->setText(QStringLiteral("ПС «Северная»"));
            names->findChild<QLineEdit*>("engineer")->setText(QStringLiteral("Иванов И. И."));
            names->accept();
        });
        bool previewed = false;
        b.boxes.answerNextDialog([&](QDialog* preview) {
            previewed = qobject_cast<QPrintPreviewDialog*>(preview) != nullptr;
            preview->findChild<QAction*>("savePdf")->trigger();
            preview->reject();
        });
        b.find<QAction>("actionLineReport")->trigger();
        QVERIFY(previewed);
        QCOMPARE(b.boxes.dialogs(), (QStringList{"reportNamesDialog", "reportPreview"}));
        QCOMPARE(b.boxes.boxes().last().text, QStringLiteral("Протокол записан: %1.pdf").arg(pdf));

        const QString text = pdfText(pdf + ".pdf");
        for (const QString& wanted :
             {QStringLiteral("Протокол наладки линии"), QStringLiteral("ПС «Северная»"),
              QStringLiteral("Иванов И. И."), QStringLiteral("line.json"), QStringLiteral("Ввод 1"),
              QStringLiteral("250 В"), QStringLiteral("Не ответил: Нет ответа"),
              QStringLiteral("1@9600 «Ввод 1» Уставка 100 250"),
              QStringLiteral("Итог: Ответили 1 из 2 датчиков; не ответили: 2@9600 «Шина А»; "
                             "расходятся с файлом линии: 1@9600 «Ввод 1» (Уставка)."),
              QStringLiteral("стр. 1 из 1")})
            QVERIFY2(text.contains(wanted), qPrintable(wanted + QStringLiteral("\n") + text));
        // Read only.
        QVERIFY(!b.bus.received().isEmpty());
        QVERIFY(b.requests(rtu::Function::WriteRegisters).isEmpty());
        QVERIFY(b.requests(writeSingleCoil).isEmpty() && b.requests(writeSingleRegister).isEmpty());
    }
};

QTEST_MAIN(TestReportMenu)
#include "tst_reportmenu.moc"
