#include "gui/overview.h"
#include "gui/colours.h"
#include "gui/trendplot.h"
#include "core/ops/linepoller.h"
#include "core/devices/registry.h"
#include "core/sensor/format.h"

#include <QAbstractTableModel>
#include <QCloseEvent>
#include <QDateTime>
#include <QFileDialog>
#include <QHBoxLayout>
#include <QHeaderView>
#include <QMessageBox>
#include <QPushButton>
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
        switch (section) {
        case Address:
            return QStringLiteral("Адрес");
        case Speed:
            return QStringLiteral("Скорость");
        case Type:
            return QStringLiteral("Тип");
        case Name:
            return QStringLiteral("Название");
        case Value:
            return QStringLiteral("Измерение");
        case Adc:
            return QStringLiteral("АЦП");
        case WorkTime:
            return QStringLiteral("Время работы, сек");
        case Version:
            return QStringLiteral("Версия ПО");
        case Age:
            return QStringLiteral("Возраст ответа, с");
        }
        return QVariant();
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
        const State state = states.value({dev.addr, dev.baudrate});
        switch (role) {
        case Qt::DisplayRole:
            return text(dev, state, index.column());
        case Qt::UserRole:
            return sortKey(dev, state, index.column());
        case Qt::CheckStateRole:
            if (index.column() == Address)
                return isTicked(port, dev.addr, dev.baudrate) ? Qt::Checked : Qt::Unchecked;
            return QVariant();
        case Qt::BackgroundRole:
            // The list's colours: by the outcome of the last poll, or grey for a sensor that
            // has not answered when none was polled here yet.
            if (state.lastError >= 0)
                return exchangeColour(state.lastError, state.coil);
            if (dev.commError)
                return silentRowColour();
            return QVariant();
        case Qt::TextAlignmentRole:
            if (index.column() != Name && index.column() != Version && index.column() != Type)
                return int(Qt::AlignRight | Qt::AlignVCenter);
            return QVariant();
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
        State& state = states[{r.addr, r.baudrate}];
        state.lastError = r.error;
        state.coil = r.coil;
        if (r.ok())
            state.answeredAt = r.msecs;
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
    struct State
    {
        int lastError = -1; // -1: not polled here yet
        quint8 coil = 0;
        qint64 answeredAt = 0; // ms since the epoch of the last answer, 0: none yet
    };

    QVariant text(const DeviceVEL_DUO300& dev, const State& state, int column) const
    {
        // Values show once the sensor answered a poll here; the age says how old they are.
        const bool answered = state.answeredAt > 0;
        switch (column) {
        case Address:
            return QString::number(dev.addr);
        case Speed:
            return QString::number(dev.baudrate);
        case Type:
            if (!answered)
                return QString();
            switch (dev.param.sensorType) {
            case 1:
                return QStringLiteral("Температура");
            case 2:
                return QStringLiteral("Напряжение");
            default:
                return QStringLiteral("Не определён");
            }
        case Name:
            return dev.ustRead ? nameText(dev.ust) : QString();
        case Value:
            if (!answered)
                return QString();
            switch (dev.param.sensorType) {
            case 1:
                return measureText(dev.param) + QStringLiteral(" °С");
            case 2:
                return measureText(dev.param) + QStringLiteral(" В");
            default:
                return measureText(dev.param);
            }
        case Adc:
            return answered ? QString::number(dev.param.adc) : QString();
        case WorkTime:
            return answered ? QString::number(dev.param.workTime) : QString();
        case Version:
            return answered ? versionText(dev.param) : QString();
        case Age:
            return answered ? QString::number(std::max<qint64>(0, now() - state.answeredAt) / 1000)
                            : QStringLiteral("—");
        }
        return QVariant();
    }

    QVariant sortKey(const DeviceVEL_DUO300& dev, const State& state, int column) const
    {
        const bool answered = state.answeredAt > 0;
        // Rows without a value sort below every value.
        const double none = -std::numeric_limits<double>::infinity();
        switch (column) {
        case Address:
            return dev.addr;
        case Speed:
            return dev.baudrate;
        case Type:
            return answered ? int(dev.param.sensorType) : -1;
        case Name:
            return text(dev, state, Name);
        case Value: {
            Reading r;
            r.sensorType = dev.param.sensorType;
            r.measure = dev.param.measure;
            const double v = r.value();
            return answered && !std::isnan(v) ? v : none;
        }
        case Adc:
            return answered ? double(dev.param.adc) : none;
        case WorkTime:
            return answered ? double(dev.param.workTime) : none;
        case Version:
            return text(dev, state, Version);
        case Age:
            return answered ? double(now() - state.answeredAt)
                            : std::numeric_limits<double>::infinity();
        }
        return QVariant();
    }

    qint64 now() const { return clockMs > 0 ? clockMs : QDateTime::currentMSecsSinceEpoch(); }

    const SensorRegistry& registry;
    QString port;
    QHash<Key, State> states;
    std::set<Ticked> ticked;
    qint64 clockMs = 0;
};

} // namespace overview

