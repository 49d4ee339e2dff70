#include "gui/overview.h"
#include "core/devices/registry.h"
#include "core/ops/linepoller.h"
#include "core/sensor/format.h"
#include "gui/csvexport.h"
#include "gui/trendplot.h"

#include <QAbstractTableModel>
#include <QCloseEvent>
#include <QDateTime>
#include <QFileDialog>
#include <QGuiApplication>
#include <QHBoxLayout>
#include <QHeaderView>
#include <QMessageBox>
#include <QPushButton>
#include <QScreen>
#include <QSortFilterProxyModel>
#include <QSplitter>
#include <QTableView>
#include <QTimer>
#include <QVBoxLayout>
#include <cmath>
#include <limits>
#include <set>

namespace overview {

// The rows of the overview: the registry's records as they stand, with what the poller last
// brought for each on the port shown. Sorting keys come under Qt::UserRole.
class SensorTable : public QAbstractTableModel
{
public:
    SensorTable(const SensorRegistry& registry, QObject* parent)
        : QAbstractTableModel(parent), registry(registry)
    {
    }

    std::function<void()> ticksChanged;

    int rowCount(const QModelIndex& parent = QModelIndex()) const override
    {
        return parent.isValid() ? 0 : registry.size();
    }
    int columnCount(const QModelIndex& parent = QModelIndex()) const override
    {
        return parent.isValid() ? 0 : ColumnCount;
    }

    QVariant headerData(int section, Qt::Orientation orientation, int role) const override
    {
        if (orientation != Qt::Horizontal || role != Qt::DisplayRole)
            return QAbstractTableModel::headerData(section, orientation, role);
        return columnTitle(section);
    }

    Qt::ItemFlags flags(const QModelIndex& index) const override
    {
        Qt::ItemFlags f = QAbstractTableModel::flags(index);
        if (index.column() == Address)
            f |= Qt::ItemIsUserCheckable;
        return f;
    }

    QVariant data(const QModelIndex& index, int role) const override
    {
        if (!index.isValid() || index.row() >= registry.size())
            return QVariant();
        const DeviceVEL_DUO300& dev = registry[index.row()];
        switch (role) {
        case Qt::DisplayRole:
            return cellText(stateOf(dev), index.column(), now());
        case Qt::UserRole:
            return sortKey(stateOf(dev), index.column(), now());
        case Qt::CheckStateRole:
            if (index.column() == Address)
                return isTicked(port, dev.addr, dev.baudrate) ? Qt::Checked : Qt::Unchecked;
            return QVariant();
        case Qt::BackgroundRole:
            return background(stateOf(dev), dev.commError);
        case Qt::TextAlignmentRole:
            return alignment(index.column());
        }
        return QVariant();
    }

    bool setData(const QModelIndex& index, const QVariant& value, int role) override
    {
        if (role != Qt::CheckStateRole || index.column() != Address ||
            index.row() >= registry.size())
            return false;
        const DeviceVEL_DUO300& dev = registry[index.row()];
        const Ticked key{port, dev.addr, dev.baudrate};
        if (value.toInt() == Qt::Checked)
            ticked.insert(key);
        else
            ticked.erase(key);
        emit dataChanged(index, index, {Qt::CheckStateRole});
        if (ticksChanged)
            ticksChanged();
        return true;
    }

    void record(const Reading& r)
    {
        // A reading of the line shown before: its rows are not these.
        if (r.port != port)
            return;
        const Key key{r.addr, r.baudrate};
        auto state = states.find(key);
        if (state == states.end())
            state = states.insert(key, SensorState{r.addr, r.baudrate});
        // The line's own failures show by the row's colour, its last values kept.
        state->take(r);
    }

    void reset()
    {
        beginResetModel();
        endResetModel();
    }

    // The rows show the sensors on this port from now on, with nothing polled there yet: the
    // records may hold what another line's sensors answered.
    void startLine(const QString& portName)
    {
        beginResetModel();
        port = portName;
        states.clear();
        endResetModel();
    }
    QString shownPort() const { return port; }

    // The rows are shown anew once a second, ages and the readings of the last second
    // together: a repaint for each reading would cost more than the line's whole traffic.
    void tick(qint64 now)
    {
        clockMs = now;
        if (registry.size() > 0)
            emit dataChanged(index(0, 0), index(registry.size() - 1, ColumnCount - 1));
    }

