#include "gui/trendplot.h"
#include "codec/sensortype.h"

#include <QHBoxLayout>
#include <QPen>
#include <QPushButton>
#include <QVBoxLayout>
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

namespace {

// The wheel zooms; a zoom holds the view where it is.
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

private:
    TrendPlot* plot;
};

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
        auto* curve = new QwtPlotCurve(s.title);
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
        const SensorType type = sensorTypeOf(shown.at(c).buffer->sensorType());
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

void TrendPlot::setPaused(bool paused)
{
    if (paused == isPaused)
        return;
    isPaused = paused;
    if (!paused) {
        setAxisAutoScale(yLeft, true);
        setAxisAutoScale(yRight, true);
    }
    emit pausedChanged(paused);
}

void TrendPlot::refresh(qint64 nowMs)
{
    if (!isPaused)
        setAxisScale(xBottom, double(nowMs - liveSpanMs), double(nowMs));
    const QwtInterval shownTime = axisInterval(xBottom);
    const qint64 from = qint64(shownTime.minValue());
    const qint64 to = qint64(shownTime.maxValue());
    for (int c = 0; c < curves.size(); ++c) {
        const ReadingBuffer& buffer = *shown.at(c).buffer;
        // One reading either side, so that the line runs on to the edges.
        const int first = std::max(0, buffer.firstAtOrAfter(from) - 1);
        const int last = std::min(buffer.size(), buffer.firstAtOrAfter(to) + 1);
        const int stride = std::max(1, (last - first + maxPoints - 1) / maxPoints);
        QVector<QPointF> points;
        points.reserve((last - first) / stride + 1);
        for (int i = first; i < last; i += stride) {
            const Reading r = buffer.at(i);
            const double value = r.value();
            if (!std::isnan(value))
                points.append(QPointF(double(r.msecs), value));
        }
        curves[c]->setSamples(points);
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