LineOverview::LineOverview(LinePoller* poller, const SensorRegistry& registry,
                           std::function<QString()> portName, QWidget* parent)
    : QWidget(parent, Qt::Window), poller(poller), portName(std::move(portName))
{
    setWindowTitle(QStringLiteral("Обзор линии"));
    resize(1200, 800);

    table = new overview::SensorTable(registry, this);
    table->ticksChanged = [this] { showTrends(); };
    sorted = new QSortFilterProxyModel(this);
    sorted->setSourceModel(table);
    sorted->setSortRole(Qt::UserRole);
    sorted->setDynamicSortFilter(true);

    view = new QTableView;
    view->setModel(sorted);
    view->setSortingEnabled(true);
    view->sortByColumn(overview::Address, Qt::AscendingOrder);
    view->setSelectionBehavior(QAbstractItemView::SelectRows);
    view->setSelectionMode(QAbstractItemView::SingleSelection);
    view->setEditTriggers(QAbstractItemView::NoEditTriggers);
    view->verticalHeader()->hide();
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

    plot = new TrendPlot;
    pause = new QPushButton(QStringLiteral("Пауза"));
    pause->setCheckable(true);
    connect(pause, &QPushButton::toggled, plot, &TrendPlot::setPaused);
    connect(plot, &TrendPlot::pausedChanged, pause, &QPushButton::setChecked);
    connect(pause, &QPushButton::toggled, this, &LineOverview::refresh);
    auto* exportButton = new QPushButton(QStringLiteral("Экспорт CSV…"));
    connect(exportButton, &QPushButton::clicked, this, &LineOverview::exportCsv);

    auto* buttons = new QHBoxLayout;
    buttons->addWidget(pause);
    buttons->addStretch(1);
    buttons->addWidget(exportButton);
    auto* trends = new QWidget;
    auto* trendLayout = new QVBoxLayout(trends);
    trendLayout->setContentsMargins(0, 0, 0, 0);
    trendLayout->addLayout(buttons);
    trendLayout->addWidget(plot, 1);

    auto* split = new QSplitter(Qt::Vertical);
    split->addWidget(view);
    split->addWidget(trends);
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
    const auto it = buffers.find({port, addr, baudrate});
    return it == buffers.end() ? nullptr : &it->second;
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
    const std::tuple<QString, int, int> key{reading.port, reading.addr, reading.baudrate};
    auto it = buffers.find(key);
    const bool first = it == buffers.end();
    if (first)
        it =
            buffers.emplace(key, ReadingBuffer(reading.port, reading.addr, reading.baudrate)).first;
    it->second.append(reading);
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
        series.append({buffer, name.isEmpty() ? QString::number(addr)
                                              : QStringLiteral("%1 — %2").arg(addr).arg(name)});
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
    const QString path = QFileDialog::getSaveFileName(
        this, QStringLiteral("Экспорт CSV"),
        QStringLiteral("readings-%1.csv")
            .arg(QDateTime::currentDateTime().toString(QStringLiteral("yyyyMMdd-hhmmss"))),
        QStringLiteral("CSV (*.csv)"));
    if (path.isEmpty())
        return;
    QVector<const ReadingBuffer*> all;
    for (const auto& entry : buffers)
        all.append(&entry.second);
    QString error;
    if (!csv::write(path, all, &error))
        QMessageBox::warning(this, QStringLiteral("Экспорт CSV"),
                             QStringLiteral("Файл не записан: %1").arg(error));
}
