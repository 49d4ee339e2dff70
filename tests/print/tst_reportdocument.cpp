// The report's pages: every row whole, the table's header on every page it spans, the pages
// numbered. Read back from the PDF with pdftotext, a page a form feed.
#include "print/reportdocument.h"

#include <QtTest>
#include <cstring>

namespace {

// A line of voltage sensors with names of the full 16 letters and no space to break them at:
// a column too narrow for them shows as a name split in the text.
linereport::Report line(int count)
{
    linefile::Line file;
    QVector<linereport::Reading> readings;
    for (int i = 0; i < count; ++i) {
        linereport::Reading reading;
        reading.state = i == 3 ? linereport::Reading::Silent : linereport::Reading::Answered;
        reading.error = 6;
        DeviceVEL_DUO300& dev = reading.dev;
        dev.addr = i % 31 + 1;
        dev.baudrate = i < 31 ? 9600 : 115200;
        dev.ust = defaultUstBlock();
        dev.ust.threshold = -30000;
        setNameText(dev.ust, QStringLiteral("ЩитовойВвод%1Ж").arg(i, 4, 10, QLatin1Char('0')));
        dev.param.sensorType = 2;
        dev.param.measure = -30000;
        dev.param.adc = 4095;
        dev.param.workTime = 5 * 365 * 24 * 3600; // five years
        std::memcpy(dev.param.version, "VEL-1.0.2", 9);
        linefile::Sensor entry = linefile::fromBlocks(dev.addr, dev.baudrate, dev.ust, dev.param,
                                                      QDateTime::currentDateTime());
        if (i == 1)
            entry.setpoint = 250;
        file.sensors.append(entry);
        readings.append(reading);
    }
    linereport::Header header;
    header.line = QStringLiteral("Линия 7");
    header.program = QStringLiteral("velduo 1.0.2");
    header.at = QDateTime::currentDateTime();
    return linereport::make(header, QStringLiteral("line.json"), file, readings);
}

QStringList pdfPages(const QString& path)
{
    QProcess process;
    process.start(QStringLiteral("pdftotext"), {path, QStringLiteral("-")});
    if (!process.waitForFinished(60000) || process.exitCode() != 0)
        return {};
    QStringList pages = QString::fromUtf8(process.readAllStandardOutput()).split(QLatin1Char('\f'));
    if (!pages.isEmpty() && pages.last().trimmed().isEmpty())
        pages.removeLast();
    return pages;
}

} // namespace

class TestReportDocument : public QObject
{
    Q_OBJECT

    QTemporaryDir dir;

private slots:
    void pages_data()
    {
        QTest::addColumn<int>("sensors");
        QTest::addColumn<int>("tablePages"); // pages the sensors' table spans, at least
        QTest::newRow("a full line") << 31 << 1;
        QTest::newRow("two lines' worth") << 62 << 2;
    }

    void pages()
    {
        QFETCH(int, sensors);
        QFETCH(int, tablePages);
        const linereport::Report report = line(sensors);
        const QString path = dir.filePath(QStringLiteral("report-%1.pdf").arg(sensors));
        QCOMPARE(reportprint::savePdf(report, path), QString());
        const QStringList pages = pdfPages(path);
        QVERIFY(pages.size() >= tablePages);

        const QString all = pages.join(QString());
        QVERIFY(all.contains(linereport::title));
        for (int i = 0; i < sensors; ++i) {
            const QString name = QStringLiteral("ЩитовойВвод%1Ж").arg(i, 4, 10, QLatin1Char('0'));
            QVERIFY2(all.contains(name), qPrintable(name));
        }
        // The silent sensor's row says so in place of its values.
        QVERIFY(all.contains(QStringLiteral("Не ответил: Нет ответа")));
        QVERIFY(all.contains(QStringLiteral("VEL-1.0.2")));
        QVERIFY(all.contains(QStringLiteral("43800 ч 00 мин")));
        QVERIFY(all.contains(report.summary.left(30)));
        for (int i = 0; i < pages.size(); ++i) {
            QVERIFY2(
                pages[i].contains(QStringLiteral("стр. %1 из %2").arg(i + 1).arg(pages.size())),
                qPrintable(pages[i]));
            // Every page the sensors' table runs on starts it with its header.
            if (i < tablePages)
                QVERIFY2(pages[i].contains(QStringLiteral("Номинал")), qPrintable(pages[i]));
        }
    }

    void unwritablePlaceIsTold()
    {
        const QString path = dir.filePath(QStringLiteral("missing/report.pdf"));
        const QString why = reportprint::savePdf(line(1), path);
        QVERIFY2(why.startsWith(QStringLiteral("Протокол «%1» не записан: ").arg(path)),
                 qPrintable(why));
        QVERIFY(!QFile::exists(path));
    }
};

QTEST_MAIN(TestReportDocument)
#include "tst_reportdocument.moc"
