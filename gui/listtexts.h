#pragma once

#include <QListWidget>
#include <QStringList>

// The texts of every row of a list widget, in row order.
inline QStringList listTexts(const QListWidget* lw)
{
    QStringList texts;
    for (int row = 0; row < lw->count(); ++row)
        texts.append(lw->item(row)->text());
    return texts;
}
