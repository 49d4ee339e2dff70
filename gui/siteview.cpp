#include "gui/siteview.h"
#include "codec/brokerurl.h"
#include "codec/sitepayloads.h"
#include "core/devices/sitemonitor.h"
#include "gui/csvexport.h"
#include "gui/remembered.h"
#include "gui/sensorcells.h"
#include "gui/trendplot.h"

#include <QAbstractItemModel>
#include <QAction>
#include <QCheckBox>
#include <QCloseEvent>
#include <QDateTime>
#include <QDir>
#include <QFileDialog>
#include <QFileInfo>
#include <QFont>
#include <QGuiApplication>
#include <QHBoxLayout>
#include <QHeaderView>
#include <QInputDialog>
#include <QKeyEvent>
#include <QLabel>
#include <QLineEdit>
#include <QMessageBox>
#include <QPushButton>
#include <QScreen>
#include <QSet>
#include <QShortcut>
#include <QSortFilterProxyModel>
#include <QSpinBox>
#include <QSplitter>
#include <QStyle>
#include <QTabWidget>
#include <QTimer>
#include <QTreeView>
#include <QTreeWidget>
#include <QVBoxLayout>
#include <map>
#include <set>
#include <tuple>

namespace site {

using namespace overview;

namespace {

const QString defaultTopics = QStringLiteral("velduo/#");
const QColor dimmedText(140, 140, 140);

QString ageText(qint64 ms)
{
    const qint64 s = std::max<qint64>(0, ms) / 1000;
    if (s < 120)
        return QStringLiteral("%1 с").arg(s);
    if (s < 2 * 3600)
        return QStringLiteral("%1 мин").arg(s / 60);
    if (s < 2 * 86400)
        return QStringLiteral("%1 ч").arg(s / 3600);
    return QStringLiteral("%1 сут").arg(s / 86400);
}

QString lineStateText(const SiteLine& line)
{
    switch (line.state) {
    case SiteLine::State::Online:
        return QStringLiteral("online");
    case SiteLine::State::Stale:
        return QStringLiteral("online, нет показаний");
    case SiteLine::State::Offline:
        return line.reason.isEmpty() ? QStringLiteral("offline")
                                     : QStringLiteral("offline (%1)").arg(line.reason);
    case SiteLine::State::Unknown:
        return QStringLiteral("состояние неизвестно");
    case SiteLine::State::Missing:
        return QStringLiteral("нет на брокере");
    }
    return QString();
}

// The colour of a line's text by its state; invalid for the usual one.
QVariant lineColour(SiteLine::State state)
{
    switch (state) {
    case SiteLine::State::Online:
        return QVariant();
    case SiteLine::State::Stale:
        return QColor(0xA0, 0x50, 0x00);
    case SiteLine::State::Missing:
        return QColor(0xB0, 0x00, 0x00);
    case SiteLine::State::Offline:
    case SiteLine::State::Unknown:
        return dimmedText;
    }
    return QVariant();
}

} // namespace

QString percentText(double received, double expected)
{
    if (expected <= 0)
        return QStringLiteral("—");
    return QStringLiteral("%1 %").arg(
        QString::number(100.0 * std::min(1.0, received / expected), 'f', 1)
            .replace(QLatin1Char('.'), QLatin1Char(',')));
}

// The lines as a tree: a row for each line, its sensors under it. The rows follow the
// monitor's lines by the changes it reports, a row inserted or removed at a time; their values
// are read from the monitor when shown. Sorting keys come under Qt::UserRole.
class LineTree : public QAbstractItemModel
{
public:
    LineTree(const SiteMonitor& monitor, QObject* parent)
        : QAbstractItemModel(parent), monitor(monitor)
    {
    }

    std::function<void()> ticksChanged;

    // The rows of the lines named follow what the monitor has now.
    void update(const QSet<QString>& changed)
    {
        for (const QString& name : changed) {
            const auto line = monitor.lines().constFind(name);
            int row = rowOf.value(name, -1);
            if (line == monitor.lines().constEnd()) {
                if (row < 0)
                    continue;
                beginRemoveRows(QModelIndex(), row, row);
                rows.remove(row);
                reindex();
                endRemoveRows();
                continue;
            }
            if (row < 0) {
                row = rows.size();
                beginInsertRows(QModelIndex(), row, row);
                rows.append({name, nextId++, {}});
                reindex();
                endInsertRows();
            }
            syncSensors(row, *line);
        }
    }

    // The values are shown anew at each tick, every reading since the last one together.
    void tick(qint64 now)
    {
        clockMs = now;
        if (rows.isEmpty())
            return;
        emit dataChanged(index(0, 0), index(rows.size() - 1, ColumnCount - 1));
        for (int line = 0; line < rows.size(); ++line)
            if (!rows[line].sensors.isEmpty())
                emit dataChanged(
                    index(0, 0, index(line, 0)),
                    index(rows[line].sensors.size() - 1, ColumnCount - 1, index(line, 0)));
    }

    using Key = std::tuple<QString, int, int>;
    const std::set<Key>& tickedSensors() const { return ticked; }
    void setTicked(const std::set<Key>& keys)
    {
        ticked = keys;
        if (ticksChanged)
            ticksChanged();
    }
    bool isLine(const QModelIndex& index) const { return index.isValid() && !index.internalId(); }

