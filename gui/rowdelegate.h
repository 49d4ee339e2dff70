#pragma once

#include <QStyledItemDelegate>

// Draws a device row without the NUL bytes that a name shorter than its 16-byte field brings
// into the row's text; the text itself stays as built.
class DeviceRowDelegate : public QStyledItemDelegate
{
    Q_OBJECT
public:
    using QStyledItemDelegate::QStyledItemDelegate;
    QString displayText(const QVariant& value, const QLocale& locale) const override;
};
