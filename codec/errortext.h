#pragma once

#include <QString>

// The text for any error code (rtu::ErrorCode): empty for 0, the loader's flash statuses by
// their names, and "Неизвестная ошибка (code)" for a code that has no text (13 to 16, 22 and
// up, negative ones).
QString errorTextFor(int code);