    QModelIndex index(int row, int column, const QModelIndex& parent = QModelIndex()) const override
    {
        if (column < 0 || column >= ColumnCount || row < 0)
            return QModelIndex();
        if (!parent.isValid())
            return row < rows.size() ? createIndex(row, column, quintptr(0)) : QModelIndex();
        if (parent.internalId() || parent.row() >= rows.size() ||
            row >= rows[parent.row()].sensors.size())
            return QModelIndex();
        // A sensor's id is its line's own, which stays when other lines come or go.
        return createIndex(row, column, rows[parent.row()].id);
    }

    QModelIndex parent(const QModelIndex& child) const override
    {
        if (!child.isValid() || !child.internalId())
            return QModelIndex();
        const int row = rowOfId.value(child.internalId(), -1);
        return row < 0 ? QModelIndex() : createIndex(row, 0, quintptr(0));
    }

    int rowCount(const QModelIndex& parent = QModelIndex()) const override
    {
        if (!parent.isValid())
            return rows.size();
        if (parent.internalId() || parent.column() != 0 || parent.row() >= rows.size())
            return 0;
        return rows[parent.row()].sensors.size();
    }

    int columnCount(const QModelIndex& = QModelIndex()) const override { return ColumnCount; }

    QVariant headerData(int section, Qt::Orientation orientation, int role) const override
    {
        if (orientation != Qt::Horizontal || role != Qt::DisplayRole)
            return QAbstractItemModel::headerData(section, orientation, role);
        return columnTitle(section);
    }

    Qt::ItemFlags flags(const QModelIndex& index) const override
    {
        Qt::ItemFlags f = QAbstractItemModel::flags(index);
        if (index.isValid() && index.internalId() && index.column() == Address)
            f |= Qt::ItemIsUserCheckable;
        return f;
    }

    // The line a row stands for, or the line of a sensor's row.
    QString lineNameOf(const QModelIndex& index) const
    {
        if (!index.isValid())
            return QString();
        const int row = index.internalId() ? rowOfId.value(index.internalId(), -1) : index.row();
        return row >= 0 && row < rows.size() ? rows[row].name : QString();
    }

    QVariant data(const QModelIndex& index, int role) const override
    {
        if (!index.isValid())
            return QVariant();
        if (!index.internalId())
            return lineData(index.row(), index.column(), role);
        const int lineRow = rowOfId.value(index.internalId(), -1);
        const SiteLine* line = lineAt(lineRow);
        if (!line || index.row() >= rows[lineRow].sensors.size())
            return QVariant();
        const auto [addr, baudrate] = rows[lineRow].sensors[index.row()];
        const SensorState* sensor = sensorAt(*line, addr, baudrate);
        if (!sensor)
            return QVariant();
        // Values not current (the line is not online, or the view has no broker) are paled.
        const bool dimmed = line->state != SiteLine::State::Online;
        switch (role) {
        case Qt::DisplayRole:
            // A failed poll shows its error, no number from an earlier answer beside it.
            if (index.column() == Adc && sensor->lastError > 0)
                return QString();
            return cellText(*sensor, index.column(), now());
        case Qt::UserRole:
            return sortKey(*sensor, index.column(), now());
        case Qt::CheckStateRole:
            if (index.column() == Address)
                return ticked.count({line->name, addr, baudrate}) ? Qt::Checked : Qt::Unchecked;
            return QVariant();
        case Qt::BackgroundRole: {
            QVariant colour = background(*sensor);
            if (dimmed && colour.isValid()) {
                QColor paled = colour.value<QColor>();
                paled.setAlpha(90);
                colour = paled;
            }
            return colour;
        }
        case Qt::ForegroundRole:
            return dimmed ? QVariant(dimmedText) : QVariant();
        case Qt::TextAlignmentRole:
            return alignment(index.column());
        }
        return QVariant();
    }

    bool setData(const QModelIndex& index, const QVariant& value, int role) override
    {
        if (role != Qt::CheckStateRole || index.column() != Address || !index.internalId())
            return false;
        const int lineRow = rowOfId.value(index.internalId(), -1);
        if (lineRow < 0 || index.row() >= rows[lineRow].sensors.size())
            return false;
        const auto [addr, baudrate] = rows[lineRow].sensors[index.row()];
        const Key key{rows[lineRow].name, addr, baudrate};
        if (value.toInt() == Qt::Checked)
            ticked.insert(key);
        else
            ticked.erase(key);
        emit dataChanged(index, index, {Qt::CheckStateRole});
        if (ticksChanged)
            ticksChanged();
        return true;
    }

private:
    struct Row
    {
        QString name;
        quintptr id;
        QVector<QPair<int, int>> sensors; // address and speed, in the monitor's order
    };

    void reindex()
    {
        rowOf.clear();
        rowOfId.clear();
        for (int row = 0; row < rows.size(); ++row) {
            rowOf.insert(rows[row].name, row);
            rowOfId.insert(rows[row].id, row);
        }
    }

