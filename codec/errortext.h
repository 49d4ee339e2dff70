#pragma once

#include <QString>

// Texts of the Modbus error codes: index = code. Codes 12 to 16 have no text of their own;
// they occur only as a loader status passed through.
extern const QString errorText[22];

// The text for any code: the table's entry for 0 to 21, and "Неизвестная ошибка (code)"
// for a code the table has no entry for (an erase status of 0x16 or more, or a negative one).
QString errorTextFor(int code);
