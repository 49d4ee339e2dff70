#pragma once

#include <QObject>
#include <QString>
#include <initializer_list>

// SIGTERM, SIGINT and the like end the program as its own end does. The handler only writes to
// a socket; the event loop reads it and emits arrived(), so that whatever ends the program runs
// outside the handler. A second signal of a kind caught, arriving while the program is already
// ending, takes the default action: a program that does not end by itself still ends.
class EndSignals : public QObject
{
    Q_OBJECT
public:
    explicit EndSignals(QObject* parent = nullptr) : QObject(parent) {}

    // Catches these signals from now on; false with the system's reason when it cannot.
    bool install(std::initializer_list<int> signos, QString* why = nullptr);

signals:
    void arrived();
};