    // Both lists are ordered by address and speed: walked together, each sensor that came or
    // went is one row inserted or removed.
    void syncSensors(int row, const SiteLine& line)
    {
        const QModelIndex parent = index(row, 0);
        QVector<QPair<int, int>>& shown = rows[row].sensors;
        if (shown.isEmpty() && !line.sensors.isEmpty()) {
            beginInsertRows(parent, 0, line.sensors.size() - 1);
            for (const SensorState& sensor : line.sensors)
                shown.append({sensor.addr, sensor.baudrate});
            endInsertRows();
            return;
        }
        int i = 0;
        int j = 0;
        while (i < shown.size() || j < line.sensors.size()) {
            const bool more = j < line.sensors.size();
            const QPair<int, int> wanted =
                more ? qMakePair(line.sensors[j].addr, line.sensors[j].baudrate) : qMakePair(0, 0);
            if (i < shown.size() && (!more || shown[i] < wanted)) {
                beginRemoveRows(parent, i, i);
                shown.remove(i);
                endRemoveRows();
            } else if (i < shown.size() && shown[i] == wanted) {
                ++i;
                ++j;
            } else {
                beginInsertRows(parent, i, i);
                shown.insert(i, wanted);
                endInsertRows();
                ++i;
                ++j;
            }
        }
    }

    const SiteLine* lineAt(int row) const
    {
        if (row < 0 || row >= rows.size())
            return nullptr;
        const auto it = monitor.lines().constFind(rows[row].name);
        return it == monitor.lines().constEnd() ? nullptr : &it.value();
    }

    static const SensorState* sensorAt(const SiteLine& line, int addr, int baudrate)
    {
        const std::pair<int, int> key{addr, baudrate};
        const auto it = std::lower_bound(line.sensors.begin(), line.sensors.end(), key,
                                         [](const SensorState& s, const std::pair<int, int>& k) {
                                             return std::make_pair(s.addr, s.baudrate) < k;
                                         });
        return it != line.sensors.end() && it->addr == addr && it->baudrate == baudrate ? &*it
                                                                                        : nullptr;
    }

    QVariant lineData(int row, int column, int role) const
    {
        const SiteLine* line = lineAt(row);
        if (!line)
            return QVariant();
        switch (role) {
        case Qt::DisplayRole:
            // The whole row is one cell: the tree spans it over every column.
            return column == 0 ? lineText(*line) : QVariant();
        case Qt::ToolTipRole:
            return completenessText(*line);
        case Qt::UserRole:
            return line->name;
        case Qt::FontRole: {
            QFont font;
            font.setBold(true);
            return font;
        }
        case Qt::ForegroundRole:
            return lineColour(line->state);
        }
        return QVariant();
    }

    QString lineText(const SiteLine& line) const
    {
        QString text =
            broker::shownText(line.name, 120) + QStringLiteral(" — ") + lineStateText(line);
        if (line.state == SiteLine::State::Stale)
            text += QStringLiteral(" %1").arg(ageText(now() - line.lastArrived));
        // The publisher's own trouble, while its status still says online.
        if (line.state != SiteLine::State::Offline && !line.reason.isEmpty())
            text += QStringLiteral(" (%1)").arg(line.reason);
        if (line.lastPublished > 0)
            text += QStringLiteral(", последняя публикация %1 назад")
                        .arg(ageText(now() - line.lastPublished));
        if (!line.port.isEmpty())
            text += QStringLiteral(", порт %1").arg(line.port);
        text += QStringLiteral(", датчиков: %1").arg(line.sensors.size());
        if (line.ledger.expected() > 0) {
            double received = 0;
            double expected = 0;
            line.ledger.countSince(now() - 3600 * 1000, &received, &expected);
            text += QStringLiteral(", получено %1 за час").arg(percentText(received, expected));
        }
        return text;
    }

    QString completenessText(const SiteLine& line) const
    {
        if (line.ledger.expected() == 0)
            return QStringLiteral("Показаний с номерами ещё не было.");
        double received = 0;
        double expected = 0;
        line.ledger.countSince(now() - 3600 * 1000, &received, &expected);
        QString text =
            QStringLiteral("Получено показаний: %1 за последний час, %2 с открытия обзора "
                           "(%3 из %4).")
                .arg(percentText(received, expected),
                     percentText(double(line.ledger.received()), double(line.ledger.expected())))
                .arg(line.ledger.received())
                .arg(line.ledger.expected());
        if (line.dropped > 0)
            text += QStringLiteral("\nОчередь издателя отбросила показаний: %1.").arg(line.dropped);
        const QVector<SeqLedger::Hole> holes = line.ledger.holes();
        if (!holes.isEmpty())
            text += QStringLiteral("\nПропуски:");
        // The latest few: a tooltip is no list.
        for (int i = std::max(0, holes.size() - 10); i < holes.size(); ++i)
            text += QStringLiteral("\n%1 — %2: %3")
                        .arg(QDateTime::fromMSecsSinceEpoch(holes[i].fromMs)
                                 .toString(QStringLiteral("dd.MM hh:mm:ss")),
                             QDateTime::fromMSecsSinceEpoch(holes[i].toMs)
                                 .toString(QStringLiteral("dd.MM hh:mm:ss")))
                        .arg(holes[i].missing);
        return text;
    }

    qint64 now() const { return clockMs > 0 ? clockMs : QDateTime::currentMSecsSinceEpoch(); }

