#include "gui/trendplot.h"
#include "codec/sensortype.h"

#include <QHBoxLayout>
#include <QPainter>
#include <QPen>
#include <QPushButton>
#include <QVBoxLayout>
#include <QWheelEvent>
#include <algorithm>
#include <cmath>
#include <qwt_date.h>
#include <qwt_date_scale_draw.h>
#include <qwt_date_scale_engine.h>
#include <qwt_legend.h>
#include <qwt_plot_canvas.h>
#include <qwt_plot_curve.h>
#include <qwt_plot_grid.h>
#include <qwt_plot_magnifier.h>
#include <qwt_plot_panner.h>
#include <qwt_scale_draw.h>
#include <qwt_scale_widget.h>

// A curve drawn as runs of joined points: nothing joins the last point of one run to the first
// of the next. A run of one point is drawn as a dot, so that a sensor that answers now and then
// still shows.
class GappedCurve : public QwtPlotCurve
{
public:
    using QwtPlotCurve::QwtPlotCurve;

    void setRuns(const QVector<QPointF>& points, const QVector<int>& starts)
    {
        runs = starts;
        setSamples(points);
    }
    const QVector<int>& runStarts() const { return runs; }

    void drawSeries(QPainter* painter, const QwtScaleMap& xMap, const QwtScaleMap& yMap,
                    const QRectF& canvasRect, int from, int to) const override
    {
        if (to < 0)
            to = int(dataSize()) - 1;
        for (int r = 0; r < runs.size(); ++r) {
            const int first = std::max(from, runs[r]);
            const int last = std::min(to, r + 1 < runs.size() ? runs[r + 1] - 1 : to);
            if (first > last)
                continue;
            if (first < last) {
                QwtPlotCurve::drawSeries(painter, xMap, yMap, canvasRect, first, last);
                continue;
            }
            const QPointF at(xMap.transform(sample(first).x()), yMap.transform(sample(first).y()));
            painter->save();
            painter->setPen(Qt::NoPen);
            painter->setBrush(pen().color());
            painter->setRenderHint(QPainter::Antialiasing);
            painter->drawEllipse(at, 2.0, 2.0);
            painter->restore();
        }
    }

private:
    QVector<int> runs;
};

namespace {

// Keys and the mouse zoom about the middle, the wheel towards the pointer; any zoom holds the
// view where it is.
class PausingMagnifier : public QwtPlotMagnifier
{
public:
    PausingMagnifier(QWidget* canvas, TrendPlot* plot) : QwtPlotMagnifier(canvas), plot(plot) {}

protected:
    void rescale(double factor) override
    {
        plot->setPaused(true);
        QwtPlotMagnifier::rescale(factor);
    }

    void widgetWheelEvent(QWheelEvent* event) override
    {
        const int delta = event->angleDelta().y();
        if (event->modifiers() != wheelModifiers() || delta == 0)
            return;
        // A notch up shows a tenth less, as map viewers and plotters do.
        plot->zoomAt(event->position(), std::pow(wheelFactor(), delta / 120.0));
    }

private:
    TrendPlot* plot;
};

// The median of the intervals between the points; 0 for fewer than two.
qint64 usualInterval(const QVector<qint64>& times)
{
    if (times.size() < 2)
        return 0;
    QVector<qint64> intervals;
    intervals.reserve(times.size() - 1);
    for (int i = 1; i < times.size(); ++i)
        intervals.append(times[i] - times[i - 1]);
    const auto middle = intervals.begin() + intervals.size() / 2;
    std::nth_element(intervals.begin(), middle, intervals.end());
    return *middle;
}

} // namespace

