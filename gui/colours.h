#pragma once

#include <QColor>

// Background of a device row whose record failed to answer.
QColor silentRowColour();

// Background of the current row after an exchange that ended with the given error code.
QColor exchangeColour(int error, quint8 coilStatus);