    const SiteMonitor& monitor;
    QVector<Row> rows;
    QHash<QString, int> rowOf;
    QHash<quintptr, int> rowOfId;
    quintptr nextId = 1;
    std::set<Key> ticked; // a curve is a sensor of a line: each line's ticks are its own
    qint64 clockMs = 0;
};

// Lines by name, in the order of the sort whichever way it goes; sensors by the column.
class LineOrder : public QSortFilterProxyModel
{
public:
    using QSortFilterProxyModel::QSortFilterProxyModel;

protected:
    bool lessThan(const QModelIndex& left, const QModelIndex& right) const override
    {
        if (!left.parent().isValid()) {
            const bool less =
                left.data(Qt::UserRole).toString() < right.data(Qt::UserRole).toString();
            const bool greater =
                right.data(Qt::UserRole).toString() < left.data(Qt::UserRole).toString();
            return sortOrder() == Qt::AscendingOrder ? less : greater;
        }
        return QSortFilterProxyModel::lessThan(left, right);
    }
};

} // namespace site

namespace {

const QString title = QStringLiteral("Обзор площадки");
// The journal in the window holds the latest entries; the file keeps them all.
constexpr int journalRows = 2000;

QString keyText(const site::LineTree::Key& key)
{
    return QStringLiteral("%1|%2|%3")
        .arg(std::get<0>(key))
        .arg(std::get<1>(key))
        .arg(std::get<2>(key));
}

} // namespace