    bool isTicked(const QString& portName, int addr, int baudrate) const
    {
        return ticked.count({portName, addr, baudrate}) > 0;
    }

private:
    using Key = QPair<int, int>;
    // A curve is a sensor of a port: each line's ticks are its own.
    using Ticked = std::tuple<QString, int, int>;
    // The record as the rows show it: values once it answered a poll here, the list's colours
    // by the outcome of the last poll, or grey for a sensor that has not answered when none was
    // polled here yet. A poll's reading carries no name, operating time nor version: the
    // record's are shown.
    SensorState stateOf(const DeviceVEL_DUO300& dev) const
    {
        SensorState state =
            states.value({dev.addr, dev.baudrate}, SensorState{dev.addr, dev.baudrate});
        state.name = dev.ustRead ? nameText(dev.ust) : QString();
        state.workTime = dev.param.workTime;
        state.version = versionText(dev.param);
        return state;
    }

    qint64 now() const { return clockMs > 0 ? clockMs : QDateTime::currentMSecsSinceEpoch(); }

    const SensorRegistry& registry;
    QString port;
    QHash<Key, SensorState> states; // what the polls on this port brought
    std::set<Ticked> ticked;
    qint64 clockMs = 0;
};

} // namespace overview

LineOverview::LineOverview(LinePoller* poller, const SensorRegistry& registry,
                           std::function<QString()> portName, QWidget* parent)
    : QWidget(parent, Qt::Window), poller(poller), portName(std::move(portName))
{
    setWindowTitle(QStringLiteral("Обзор линии"));
    // Within the screen's free area, with room for the title bar: a laptop's 768 lines are
    // fewer than the overview would like.
    const QSize room =
        (parent ? parent->screen() : QGuiApplication::primaryScreen())->availableGeometry().size() -
        QSize(16, 48);
    resize(QSize(1200, 800).boundedTo(room));

    table = new overview::SensorTable(registry, this);
    table->ticksChanged = [this] { showTrends(); };
    sorted = new QSortFilterProxyModel(this);
    sorted->setSourceModel(table);
    sorted->setSortRole(Qt::UserRole);
    sorted->setDynamicSortFilter(true);
    // Rows made anew are sorted at once, even under the pointer: none of them was in place.
    connect(table, &QAbstractItemModel::modelReset, this, [this] {
        if (!sorted->dynamicSortFilter())
            sorted->sort(sorted->sortColumn(), sorted->sortOrder());
    });

    view = new QTableView;
    view->setModel(sorted);
    view->setSortingEnabled(true);
    view->sortByColumn(overview::Address, Qt::AscendingOrder);
    view->setSelectionBehavior(QAbstractItemView::SelectRows);
    view->setSelectionMode(QAbstractItemView::SingleSelection);
    view->setEditTriggers(QAbstractItemView::NoEditTriggers);
    view->verticalHeader()->hide();
    view->installEventFilter(this);
    view->horizontalHeader()->setSectionResizeMode(overview::Name, QHeaderView::Stretch);
    // Fitted to the texts once the first round has filled them; fitting on every reading would
    // measure every cell each time.
    connect(poller, &LinePoller::roundDone, this, [this] {
        if (!fitted) {
            view->resizeColumnsToContents();
            // A list rebuilt since drops the modes of its columns: the name takes the room left.
            view->horizontalHeader()->setSectionResizeMode(overview::Name, QHeaderView::Stretch);
        }
        fitted = true;
    });
    connect(view, &QTableView::doubleClicked, this, [this](const QModelIndex& index) {
        const QModelIndex source = sorted->mapToSource(index);
        if (source.isValid())
            emit sensorChosen(source.row());
    });

    const TrendPanel trends = makeTrendPanel();
    plot = trends.plot;
    pause = trends.pause;
    connect(pause, &QPushButton::toggled, this, &LineOverview::refresh);
    connect(trends.exportButton, &QPushButton::clicked, this, &LineOverview::exportCsv);

    auto* split = new QSplitter(Qt::Vertical);
    split->addWidget(view);
    split->addWidget(trends.widget);
    split->setStretchFactor(0, 1);
    split->setStretchFactor(1, 1);
    auto* layout = new QVBoxLayout(this);
    layout->addWidget(split);

    connect(poller, &LinePoller::reading, this, &LineOverview::record);
    clock = new QTimer(this);
    clock->setInterval(1000);
    connect(clock, &QTimer::timeout, this, &LineOverview::refresh);
}

