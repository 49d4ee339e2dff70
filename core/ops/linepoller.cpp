#include "core/ops/linepoller.h"
#include "core/link/lineclient.h"
#include "core/ops/operations.h"

#include <QDateTime>

LinePoller::LinePoller(LineClient& line, ops::OperationHost& host, SensorRegistry& registry,
                       QObject* parent)
    : QObject(parent), line(line), host(host), registry(registry)
{
    qRegisterMetaType<Reading>();
    timer.setSingleShot(true);
    connect(&timer, &QTimer::timeout, this, &LinePoller::step);
}

void LinePoller::start(const QString& portName)
{
    if (isRunning && portName == port)
        return;
    port = portName;
    isRunning = true;
    plan.clear();
    next = 0;
    roundClock.invalidate();
    // A step in flight goes on by itself once its exchange is over.
    if (!inStep)
        timer.start(0);
}

void LinePoller::stop()
{
    isRunning = false;
    timer.stop();
}

QVector<int> LinePoller::roundOrder(const SensorRegistry& registry, int openBaudrate)
{
    QVector<int> speeds;
    if (openBaudrate > 0)
        for (const DeviceVEL_DUO300& dev : registry.records())
            if (dev.baudrate == openBaudrate) {
                speeds.append(openBaudrate);
                break;
            }
    for (const DeviceVEL_DUO300& dev : registry.records())
        if (!speeds.contains(dev.baudrate))
            speeds.append(dev.baudrate);
    QVector<int> rows;
    for (int speed : speeds)
        for (int row = 0; row < registry.size(); ++row)
            if (registry[row].baudrate == speed)
                rows.append(row);
    return rows;
}

void LinePoller::beginRound()
{
    plan.clear();
    for (int row : roundOrder(registry, line.portName() == port ? line.baudrate() : 0))
        plan.append({registry[row].addr, registry[row].baudrate});
    next = 0;
    polled = 0;
    roundClock.start();
}

void LinePoller::step()
{
    // A step runs from the timer only; one started inside another's wait would nest.
    if (!isRunning || inStep)
        return;
    if (line.ending()) {
        stop();
        return;
    }
    if (line.waiting() || (isBusy && isBusy())) {
        timer.start(yieldRetryMs);
        return;
    }
    if (next >= plan.size()) {
        if (roundClock.isValid() && !plan.isEmpty() && next == plan.size()) {
            emit roundDone(polled, roundClock.elapsed());
            ++next; // reported once
            if (!isRunning)
                return;
        }
        const qint64 left = roundClock.isValid() ? roundMs - roundClock.elapsed() : 0;
        if (left > 0) {
            timer.start(int(left));
            return;
        }
        beginRound();
        if (plan.isEmpty()) {
            timer.start(roundMs);
            return;
        }
    }

    const Planned planned = plan.at(next++);
    const int row = registry.find(planned.addr, planned.baudrate);
    if (row < 0) {
        // It left the list or moved since the round began.
        timer.start(0);
        return;
    }
    inStep = true;
    // The port of this exchange: start() may name another while it waits.
    const QString polledPort = port;
    line.use(polledPort, planned.baudrate);
    // The registry does not change while an exchange waits: the owner defers such changes.
    DeviceVEL_DUO300* dev = &registry[row];
    const ops::Result result = ops::PollSensor(line, host).run(dev);
    inStep = false;
    if (result.kind == ops::Result::Ending) {
        stop();
        return;
    }
    Reading r;
    r.msecs = QDateTime::currentMSecsSinceEpoch();
    r.port = polledPort;
    r.addr = planned.addr;
    r.baudrate = planned.baudrate;
    r.error = result.done() ? 0 : result.error;
    // A failed poll keeps the record's previous values: the reading carries none of them.
    if (r.ok()) {
        r.sensorType = sensorTypeOf(dev->param);
        r.measure = dev->param.measure;
        r.adc = dev->param.adc;
        r.coil = dev->coil[0];
    }
    ++polled;
    // Stopped during the exchange, the reading is still reported: it was taken.
    emit reading(r);
    if (isRunning)
        timer.start(0);
}