SiteView::SiteView(QWidget* parent) : QWidget(parent, Qt::Window)
{
    setWindowTitle(title);
    lines = new SiteMonitor(this);

    askPassword = [this](const QString& name) {
        bool ok = false;
        const QString text = QInputDialog::getText(
            this, title, QStringLiteral("Пароль пользователя «%1» на брокере:").arg(name),
            QLineEdit::Password, QString(), &ok);
        return ok ? text : QString();
    };
    chooseCsvFile = [this](csv::Style* style) {
        const QString name =
            QStringLiteral("site-readings-%1.csv")
                .arg(QDateTime::currentDateTime().toString(QStringLiteral("yyyyMMdd-hhmmss")));
        const QString folder = Remembered().value(QStringLiteral("site/exportFolder")).toString();
        const QString path =
            csvexport::askFile(this, folder.isEmpty() ? name : QDir(folder).filePath(name), style);
        if (!path.isEmpty())
            Remembered().setValue(QStringLiteral("site/exportFolder"),
                                  QFileInfo(path).absolutePath());
        return path;
    };

    // The broker.
    host = new QLineEdit;
    host->setObjectName(QStringLiteral("lineEditHost"));
    host->setPlaceholderText(QStringLiteral("имя или адрес"));
    port = new QSpinBox;
    port->setObjectName(QStringLiteral("spinBoxPort"));
    port->setRange(1, 65535);
    port->setValue(broker::plainPort);
    tls = new QCheckBox(QStringLiteral("TLS"));
    tls->setObjectName(QStringLiteral("checkBoxTls"));
    caFile = new QLineEdit;
    caFile->setObjectName(QStringLiteral("lineEditCaFile"));
    caFile->setPlaceholderText(QStringLiteral("сертификаты системы"));
    auto* chooseCa = new QPushButton(QStringLiteral("…"));
    connect(chooseCa, &QPushButton::clicked, this, [this] {
        const QString path = QFileDialog::getOpenFileName(
            this, QStringLiteral("Файл CA"), caFile->text(),
            QStringLiteral("Сертификаты (*.pem *.crt);;Все файлы (*)"));
        if (!path.isEmpty())
            caFile->setText(path);
    });
    // The usual port goes with the choice, unless another was set.
    connect(tls, &QCheckBox::toggled, this, [this](bool on) {
        if (port->value() == (on ? broker::plainPort : broker::tlsPort))
            port->setValue(on ? broker::tlsPort : broker::plainPort);
        caFile->setEnabled(on);
    });
    user = new QLineEdit;
    user->setObjectName(QStringLiteral("lineEditUser"));
    user->setPlaceholderText(QStringLiteral("без имени"));
    topics = new QLineEdit(site::defaultTopics);
    topics->setObjectName(QStringLiteral("lineEditTopics"));
    topics->setToolTip(QStringLiteral("Несколько фильтров — через пробел или запятую"));
    connectButton = new QPushButton(QStringLiteral("Подключить"));
    connectButton->setObjectName(QStringLiteral("btnConnect"));
    disconnectButton = new QPushButton(QStringLiteral("Отключить"));
    disconnectButton->setObjectName(QStringLiteral("btnDisconnect"));
    connect(connectButton, &QPushButton::clicked, this, &SiteView::connectToBroker);
    connect(disconnectButton, &QPushButton::clicked, this, &SiteView::disconnectFromBroker);
    // Enter in any of the broker's fields connects.
    for (QWidget* field : std::initializer_list<QWidget*>{host, port, caFile, user, topics})
        field->installEventFilter(this);

    auto* brokerRow = new QHBoxLayout;
    brokerRow->addWidget(new QLabel(QStringLiteral("Брокер:")));
    brokerRow->addWidget(host, 2);
    brokerRow->addWidget(new QLabel(QStringLiteral("Порт:")));
    brokerRow->addWidget(port);
    brokerRow->addWidget(tls);
    brokerRow->addWidget(new QLabel(QStringLiteral("Файл CA:")));
    brokerRow->addWidget(caFile, 2);
    brokerRow->addWidget(chooseCa);
    auto* userRow = new QHBoxLayout;
    userRow->addWidget(new QLabel(QStringLiteral("Пользователь:")));
    userRow->addWidget(user, 1);
    userRow->addWidget(new QLabel(QStringLiteral("Темы:")));
    userRow->addWidget(topics, 2);
    userRow->addWidget(connectButton);
    userRow->addWidget(disconnectButton);
    status = new QLabel;
    status->setObjectName(QStringLiteral("labelStatus"));
    status->setWordWrap(true);
    status->setTextInteractionFlags(Qt::TextSelectableByMouse);

    // The lines.
    tree = new site::LineTree(*lines, this);
    tree->ticksChanged = [this] {
        showTrends();
        QStringList keys;
        for (const auto& key : tree->tickedSensors())
            keys << keyText(key);
        Remembered().setValue(QStringLiteral("site/curves"), keys);
    };
    sorted = new site::LineOrder(this);
    sorted->setSourceModel(tree);
    sorted->setSortRole(Qt::UserRole);
    sorted->setDynamicSortFilter(true);
    view = new QTreeView;
    view->setModel(sorted);
    view->setSortingEnabled(true);
    view->sortByColumn(overview::Address, Qt::AscendingOrder);
    view->setSelectionBehavior(QAbstractItemView::SelectRows);
    view->setSelectionMode(QAbstractItemView::SingleSelection);
    view->setEditTriggers(QAbstractItemView::NoEditTriggers);
    view->setUniformRowHeights(true);
    view->setAllColumnsShowFocus(true);
    view->header()->setSectionResizeMode(overview::Name, QHeaderView::Stretch);
    view->header()->setStretchLastSection(false);
    view->setMinimumHeight(120);
    view->setContextMenuPolicy(Qt::ActionsContextMenu);
    auto* hideLine = new QAction(QStringLiteral("Скрыть линию"), view);
    hideLine->setObjectName(QStringLiteral("actionHideLine"));
    hideLine->setShortcut(QKeySequence::Delete);
    hideLine->setShortcutContext(Qt::WidgetShortcut);
    connect(hideLine, &QAction::triggered, this, &SiteView::hideCurrentLine);
    view->addAction(hideLine);

    // The lines the user folded stay folded.
    connect(view, &QTreeView::collapsed, this, [this](const QModelIndex& index) {
        folded.insert(index.data(Qt::UserRole).toString());
    });
    connect(view, &QTreeView::expanded, this, [this](const QModelIndex& index) {
        folded.remove(index.data(Qt::UserRole).toString());
    });
    // A new line's row spans the columns; laid out once, as it comes.
    connect(sorted, &QAbstractItemModel::rowsInserted, this,
            [this](const QModelIndex& parent, int first, int last) {
                if (parent.isValid())
                    return;
                for (int row = first; row <= last; ++row) {
                    view->setFirstColumnSpanned(row, QModelIndex(), true);
                    const QModelIndex line = sorted->index(row, 0);
                    view->setExpanded(line, !folded.contains(line.data(Qt::UserRole).toString()));
                }
            });
    // The changes of many messages are taken together, once the messages waiting are read.
    auto* update = new QTimer(this);
    update->setSingleShot(true);
    update->setInterval(0);
    connect(lines, &SiteMonitor::linesChanged, update, qOverload<>(&QTimer::start));
    connect(update, &QTimer::timeout, this, [this] {
        const QSet<QString> changed = lines->takeChanged();
        tree->update(changed);
        rememberLines(changed);
        showTrends();
    });
    connect(lines, &SiteMonitor::firstReading, this,
            [this](const QString& line, int addr, int baudrate) {
                if (tree->tickedSensors().count({line, addr, baudrate}))
                    showTrends();
            });
    connect(lines, &SiteMonitor::connectionChanged, this, &SiteView::showConnection);
    connect(lines, &SiteMonitor::journal, this, &SiteView::addToJournal);

    // The trends and the journal, one over the other's place.
    const TrendPanel trends = makeTrendPanel();
    plot = trends.plot;
    connect(trends.pause, &QPushButton::toggled, this, &SiteView::refresh);
    connect(trends.exportButton, &QPushButton::clicked, this, &SiteView::exportCsv);
    journal = new QTreeWidget;
    journal->setObjectName(QStringLiteral("treeJournal"));
    journal->setRootIsDecorated(false);
    journal->setUniformRowHeights(true);
    journal->setHeaderLabels(
        {QStringLiteral("Время"), QStringLiteral("Линия"), QStringLiteral("Событие")});
    auto* below = new QTabWidget;
    below->setObjectName(QStringLiteral("tabsBelow"));
    below->addTab(trends.widget, QStringLiteral("Тренды"));
    below->addTab(journal, QStringLiteral("Журнал"));

    split = new QSplitter(Qt::Vertical);
    split->setObjectName(QStringLiteral("splitterSite"));
    split->addWidget(view);
    split->addWidget(below);
    split->setStretchFactor(0, 3);
    split->setStretchFactor(1, 2);
    auto* layout = new QVBoxLayout(this);
    layout->addLayout(brokerRow);
    layout->addLayout(userRow);
    layout->addWidget(status);
    layout->addWidget(split, 1);

    // Escape closes the view, F1 opens the manual at this chapter.
    auto* closing = new QShortcut(QKeySequence(Qt::Key_Escape), this);
    connect(closing, &QShortcut::activated, this, &QWidget::close);
    auto* help = new QShortcut(QKeySequence(Qt::Key_F1), this);
    connect(help, &QShortcut::activated, this, [this] { emit helpRequested(); });

    // Twice a second: a reading shows within half a second of its arrival, the trends follow
    // once a second.
    clock = new QTimer(this);
    clock->setInterval(500);
    connect(clock, &QTimer::timeout, this, &SiteView::refresh);

    Remembered settings;
    settings.beginGroup(QStringLiteral("site"));
    host->setText(settings.value(QStringLiteral("host")).toString());
    tls->setChecked(settings.value(QStringLiteral("tls"), false).toBool());
    caFile->setEnabled(tls->isChecked());
    port->setValue(
        settings
            .value(QStringLiteral("port"), tls->isChecked() ? broker::tlsPort : broker::plainPort)
            .toInt());
    caFile->setText(settings.value(QStringLiteral("caFile")).toString());
    user->setText(settings.value(QStringLiteral("user")).toString());
    topics->setText(settings.value(QStringLiteral("topics"), site::defaultTopics).toString());
    // The lines seen before are the site's: missing until they are on the broker again.
    remembered = settings.value(QStringLiteral("lines")).toStringList();
    for (const QString& line : qAsConst(remembered))
        lines->expect(
            line,
            settings.value(QStringLiteral("ports/") + QString::number(qHash(line))).toString());
    std::set<site::LineTree::Key> curves;
    for (const QString& key : settings.value(QStringLiteral("curves")).toStringList()) {
        const QStringList parts = key.split(QLatin1Char('|'));
        if (parts.size() >= 3)
            curves.insert({parts.mid(0, parts.size() - 2).join(QLatin1Char('|')),
                           parts[parts.size() - 2].toInt(), parts.last().toInt()});
    }
    tree->setTicked(curves);
    // Fitted within the screen it opens on: at 1366 × 768 every control and the plot's axes
    // stay inside.
    const QRect screen = QGuiApplication::primaryScreen()
                             ? QGuiApplication::primaryScreen()->availableGeometry()
                             : QRect(0, 0, 1366, 768);
    resize(std::min(1280, screen.width() - 40), std::min(860, screen.height() - 60));
    split->setSizes({height() * 3 / 5, height() * 2 / 5});
    if (!restoreGeometry(settings.value(QStringLiteral("geometry")).toByteArray()))
        move(screen.center() - rect().center());
    split->restoreState(settings.value(QStringLiteral("splitter")).toByteArray());
    headerState = settings.value(QStringLiteral("columns")).toByteArray();
    if (!headerState.isEmpty() && view->header()->restoreState(headerState))
        fitted = true;
    settings.endGroup();
    openJournalFile();
    showConnection();
}

