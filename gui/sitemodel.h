#pragma once

#include "gui/sensorcells.h"

#include <QAbstractItemModel>
#include <QHash>
#include <QSortFilterProxyModel>
#include <QString>
#include <QVector>
#include <functional>
#include <set>
#include <tuple>

class SiteMonitor;
struct SiteLine;
struct SensorState;

// The site view's model: the lines of a site monitor as a tree, in the line overview's columns
// and colours, and the order they are shown in. No widgets of the view's own.
namespace site {

// A share of readings received, "97,5 %"; a dash when none was expected.
QString percentText(double received, double expected);

// The lines as a tree: a row for each line, its sensors under it. The rows follow the
// monitor's lines by the changes it reports, a row inserted or removed at a time; their values
// are read from the monitor when shown. Sorting keys come under Qt::UserRole.
class LineTree : public QAbstractItemModel
{
public:
    LineTree(const SiteMonitor& monitor, QObject* parent);

    std::function<void()> ticksChanged;

    // The rows of the lines named follow what the monitor has now.
    void update(const QSet<QString>& changed);
    // The values are shown anew at each tick, every reading since the last one together.
    void tick(qint64 now);

    using Key = std::tuple<QString, int, int>;
    const std::set<Key>& tickedSensors() const { return ticked; }
    void setTicked(const std::set<Key>& keys);
    bool isLine(const QModelIndex& index) const { return index.isValid() && !index.internalId(); }
    // The line a row stands for, or the line of a sensor's row.
    QString lineNameOf(const QModelIndex& index) const;

    QModelIndex index(int row, int column,
                      const QModelIndex& parent = QModelIndex()) const override;
    QModelIndex parent(const QModelIndex& child) const override;
    int rowCount(const QModelIndex& parent = QModelIndex()) const override;
    int columnCount(const QModelIndex& = QModelIndex()) const override
    {
        return overview::ColumnCount;
    }
    QVariant headerData(int section, Qt::Orientation orientation, int role) const override;
    Qt::ItemFlags flags(const QModelIndex& index) const override;
    QVariant data(const QModelIndex& index, int role) const override;
    bool setData(const QModelIndex& index, const QVariant& value, int role) override;

private:
    struct Row
    {
        QString name;
        quintptr id;
        QVector<QPair<int, int>> sensors; // address and speed, in the monitor's order
    };

    void reindex();
    void syncSensors(int row, const SiteLine& line);
    const SiteLine* lineAt(int row) const;
    static const SensorState* sensorAt(const SiteLine& line, int addr, int baudrate);
    QVariant lineData(int row, int column, int role) const;
    QString lineText(const SiteLine& line) const;
    QString completenessText(const SiteLine& line) const;
    qint64 now() const;

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
    bool lessThan(const QModelIndex& left, const QModelIndex& right) const override;
};

} // namespace site
