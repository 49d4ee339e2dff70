#include "gui/colours.h"

QColor silentRowColour()
{
    return QColor(192, 192, 192);
}

QColor exchangeColour(int error, quint8 coilStatus)
{
    if (error == 1)
        return QColor(0x1E90FF);
    if (error != 0)
        return QColor(0xC0C0C0);
    return coilStatus != 0 ? QColor(0xFF9980) : QColor(0xFFFFFF);
}
