#include "gui/sitemodel.h"
#include "codec/sitepayloads.h"
#include "core/devices/sitemonitor.h"

#include <QDateTime>
#include <QFont>
#include <algorithm>

namespace site {

using namespace overview;

namespace {

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
        return line.doubt.isEmpty() ? QStringLiteral("online, нет показаний")
                                    : QStringLiteral("недостоверно: %1").arg(line.doubt);
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

LineTree::LineTree(const SiteMonitor& monitor, QObject* parent)
    : QAbstractItemModel(parent), monitor(monitor)
{
}

void LineTree::update(const QSet<QString>& changed)
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

void LineTree::tick(qint64 now)
{
    clockMs = now;
    if (rows.isEmpty())
        return;
    emit dataChanged(index(0, 0), index(rows.size() - 1, ColumnCount - 1));
    for (int line = 0; line < rows.size(); ++line)
        if (!rows[line].sensors.isEmpty())
            emit dataChanged(index(0, 0, index(line, 0)),
                             index(rows[line].sensors.size() - 1, ColumnCount - 1, index(line, 0)));
}

void LineTree::setTicked(const std::set<Key>& keys)
{
    ticked = keys;
    if (ticksChanged)
        ticksChanged();
}

QModelIndex LineTree::index(int row, int column, const QModelIndex& parent) const
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

QModelIndex LineTree::parent(const QModelIndex& child) const
{
    if (!child.isValid() || !child.internalId())
        return QModelIndex();
    const int row = rowOfId.value(child.internalId(), -1);
    return row < 0 ? QModelIndex() : createIndex(row, 0, quintptr(0));
}

int LineTree::rowCount(const QModelIndex& parent) const
{
    if (!parent.isValid())
        return rows.size();
    if (parent.internalId() || parent.column() != 0 || parent.row() >= rows.size())
        return 0;
    return rows[parent.row()].sensors.size();
}

QVariant LineTree::headerData(int section, Qt::Orientation orientation, int role) const
{
    if (orientation != Qt::Horizontal || role != Qt::DisplayRole)
        return QAbstractItemModel::headerData(section, orientation, role);
    return columnTitle(section);
}

Qt::ItemFlags LineTree::flags(const QModelIndex& index) const
{
    Qt::ItemFlags f = QAbstractItemModel::flags(index);
    if (index.isValid() && index.internalId() && index.column() == Address)
        f |= Qt::ItemIsUserCheckable;
    return f;
}

QString LineTree::lineNameOf(const QModelIndex& index) const
{
    if (!index.isValid())
        return QString();
    const int row = index.internalId() ? rowOfId.value(index.internalId(), -1) : index.row();
    return row >= 0 && row < rows.size() ? rows[row].name : QString();
}

QVariant LineTree::data(const QModelIndex& index, int role) const
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

bool LineTree::setData(const QModelIndex& index, const QVariant& value, int role)
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

void LineTree::reindex()
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
void LineTree::syncSensors(int row, const SiteLine& line)
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

const SiteLine* LineTree::lineAt(int row) const
{
    if (row < 0 || row >= rows.size())
        return nullptr;
    const auto it = monitor.lines().constFind(rows[row].name);
    return it == monitor.lines().constEnd() ? nullptr : &it.value();
}

const SensorState* LineTree::sensorAt(const SiteLine& line, int addr, int baudrate)
{
    const std::pair<int, int> key{addr, baudrate};
    const auto it = std::lower_bound(line.sensors.begin(), line.sensors.end(), key,
                                     [](const SensorState& s, const std::pair<int, int>& k) {
                                         return std::make_pair(s.addr, s.baudrate) < k;
                                     });
    return it != line.sensors.end() && it->addr == addr && it->baudrate == baudrate ? &*it
                                                                                    : nullptr;
}

QVariant LineTree::lineData(int row, int column, int role) const
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

QString LineTree::lineText(const SiteLine& line) const
{
    QString text = broker::shownText(line.name, 120) + QStringLiteral(" — ") + lineStateText(line);
    if (line.state == SiteLine::State::Stale && line.doubt.isEmpty())
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

QString LineTree::completenessText(const SiteLine& line) const
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

qint64 LineTree::now() const
{
    return clockMs > 0 ? clockMs : QDateTime::currentMSecsSinceEpoch();
}

bool LineOrder::lessThan(const QModelIndex& left, const QModelIndex& right) const
{
    if (!left.parent().isValid()) {
        const bool less = left.data(Qt::UserRole).toString() < right.data(Qt::UserRole).toString();
        const bool greater =
            right.data(Qt::UserRole).toString() < left.data(Qt::UserRole).toString();
        return sortOrder() == Qt::AscendingOrder ? less : greater;
    }
    return QSortFilterProxyModel::lessThan(left, right);
}

} // namespace site
