#pragma once

#include <QSettings>

// Where the window keeps what it remembers between runs; made where it is used, on the stack.
class Remembered : public QSettings
{
public:
    Remembered()
        : QSettings(QSettings::NativeFormat, QSettings::UserScope, QStringLiteral("VEL_DUO300"),
                    QStringLiteral("VEL_DUO300"))
    {
    }
};
