#pragma once

#include "codec/readings.h"
#include "core/devices/registry.h"

#include <QElapsedTimer>
#include <QObject>
#include <QString>
#include <QTimer>
#include <QVector>
#include <functional>

class LineClient;

namespace ops {
class OperationHost;
}

// Polls every sensor of a registry in turn, as the window polls the selected one (parameters,
// then coil 0), and reports each reading with its time. A round takes the sensors grouped by
// speed, so that the port is re-opened once per speed: the speed the port is open at first,
// then the others in list order, and within a speed in list order.
//
// It shares the line: before every exchange it yields while the line waits for another
// exchange and while its owner says the line is taken (an operation running or asking, a
// question open, user actions queued); it looks again a little later. It re-opens the port whenever
// the port is open for another speed than the sensor's, since others re-open it too.
class LinePoller : public QObject
{
    Q_OBJECT
public:
    LinePoller(LineClient& line, ops::OperationHost& host, SensorRegistry& registry,
               QObject* parent = nullptr);

    // Asked before every exchange: true while the owner needs the line for itself.
    void setBusy(std::function<bool()> busy) { isBusy = std::move(busy); }
    // Polls in rounds on this port, from now on, until stop(); a round starts at most once in
    // the round interval. Started on another port while it runs, it drops the round in hand and
    // begins a new one there: no request goes to the old port after this (one in flight ends).
    void start(const QString& portName);
    // The shortest time from the start of one round to the start of the next;
    // trend::fastestRoundMs unless set, which the trend buffers are sized for.
    void setRoundInterval(int ms) { roundMs = ms; }
    // No exchange starts after this; one in flight ends first.
    void stop();
    bool running() const { return isRunning; }
    QString portName() const { return port; }

    // Rows of the registry in the order of one round, taking the port open at this speed.
    static QVector<int> roundOrder(const SensorRegistry& registry, int openBaudrate);

    // How soon it looks again while it yields.
    static constexpr int yieldRetryMs = 50;

signals:
    // One sensor polled.
    void reading(const Reading& reading);
    // Every sensor listed when the round began was polled (or had left the list), in ms.
    void roundDone(int polled, qint64 ms);

private:
    void step();
    void beginRound();

    LineClient& line;
    ops::OperationHost& host;
    SensorRegistry& registry;
    std::function<bool()> isBusy;
    QString port;
    bool isRunning = false;
    bool inStep = false;
    int roundMs = trend::fastestRoundMs;
    QTimer timer;

    // The round: the sensors by address and speed, as they were listed when it began.
    struct Planned
    {
        qint32 addr;
        qint32 baudrate;
    };
    QVector<Planned> plan;
    int next = 0;
    int polled = 0;
    QElapsedTimer roundClock;
};
