#include "gui/rowdelegate.h"

QString DeviceRowDelegate::displayText(const QVariant& value, const QLocale& locale) const
{
    return QStyledItemDelegate::displayText(value, locale).remove(QChar(0));
}
