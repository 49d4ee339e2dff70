#pragma once

#include <QAbstractItemModel>
#include <QString>
#include <QTreeView>

// The site view's tree as its tests read it.

// The row of a line, by its name; invalid until it shows.
inline QModelIndex lineRow(QTreeView* tree, const QString& name)
{
    const QAbstractItemModel* model = tree->model();
    for (int row = 0; row < model->rowCount(); ++row)
        if (model->index(row, 0).data(Qt::UserRole).toString() == name)
            return model->index(row, 0);
    return QModelIndex();
}

// A sensor row's cell under its line.
inline QString cell(QTreeView* tree, const QString& line, int row, int column,
                    int role = Qt::DisplayRole)
{
    return tree->model()->index(row, column, lineRow(tree, line)).data(role).toString();
}
