// The trend plot on its own, fed by hand-made readings: where a curve breaks, and how the wheel
// zooms.
#include "gui/trendplot.h"

#include <QWheelEvent>
#include <QtTest>
#include <qwt_plot_canvas.h>
#include <qwt_plot_curve.h>
#include <qwt_scale_map.h>

namespace {

// A voltage sensor's readings, a character a step: '+' answered (with the step's number as
// its value), 'x' failed, '.' not polled. The last step is at nowMs.
ReadingBuffer readings(const QString& steps, int stepMs, qint64 nowMs)
{
    ReadingBuffer buffer(QStringLiteral("p"), 1, 9600);
    for (int i = 0; i < steps.size(); ++i) {
        if (steps[i] == QLatin1Char('.'))
            continue;
        Reading r;
        r.msecs = nowMs - qint64(steps.size() - 1 - i) * stepMs;
        r.port = QStringLiteral("p");
        r.addr = 1;
        r.baudrate = 9600;
        r.error = steps[i] == QLatin1Char('x') ? 3 : 0;
        r.sensorType = SensorType::Voltage;
        r.measure = qint16(i);
        buffer.append(r);
    }
    return buffer;
}

// The runs a curve is drawn in, as "first-last" steps.
QStringList runs(const TrendPlot& plot, const QwtPlotItem* item)
{
    const auto* curve = static_cast<const QwtPlotCurve*>(item);
    const QVector<int> starts = plot.runStarts(0);
    QStringList list;
    for (int r = 0; r < starts.size(); ++r) {
        const int last = r + 1 < starts.size() ? starts[r + 1] - 1 : int(curve->dataSize()) - 1;
        list << QStringLiteral("%1-%2")
                    .arg(curve->sample(starts[r]).y())
                    .arg(curve->sample(last).y());
    }
    return list;
}

} // namespace

class TestTrendPlot : public QObject
{
    Q_OBJECT

private slots:
    void gapsStayGaps_data()
    {
        QTest::addColumn<QString>("steps");
        QTest::addColumn<int>("stepMs");
        QTest::addColumn<QStringList>("drawn");
        QTest::newRow("steady") << "++++++++" << 1000 << QStringList{"0-7"};
        QTest::newRow("a failed poll") << "++++x+++" << 1000 << QStringList{"0-3", "5-7"};
        QTest::newRow("a silent stretch")
            << "+++xxxxxxxxxx+++" << 1000 << QStringList{"0-2", "13-15"};
        QTest::newRow("closed for a while")
            << "+++..........+++" << 1000 << QStringList{"0-2", "13-15"};
        QTest::newRow("one round late") << "+++.+++" << 1000 << QStringList{"0-6"};
        QTest::newRow("a lone answer")
            << "+++xx+xx+++" << 1000 << QStringList{"0-2", "5-5", "8-10"};
        QTest::newRow("a slow line, steady") << "++++++++" << 60000 << QStringList{"0-7"};
        QTest::newRow("a slow line, closed") << "++......++" << 60000 << QStringList{"0-1", "8-9"};
    }

    void gapsStayGaps()
    {
        QFETCH(QString, steps);
        QFETCH(int, stepMs);
        QFETCH(QStringList, drawn);
        const qint64 now = QDateTime::currentMSecsSinceEpoch();
        const ReadingBuffer buffer = readings(steps, stepMs, now);
        TrendPlot plot;
        plot.setSeries({{&buffer, QStringLiteral("1"), QColor()}});
        plot.refresh(now);
        const QwtPlotItemList curves = plot.itemList(QwtPlotItem::Rtti_PlotCurve);
        QCOMPARE(curves.size(), 1);
        QCOMPARE(runs(plot, curves.first()), drawn);
    }

    void wheelZoomsTowardsThePointer_data()
    {
        QTest::addColumn<int>("delta");    // of the wheel: up is positive
        QTest::addColumn<double>("where"); // across the canvas, from its left and top
        QTest::addColumn<double>("scaled");
        QTest::newRow("up, near the left") << 120 << 0.1 << 0.9;
        QTest::newRow("up, in the middle") << 120 << 0.5 << 0.9;
        QTest::newRow("up two notches, near the right") << 240 << 0.9 << 0.81;
        QTest::newRow("down, near the right") << -120 << 0.8 << 1 / 0.9;
    }

    void wheelZoomsTowardsThePointer()
    {
        QFETCH(int, delta);
        QFETCH(double, where);
        QFETCH(double, scaled);
        const qint64 now = QDateTime::currentMSecsSinceEpoch();
        const ReadingBuffer buffer = readings(QStringLiteral("++++++++++"), 1000, now);
        TrendPlot plot;
        plot.setSeries({{&buffer, QStringLiteral("1"), QColor()}});
        plot.resize(640, 400);
        plot.show();
        QVERIFY(QTest::qWaitForWindowExposed(&plot));
        plot.refresh(now);

        QWidget* canvas = plot.canvas();
        const QPointF at(canvas->width() * where, canvas->height() * where);
        const QwtScaleMap timeBefore = plot.canvasMap(QwtPlot::xBottom);
        const QwtScaleMap valueBefore = plot.canvasMap(QwtPlot::yLeft);
        const QPoint canvasOrigin = canvas->mapTo(&plot, QPoint(0, 0));
        QWheelEvent wheel(at, canvas->mapToGlobal(at.toPoint()), QPoint(), QPoint(0, delta),
                          Qt::NoButton, Qt::NoModifier, Qt::NoScrollPhase, false);
        QApplication::sendEvent(canvas, &wheel);

        QVERIFY(plot.paused());
        const QwtScaleMap timeAfter = plot.canvasMap(QwtPlot::xBottom);
        const QwtScaleMap valueAfter = plot.canvasMap(QwtPlot::yLeft);
        QVERIFY(qAbs(timeAfter.sDist() / timeBefore.sDist() - scaled) < 1e-6);
        QVERIFY(qAbs(valueAfter.sDist() / valueBefore.sDist() - scaled) < 1e-6);
        // What was under the pointer still is, within a pixel, though the canvas may have moved
        // for the new tick labels.
        const QPointF stillAt = at + QPointF(canvasOrigin - canvas->mapTo(&plot, QPoint(0, 0)));
        const QPointF drawnAt(timeAfter.transform(timeBefore.invTransform(at.x())),
                              valueAfter.transform(valueBefore.invTransform(at.y())));
        QVERIFY2((drawnAt - stillAt).manhattanLength() < 1,
                 qPrintable(QStringLiteral("%1,%2 for %3,%4")
                                .arg(drawnAt.x())
                                .arg(drawnAt.y())
                                .arg(stillAt.x())
                                .arg(stillAt.y())));
    }
};

QTEST_MAIN(TestTrendPlot)
#include "tst_trendplot.moc"
