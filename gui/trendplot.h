#pragma once

#include "codec/readings.h"

#include <QColor>
#include <QString>
#include <QVector>
#include <qwt_plot.h>

class GappedCurve;

// The measured values of some sensors over time, one curve each, drawn from their reading
// buffers. Live, it shows the last ten minutes up to now; zooming (wheel up zooms in towards
// the pointer) or panning (drag) pauses it where it is, and resuming shows the last ten
// minutes again. A curve breaks where a poll failed and where its sensor went unread for
// longer than a few of its usual intervals (the window was closed, the line was busy): no
// line is drawn across what was not measured. Voltages go on the left axis, temperatures on
// the right, by the type the sensor's readings answered with, so that a list built anew,
// which knows no types yet, moves no curve.
class TrendPlot : public QwtPlot
{
    Q_OBJECT
public:
    explicit TrendPlot(QWidget* parent = nullptr);

    struct Series
    {
        const ReadingBuffer* buffer = nullptr;
        QString title; // the legend's text; the unit follows once the type is known
        QColor colour; // invalid: a hue of its own for each address
    };
    // The curves shown from now on, in this order.
    void setSeries(const QVector<Series>& series);
    int curveCount() const { return curves.size(); }
    // Points of a curve as last drawn: the readings that answered, within the time shown.
    int pointCount(int curve) const;
    // The first point of each run of a curve that is drawn joined, in order; the first is 0.
    QVector<int> runStarts(int curve) const;
    // Scales every axis shown by factor (below 1 zooms in) about the plot point at this
    // position on the canvas, which stays where it is; pauses.
    void zoomAt(const QPointF& canvasPos, double factor);

    // Draws the buffers as they are now; live, the time axis ends at nowMs.
    void refresh(qint64 nowMs);
    bool paused() const { return isPaused; }
    void setPaused(bool paused);

    static constexpr qint64 liveSpanMs = 10 * 60 * 1000;
    // More points than this in the time shown are thinned evenly: a screen has fewer pixels.
    static constexpr int maxPoints = 4000;
    // Readings further apart than this many times the sensor's usual interval (the median of
    // those shown) are not joined.
    static constexpr int gapIntervals = 3;

signals:
    void pausedChanged(bool paused);

private:
    // Each curve on its type's axis; an axis shows while a curve is drawn against it.
    void placeCurves();
    // Keeps the value axes at least as wide, and the time axis's ends at least as far in, as
    // their labels make them now.
    void holdAxesAtWidest();

    QVector<Series> shown;
    QVector<GappedCurve*> curves;
    bool isPaused = false;
};

class QPushButton;

// The trends as both overviews show them: "Пауза" and "Экспорт CSV…" above the plot. The pause
// button and the plot follow each other; what a click on either means is the caller's.
struct TrendPanel
{
    QWidget* widget = nullptr;
    TrendPlot* plot = nullptr;
    QPushButton* pause = nullptr;
    QPushButton* exportButton = nullptr;
};
TrendPanel makeTrendPanel();