TrendPlot::TrendPlot(QWidget* parent) : QwtPlot(parent)
{
    setCanvasBackground(Qt::white);
    auto* scaleDraw = new QwtDateScaleDraw(Qt::LocalTime);
    scaleDraw->setDateFormat(QwtDate::Second, QStringLiteral("hh:mm:ss"));
    scaleDraw->setDateFormat(QwtDate::Minute, QStringLiteral("hh:mm"));
    scaleDraw->setDateFormat(QwtDate::Hour, QStringLiteral("hh:mm"));
    setAxisScaleDraw(xBottom, scaleDraw);
    setAxisScaleEngine(xBottom, new QwtDateScaleEngine(Qt::LocalTime));
    setAxisTitle(yLeft, QStringLiteral("Напряжение, В"));
    setAxisTitle(yRight, QStringLiteral("Температура, °С"));
    enableAxis(yRight, false);
    insertLegend(new QwtLegend, QwtPlot::BottomLegend);
    // Qwt asks for room for the whole legend in one row: the plot would not fit a laptop's
    // screen with a few curves. Below that size the legend wraps, the axes stay.
    setSizePolicy(QSizePolicy::Expanding, QSizePolicy::Expanding);
    setMinimumSize(360, 240);

    auto* grid = new QwtPlotGrid;
    grid->setMajorPen(QColor(220, 220, 220), 0, Qt::DotLine);
    grid->attach(this);

    auto* panner = new QwtPlotPanner(canvas());
    connect(panner, &QwtPlotPanner::panned, this, [this] { setPaused(true); });
    new PausingMagnifier(canvas(), this);
}

void TrendPlot::setSeries(const QVector<Series>& series)
{
    qDeleteAll(curves);
    curves.clear();
    shown = series;
    for (const Series& s : shown) {
        auto* curve = new GappedCurve(s.title);
        // A hue of its own for each address, so that a sensor keeps its colour as others
        // are ticked.
        curve->setPen(s.colour.isValid() ? s.colour
                                         : QColor::fromHsv((s.buffer->addr() * 67) % 360, 230, 200),
                      1.5);
        curve->attach(this);
        curves.append(curve);
    }
    placeCurves();
}

void TrendPlot::placeCurves()
{
    bool anyTemperature = false;
    bool anyVoltage = false;
    for (int c = 0; c < curves.size(); ++c) {
        // Until its sensor has answered with a type, a curve has no points and waits on the left.
        const SensorType type = shown.at(c).buffer->sensorType();
        const bool temperature = type == SensorType::Temperature;
        curves[c]->setYAxis(temperature ? yRight : yLeft);
        // The legend names the unit once the sensor has told its type.
        const QString unit = sensorTraits(type).unit;
        const QString title =
            unit.isEmpty() ? shown.at(c).title : shown.at(c).title + QStringLiteral(" · ") + unit;
        if (curves[c]->title().text() != title)
            curves[c]->setTitle(title);
        anyTemperature = anyTemperature || temperature;
        anyVoltage = anyVoltage || !temperature;
    }
    enableAxis(yRight, anyTemperature);
    enableAxis(yLeft, anyVoltage || !anyTemperature);
}

int TrendPlot::pointCount(int curve) const
{
    return int(curves.at(curve)->dataSize());
}

QVector<int> TrendPlot::runStarts(int curve) const
{
    return curves.at(curve)->runStarts();
}

void TrendPlot::zoomAt(const QPointF& canvasPos, double factor)
{
    setPaused(true);
    // The pointer stays where it is on the screen, while new tick labels may move the canvas.
    const QPointF pointer = QPointF(canvas()->mapTo(this, QPoint(0, 0))) + canvasPos;
    struct Zoomed
    {
        int axis;
        double at; // the value under the pointer
        double span;
    };
    QVector<Zoomed> zoomed;
    for (const int axis : {int(xBottom), int(yLeft), int(yRight)}) {
        if (!axisEnabled(axis))
            continue;
        const QwtScaleMap map = canvasMap(axis);
        zoomed.append({axis, map.invTransform(axis == xBottom ? canvasPos.x() : canvasPos.y()),
                       map.sDist() * factor});
    }
    // Where each axis is drawn on the plot: the canvas's place and the scales' ends on it.
    const auto placement = [&] {
        const QPoint origin = canvas()->mapTo(this, QPoint(0, 0));
        QVector<double> where{double(origin.x()), double(origin.y())};
        for (const Zoomed& z : zoomed) {
            const QwtScaleMap map = canvasMap(z.axis);
            where << map.p1() << map.p2();
        }
        return where;
    };
    // The scales give the labels, and the labels the canvas and the room at the scales' ends,
    // so where each value is drawn: again until nothing moves. Tick labels can flip between two
    // widths for ever, so each axis is held at the widest it has been: the layout can only
    // grow, and settles within a few passes.
    for (int pass = 0; pass < 8; ++pass) {
        const QVector<double> before = placement();
        const QPointF at = pointer - QPointF(before.at(0), before.at(1));
        for (const Zoomed& z : zoomed) {
            const QwtScaleMap map = canvasMap(z.axis);
            const double fraction =
                ((z.axis == xBottom ? at.x() : at.y()) - map.p1()) / (map.p2() - map.p1());
            const double from = z.at - fraction * z.span;
            setAxisScale(z.axis, from, from + z.span);
        }
        updateAxes();
        updateLayout();
        if (placement() == before)
            break;
        holdAxesAtWidest();
    }
    replot();
}