LineOverview::~LineOverview()
{
    poller->stop();
}

void LineOverview::listChanged()
{
    table->reset();
    showTrends();
}

bool LineOverview::eventFilter(QObject* watched, QEvent* event)
{
    // Turned on again, the proxy sorts the rows by the values they show now.
    if (watched == view && event->type() == QEvent::Enter)
        sorted->setDynamicSortFilter(false);
    else if (watched == view && event->type() == QEvent::Leave)
        sorted->setDynamicSortFilter(true);
    return QWidget::eventFilter(watched, event);
}

void LineOverview::followPort(bool anew)
{
    const QString port = portName();
    if (anew || port != table->shownPort()) {
        table->startLine(port);
        showTrends();
    }
    // Hidden, it polls nothing; shown again, it takes up the port chosen then.
    if (!isVisible())
        return;
    // The round in hand is of the list replaced: a new one starts.
    if (anew || port.isEmpty())
        poller->stop();
    if (!port.isEmpty())
        poller->start(port);
}

const ReadingBuffer* LineOverview::readings(const QString& port, int addr, int baudrate) const
{
    return buffers.find(port, addr, baudrate);
}

void LineOverview::showEvent(QShowEvent* event)
{
    QWidget::showEvent(event);
    // Visible from here on: the poller starts.
    followPort();
    clock->start();
    refresh();
}

void LineOverview::closeEvent(QCloseEvent* event)
{
    poller->stop();
    clock->stop();
    QWidget::closeEvent(event);
}

void LineOverview::record(const Reading& reading)
{
    bool first = false;
    buffers.add(reading, &first);
    table->record(reading);
    // A ticked sensor's first reading gives its curve something to draw from.
    if (first && table->isTicked(reading.port, reading.addr, reading.baudrate))
        showTrends();
}

void LineOverview::showTrends()
{
    QVector<TrendPlot::Series> series;
    for (int row = 0; row < table->rowCount(); ++row) {
        const QModelIndex address = sorted->index(row, overview::Address);
        const QModelIndex source = sorted->mapToSource(address);
        if (source.data(Qt::CheckStateRole).toInt() != Qt::Checked)
            continue;
        const int addr = source.siblingAtColumn(overview::Address).data(Qt::UserRole).toInt();
        const int baudrate = source.siblingAtColumn(overview::Speed).data(Qt::UserRole).toInt();
        const ReadingBuffer* buffer = readings(table->shownPort(), addr, baudrate);
        if (!buffer)
            continue;
        const QString name = source.siblingAtColumn(overview::Name).data().toString();
        series.append(
            {buffer,
             name.isEmpty() ? QString::number(addr) : QStringLiteral("%1 · %2").arg(addr).arg(name),
             QColor()});
    }
    plot->setSeries(series);
    refresh();
}

void LineOverview::refresh()
{
    const qint64 now = QDateTime::currentMSecsSinceEpoch();
    table->tick(now);
    plot->refresh(now);
}

void LineOverview::exportCsv()
{
    const QString suggested =
        QStringLiteral("readings-%1.csv")
            .arg(QDateTime::currentDateTime().toString(QStringLiteral("yyyyMMdd-hhmmss")));
    csv::Style style = csv::Style::Comma;
    const QString path =
        chooseCsvFile ? chooseCsvFile(&style) : csvexport::askFile(this, suggested, &style);
    if (path.isEmpty())
        return;
    // The names as the rows show them; readings of another port than the one shown have none.
    QHash<QPair<int, int>, QString> names;
    for (int row = 0; row < table->rowCount(); ++row) {
        const QModelIndex index = table->index(row, overview::Name);
        names.insert({index.siblingAtColumn(overview::Address).data(Qt::UserRole).toInt(),
                      index.siblingAtColumn(overview::Speed).data(Qt::UserRole).toInt()},
                     index.data().toString());
    }
    const QString shown = table->shownPort();
    const auto nameOf = [&](const Reading& reading) {
        return reading.port == shown ? names.value({reading.addr, reading.baudrate}) : QString();
    };
    int readings = 0;
    for (const ReadingBuffer* buffer : buffers.all())
        readings += buffer->size();
    QString error;
    if (!csv::write(path, buffers.all(), nameOf, style, &error))
        QMessageBox::warning(this, QStringLiteral("Экспорт CSV"),
                             QStringLiteral("Файл не записан: %1").arg(error));
    else
        csvexport::confirm(this, path, readings, style);
}