bool SiteView::eventFilter(QObject* watched, QEvent* event)
{
    if (event->type() == QEvent::KeyPress) {
        const int key = static_cast<QKeyEvent*>(event)->key();
        if (key == Qt::Key_Return || key == Qt::Key_Enter) {
            connectToBroker();
            return true;
        }
    }
    return QWidget::eventFilter(watched, event);
}

void SiteView::openJournalFile()
{
    // Beside log.txt, in the working folder: the program's other records are there.
    journalFile.setFileName(QStringLiteral("site-journal.txt"));
    if (!journalFile.open(QIODevice::WriteOnly | QIODevice::Append | QIODevice::Text))
        addToJournal(QString(), QStringLiteral("журнал не записывается в %1: %2")
                                    .arg(QFileInfo(journalFile).absoluteFilePath(),
                                         journalFile.errorString()));
}

void SiteView::addToJournal(const QString& line, const QString& event)
{
    const QDateTime now = QDateTime::currentDateTime();
    auto* item =
        new QTreeWidgetItem({now.toString(QStringLiteral("dd.MM.yyyy hh:mm:ss")), line, event});
    journal->addTopLevelItem(item);
    while (journal->topLevelItemCount() > journalRows)
        delete journal->takeTopLevelItem(0);
    if (journalFile.isOpen()) {
        journalFile.write((now.toString(Qt::ISODateWithMs) + QLatin1Char('\t') +
                           (line.isEmpty() ? QStringLiteral("-") : line) + QLatin1Char('\t') +
                           event + QLatin1Char('\n'))
                              .toUtf8());
        journalFile.flush();
    }
}

void SiteView::rememberLines(const QSet<QString>& changed)
{
    bool any = false;
    Remembered settings;
    settings.beginGroup(QStringLiteral("site"));
    for (const QString& name : changed) {
        const auto line = lines->lines().constFind(name);
        const bool shown = line != lines->lines().constEnd();
        if (shown && !remembered.contains(name) && remembered.size() < SiteMonitor::maxLines) {
            remembered.append(name);
            any = true;
        } else if (!shown && remembered.removeAll(name)) {
            settings.remove(QStringLiteral("ports/") + QString::number(qHash(name)));
            any = true;
        }
        if (shown && !line->port.isEmpty())
            settings.setValue(QStringLiteral("ports/") + QString::number(qHash(name)), line->port);
    }
    if (any)
        settings.setValue(QStringLiteral("lines"), remembered);
}

