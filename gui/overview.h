#pragma once

#include "codec/readings.h"
#include "gui/sensorcells.h"

#include <QWidget>
#include <functional>

class LinePoller;
class QPushButton;
class QSortFilterProxyModel;
class QTableView;
class QTimer;
class SensorRegistry;
class TrendPlot;

namespace overview {
class SensorTable;
}

// "Обзор линии": every listed sensor in a table row, polled while the window is open, and the
// trends of the ticked ones. Double-clicking a row selects that sensor in the main window.
// Sorted by a live column, the rows keep their order while the pointer is over the table, so
// that the row about to be clicked stays where it is; they take their places when it leaves.
class LineOverview : public QWidget
{
    Q_OBJECT
public:
    // The poller polls the registry's sensors on the port portName() gives when it opens.
    LineOverview(LinePoller* poller, const SensorRegistry& registry,
                 std::function<QString()> portName, QWidget* parent = nullptr);
    ~LineOverview() override;

    // The registry's rows changed (added, removed, rebuilt).
    void listChanged();
    // The line is the one on the port portName() gives now. When that is not the port the rows
    // show, or anew (a line file replaced the list), the rows start empty and, while the window
    // is open, the poller begins a new round there; the readings kept stay with their port.
    void followPort(bool anew = false);
    // The readings kept for a sensor of a port; null before its first.
    const ReadingBuffer* readings(const QString& port, int addr, int baudrate) const;

    // Asks where the CSV goes and with which separators; empty when the user cancels.
    std::function<QString(csv::Style* style)> chooseCsvFile;

signals:
    // The sensor of this registry row was chosen.
    void sensorChosen(int row);

protected:
    void showEvent(QShowEvent* event) override;
    void closeEvent(QCloseEvent* event) override;
    bool eventFilter(QObject* watched, QEvent* event) override;

private:
    void record(const Reading& reading);
    void showTrends();
    void exportCsv();
    void refresh();

    LinePoller* poller;
    std::function<QString()> portName;
    ReadingStore buffers;
    overview::SensorTable* table = nullptr;
    QSortFilterProxyModel* sorted = nullptr;
    QTableView* view = nullptr;
    TrendPlot* plot = nullptr;
    QPushButton* pause = nullptr;
    QTimer* clock = nullptr;
    bool fitted = false; // the columns were fitted to their texts
};
