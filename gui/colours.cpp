#include "gui/colours.h"
#include "codec/rtu.h"

QColor silentRowColour()
{
    return QColor(192, 192, 192);
}

QColor exchangeColour(int error, quint8 coilStatus)
{
    if (error == rtu::UnknownCommand)
        return QColor(0x1E90FF);
    if (error != rtu::NoError)
        return QColor(0xC0C0C0);
    return coilStatus != 0 ? QColor(0xFF9980) : QColor(0xFFFFFF);
}