void SiteView::hideCurrentLine()
{
    const QString name = tree->lineNameOf(sorted->mapToSource(view->currentIndex()));
    if (name.isEmpty())
        return;
    addToJournal(broker::shownText(name, SiteMonitor::maxTextChars),
                 QStringLiteral("скрыта пользователем"));
    lines->hide(name);
}

void SiteView::remember() const
{
    Remembered settings;
    settings.beginGroup(QStringLiteral("site"));
    settings.setValue(QStringLiteral("host"), host->text().trimmed());
    settings.setValue(QStringLiteral("port"), port->value());
    settings.setValue(QStringLiteral("tls"), tls->isChecked());
    settings.setValue(QStringLiteral("caFile"), caFile->text());
    settings.setValue(QStringLiteral("user"), user->text());
    settings.setValue(QStringLiteral("topics"), topics->text().trimmed());
}

void SiteView::connectToBroker()
{
    const QString name = host->text().trimmed();
    broker::Url url;
    QString why;
    // The address as the command line would name it, so that both accept the same brokers.
    const QString text =
        QStringLiteral("%1://%2:%3")
            .arg(tls->isChecked() ? QStringLiteral("mqtts") : QStringLiteral("mqtt"),
                 name.contains(QLatin1Char(':')) && !name.startsWith('[')
                     ? QStringLiteral("[%1]").arg(name)
                     : name)
            .arg(port->value());
    if (!broker::parseUrl(text, &url, &why)) {
        lines->close();
        status->setText(why);
        return;
    }
    const QStringList filters = SiteMonitor::splitFilters(topics->text());
    if (filters.isEmpty()) {
        status->setText(QStringLiteral("Укажите темы, например %1").arg(site::defaultTopics));
        return;
    }
    MqttSettings settings;
    settings.host = url.host;
    settings.port = url.port;
    settings.tls = url.tls;
    settings.caFile = url.tls ? caFile->text().trimmed() : QString();
    settings.user = user->text();
    if (!settings.user.isEmpty()) {
        // A refused attempt may have been the password's fault: it is asked again.
        if (password.isNull() || wasRefused) {
            const QString given = askPassword(settings.user);
            if (given.isNull())
                return;
            password = given;
        }
        settings.password = password;
    }
    remember();
    wasRefused = false;
    shownBroker = broker::urlText(url);
    // Settings it cannot use (an unreadable CA file, a filter MQTT refuses) are told by the
    // status line.
    lines->open(settings, filters, &why);
    clock->start();
    showConnection();
}

void SiteView::disconnectFromBroker()
{
    lines->close();
    showConnection();
}

void SiteView::showConnection()
{
    // The reasons come with or without their full stop; the texts below add their own.
    QString reason = lines->reason();
    while (reason.endsWith(QLatin1Char('.')))
        reason.chop(1);
    QString text;
    bool trouble = false;
    const QString since = lines->brokerLostAt() > 0
                              ? QDateTime::fromMSecsSinceEpoch(lines->brokerLostAt())
                                    .toString(QStringLiteral("hh:mm:ss"))
                              : QString();
    switch (lines->connection()) {
    case SiteMonitor::Connection::Closed:
        text = reason.isEmpty()
                   ? QStringLiteral("Не подключено. Укажите брокер и нажмите «Подключить».")
                   : QStringLiteral("Не подключено: %1").arg(reason);
        trouble = !reason.isEmpty();
        break;
    case SiteMonitor::Connection::Connecting:
        text = QStringLiteral("Подключение к %1…").arg(shownBroker);
        if (!reason.isEmpty()) {
            text += QStringLiteral(" Прошлая попытка: %1").arg(reason);
            trouble = true;
        }
        break;
    case SiteMonitor::Connection::Connected:
        text = QStringLiteral("Подключено к %1, темы %2; линий: %3.")
                   .arg(shownBroker,
                        SiteMonitor::splitFilters(topics->text()).join(QStringLiteral(", ")))
                   .arg(lines->lines().size());
        // A subscription the broker refused.
        if (!reason.isEmpty()) {
            text += QLatin1Char(' ') + reason.left(1).toUpper() + reason.mid(1) + QLatin1Char('.');
            trouble = true;
        }
        break;
    case SiteMonitor::Connection::Lost:
        text = QStringLiteral("Нет связи с брокером %1 с %2: %3. Попытки продолжаются; "
                              "состояние линий неизвестно.")
                   .arg(shownBroker, since, reason);
        trouble = true;
        break;
    case SiteMonitor::Connection::Refused:
        wasRefused = true;
        text = QStringLiteral("Брокер %1 не принял подключение: %2. Следующая попытка через "
                              "%3 с. Нет связи с %4; состояние линий неизвестно.")
                   .arg(shownBroker, reason)
                   .arg((std::max(0, lines->retryInMs()) + 999) / 1000)
                   .arg(since);
        if (!user->text().isEmpty())
            text += QStringLiteral(" «Подключить» спросит пароль снова.");
        trouble = true;
        break;
    }
    if (status->text() != text)
        status->setText(text);
    status->setStyleSheet(trouble ? QStringLiteral("color: #b00000;") : QString());
    connectButton->setEnabled(true);
    disconnectButton->setEnabled(lines->connection() != SiteMonitor::Connection::Closed);
}

void SiteView::showEvent(QShowEvent* event)
{
    QWidget::showEvent(event);
    // Opened again, or for the first time with a broker remembered: it connects.
    if (lines->connection() == SiteMonitor::Connection::Closed && !host->text().trimmed().isEmpty())
        connectToBroker();
    clock->start();
    refresh();
}