void TrendPlot::holdAxesAtWidest()
{
    for (const int axis : {int(yLeft), int(yRight)}) {
        QwtScaleWidget* scale = axisWidget(axis);
        QwtScaleDraw* draw = scale->scaleDraw();
        draw->setMinimumExtent(std::max(draw->minimumExtent(), draw->extent(scale->font())));
    }
    QwtScaleWidget* time = axisWidget(xBottom);
    int start = 0, end = 0, heldStart = 0, heldEnd = 0;
    time->getBorderDistHint(start, end);
    time->getMinBorderDist(heldStart, heldEnd);
    time->setMinBorderDist(std::max(start, heldStart), std::max(end, heldEnd));
}

void TrendPlot::setPaused(bool paused)
{
    if (paused == isPaused)
        return;
    isPaused = paused;
    if (!paused) {
        setAxisAutoScale(yLeft, true);
        setAxisAutoScale(yRight, true);
        // Live, the axes take the room their labels need again.
        for (const int axis : {int(yLeft), int(yRight)})
            axisScaleDraw(axis)->setMinimumExtent(0);
        axisWidget(xBottom)->setMinBorderDist(0, 0);
    }
    emit pausedChanged(paused);
}

void TrendPlot::refresh(qint64 nowMs)
{
    // The axis takes a new scale at the next replot: the live span is the one just set.
    const QwtInterval shownTime =
        isPaused ? axisInterval(xBottom) : QwtInterval(double(nowMs - liveSpanMs), double(nowMs));
    if (!isPaused)
        setAxisScale(xBottom, shownTime.minValue(), shownTime.maxValue());
    const qint64 from = qint64(shownTime.minValue());
    const qint64 to = qint64(shownTime.maxValue());
    for (int c = 0; c < curves.size(); ++c) {
        const ReadingBuffer& buffer = *shown.at(c).buffer;
        // One reading either side, so that the line runs on to the edges.
        const int first = std::max(0, buffer.firstAtOrAfter(from) - 1);
        const int last = std::min(buffer.size(), buffer.firstAtOrAfter(to) + 1);
        const int stride = std::max(1, (last - first + maxPoints - 1) / maxPoints);
        QVector<qint64> times;
        times.reserve((last - first) / stride + 1);
        for (int i = first; i < last; i += stride)
            times.append(buffer.timeAt(i));
        const qint64 gap = gapIntervals * usualInterval(times);
        QVector<QPointF> points;
        points.reserve(times.size());
        QVector<int> starts;
        bool broken = true; // the next point starts a run
        qint64 previous = 0;
        for (int i = first; i < last; i += stride) {
            const Reading r = buffer.at(i);
            const double value = r.value();
            if (std::isnan(value)) {
                broken = true;
            } else {
                if (broken || r.msecs - previous > gap)
                    starts.append(points.size());
                broken = false;
                points.append(QPointF(double(r.msecs), value));
            }
            previous = r.msecs;
        }
        curves[c]->setRuns(points, starts);
    }
    // A sensor's first answer with its type comes after its curve was made.
    placeCurves();
    replot();
}

TrendPanel makeTrendPanel()
{
    TrendPanel panel;
    panel.plot = new TrendPlot;
    panel.pause = new QPushButton(QStringLiteral("Пауза"));
    panel.pause->setCheckable(true);
    QObject::connect(panel.pause, &QPushButton::toggled, panel.plot, &TrendPlot::setPaused);
    QObject::connect(panel.plot, &TrendPlot::pausedChanged, panel.pause, &QPushButton::setChecked);
    panel.exportButton = new QPushButton(QStringLiteral("Экспорт CSV…"));

    auto* buttons = new QHBoxLayout;
    buttons->addWidget(panel.pause);
    buttons->addStretch(1);
    buttons->addWidget(panel.exportButton);
    panel.widget = new QWidget;
    auto* layout = new QVBoxLayout(panel.widget);
    layout->setContentsMargins(0, 0, 0, 0);
    layout->addLayout(buttons);
    layout->addWidget(panel.plot, 1);
    return panel;
}