void SiteView::closeEvent(QCloseEvent* event)
{
    // Closed, it follows nothing, and the broker keeps no session for it; the readings kept
    // stay for the next opening.
    clock->stop();
    lines->close();
    Remembered settings;
    settings.beginGroup(QStringLiteral("site"));
    settings.setValue(QStringLiteral("geometry"), saveGeometry());
    settings.setValue(QStringLiteral("splitter"), split->saveState());
    if (fitted)
        settings.setValue(QStringLiteral("columns"), view->header()->saveState());
    QWidget::closeEvent(event);
}

void SiteView::showTrends()
{
    QVector<TrendPlot::Series> series;
    for (const auto& [line, addr, baudrate] : tree->tickedSensors()) {
        const ReadingBuffer* buffer = lines->readings().find(line, addr, baudrate);
        if (!buffer)
            continue;
        QString name;
        const auto known = lines->lines().constFind(line);
        if (known != lines->lines().constEnd())
            for (const SensorState& sensor : known->sensors)
                if (sensor.addr == addr && sensor.baudrate == baudrate)
                    name = sensor.name;
        const QString shownLine = broker::shownText(line, SiteMonitor::maxTextChars);
        TrendPlot::Series s;
        s.buffer = buffer;
        s.title = name.isEmpty() ? QStringLiteral("%1: %2").arg(shownLine).arg(addr)
                                 : QStringLiteral("%1: %2 · %3").arg(shownLine).arg(addr).arg(name);
        // The same address on two lines: two colours.
        s.colour = QColor::fromHsv(int((qHash(line) % 360 + uint(addr) * 67) % 360), 230, 200);
        series.append(s);
    }
    plot->setSeries(series);
    plot->refresh(QDateTime::currentMSecsSinceEpoch());
}

void SiteView::refresh()
{
    const qint64 now = QDateTime::currentMSecsSinceEpoch();
    tree->tick(now);
    // Fitted to the texts once a sensor has values to show; fitting on every tick would measure
    // every cell each time.
    if (!fitted) {
        for (const SiteLine& line : lines->lines())
            fitted = fitted || std::any_of(line.sensors.begin(), line.sensors.end(),
                                           [](const SensorState& s) { return s.answered; });
        if (fitted) {
            for (int column = 0; column < overview::ColumnCount; ++column)
                if (column != overview::Name)
                    view->resizeColumnToContents(column);
        }
    }
    // The rows measured were those in sight: the address column keeps room for the tree's
    // indent, the box and any address.
    const int address = view->indentation() + style()->pixelMetric(QStyle::PM_IndicatorWidth) +
                        view->fontMetrics().horizontalAdvance(QStringLiteral("2477"));
    if (view->columnWidth(overview::Address) < address)
        view->setColumnWidth(overview::Address, address);
    // The countdown to the next attempt, the time since the broker was lost.
    if (lines->connection() != SiteMonitor::Connection::Closed)
        showConnection();
    if (++ticks % 2 == 0 || plot->paused())
        plot->refresh(now);
}

void SiteView::exportCsv()
{
    csv::Style style = csv::Style::Comma;
    const QString path = chooseCsvFile(&style);
    if (path.isEmpty())
        return;
    std::map<std::tuple<QString, int, int>, QString> names;
    for (const SiteLine& line : lines->lines())
        for (const SensorState& sensor : line.sensors)
            names[{line.name, sensor.addr, sensor.baudrate}] = sensor.name;
    const auto nameOf = [&names](const Reading& reading) {
        const auto found = names.find({reading.port, reading.addr, reading.baudrate});
        return found == names.end() ? QString() : found->second;
    };
    int readings = 0;
    for (const ReadingBuffer* buffer : lines->readings().all())
        readings += buffer->size();
    QString error;
    // A line no longer in the view keeps the port its file named.
    if (!csv::writeSite(path, lines->readings().all(), lines->ports(), nameOf, style, &error))
        QMessageBox::warning(this, QStringLiteral("Экспорт CSV"),
                             QStringLiteral("Файл не записан: %1").arg(error));
    else
        csvexport::confirm(this, path, readings, style, completenessSummary());
}

QString SiteView::completenessSummary() const
{
    // Whoever reads the file learns what it lacks: each line's share of its readings, its holes.
    QStringList rows;
    const qint64 now = QDateTime::currentMSecsSinceEpoch();
    for (const SiteLine& line : lines->lines()) {
        if (line.ledger.expected() == 0)
            continue;
        double received = 0;
        double expected = 0;
        line.ledger.countSince(now - 3600 * 1000, &received, &expected);
        QString row = QStringLiteral("%1: получено %2 за час, %3 с открытия; пропусков: %4")
                          .arg(broker::shownText(line.name, SiteMonitor::maxTextChars),
                               site::percentText(received, expected),
                               site::percentText(double(line.ledger.received()),
                                                 double(line.ledger.expected())))
                          .arg(line.ledger.holes().size());
        if (line.dropped > 0)
            row += QStringLiteral(", отброшено очередью: %1").arg(line.dropped);
        rows << row;
    }
    return rows.isEmpty() ? QString()
                          : QStringLiteral("Полнота показаний по линиям:\n") + rows.join('\n');
}
