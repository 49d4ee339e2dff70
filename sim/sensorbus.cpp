#include "sim/sensorbus.h"

#include "codec/protocol.h"
#include "sim/faults.h"
#include "sim/framing.h"
#include "sim/sensorlogic.h"
#include "sim/terminal.h"

#include <algorithm>
#include <cerrno>
#include <chrono>
#include <climits>
#include <condition_variable>
#include <cstring>
#include <ctime>
#include <deque>
#include <map>
#include <mutex>
#include <poll.h>
#include <sys/eventfd.h>
#include <thread>
#include <unistd.h>
#include <vector>

namespace sim {

qint64 nowMs()
{
    using namespace std::chrono;
    return duration_cast<milliseconds>(steady_clock::now().time_since_epoch()).count();
}

namespace {

// Microseconds of the same clock: the bus keeps its own times in them, so that a piece goes
// out when its last byte would have crossed the wire, not up to a millisecond off.
qint64 nowUs()
{
    using namespace std::chrono;
    return duration_cast<microseconds>(steady_clock::now().time_since_epoch()).count();
}

// Line silence that ends a burst of bytes which does not make a frame.
constexpr qint64 burstSilenceUs = 5000;
// A sensor's own turnaround before it answers.
constexpr int answerDelayMs = 2;

// Ten bits a character: start, 8 data bits, stop.
qint64 wireTimeUs(int bytes, int baud)
{
    return baud > 0 ? (qint64(bytes) * 10 * 1000000 + baud - 1) / baud : 0;
}

} // namespace

struct SensorBus::Impl
{
    // A sensor and what its working-time counter counts from.
    struct Entry
    {
        Sensor sensor;
        qint64 sinceMs = 0;
        quint32 workTimeAt = 0;
    };

    // A piece of an answer, delayUs after the request or after the piece before it.
    struct Piece
    {
        qint64 delayUs = 0;
        QByteArray bytes;
    };

    // An answer on its way: pieces.first() goes out at dueUs, each further one its delay
    // after the write of the one before.
    struct Pending
    {
        qint64 dueUs = 0;
        QList<Piece> pieces;
        Entry* retune = nullptr;
    };

    mutable std::mutex mutex;
    mutable std::condition_variable receivedChanged;
    std::thread thread;
    bool stopping = false;

    int master = -1;
    int slave = -1; // kept open for the line settings and so the master never hangs up
    int wake = -1;
    QString slavePath;
    QByteArray linkPath; // the symbolic link that names the terminal, if any

    std::vector<std::unique_ptr<Entry>> entries; // in the order they came onto the line
    std::deque<SensorType> factoryQueue;         // types of the sensors waiting to be plugged in
    std::map<int, FaultSpec> faults;             // key: addr << 8 | function
    bool wireTime = false;
    bool requestWireTime = false;
    bool standard = false;
    std::deque<QList<Chunk>> scripts;

    QByteArray rx;
    qint64 rxLastUs = 0;
    QByteArray tx; // written to the master as it takes it
    std::vector<Pending> pending;

    QList<Received> receivedLog;
    QList<Sent> sentLog;

    Entry* find(quint8 addr) const
    {
        for (const auto& entry : entries) {
            if (entry->sensor.addr == addr)
                return entry.get();
        }
        return nullptr;
    }

    Entry* findAnswering(quint8 addr, int baud) const
    {
        for (const auto& entry : entries) {
            if (entry->sensor.addr == addr && entry->sensor.baud == baud)
                return entry.get();
        }
        return nullptr;
    }

    // Replaces the sensor at the same address and speed, or comes onto the line after the others.
    void add(const Sensor& sensor, qint64 now)
    {
        Entry* entry = findAnswering(sensor.addr, sensor.baud);
        if (!entry) {
            entries.push_back(std::make_unique<Entry>());
            entry = entries.back().get();
        }
        entry->sensor = sensor;
        entry->sinceMs = now;
        entry->workTimeAt = sensor.param.workTime;
    }

    // The operator plugs in the next factory sensor once nobody answers at the factory address
    // and speed.
    void plugInFactorySensor(qint64 now)
    {
        if (factoryQueue.empty())
            return;
        const Sensor next = factorySensor(factoryQueue.front());
        if (findAnswering(next.addr, next.baud))
            return;
        add(next, now);
        factoryQueue.pop_front();
    }

    static void refresh(Entry& entry, qint64 now)
    {
        entry.sensor.param.workTime = entry.workTimeAt + quint32((now - entry.sinceMs) / 1000);
        followPotentiometer(entry.sensor);
    }

    void wakeUp() const
    {
        const quint64 one = 1;
        if (wake >= 0 && ::write(wake, &one, sizeof one) < 0) {
            // The counter is saturated, so the thread is awake anyway.
        }
    }

    void send(const QByteArray& bytes, qint64 nowUs)
    {
        if (master < 0)
            return;
        sentLog.append({bytes, nowUs / 1000});
        tx.append(bytes);
        flush();
    }

    void flush()
    {
        while (master >= 0 && !tx.isEmpty()) {
            const ssize_t n = ::write(master, tx.constData(), size_t(tx.size()));
            if (n > 0) {
                tx.remove(0, int(n));
            } else if (n < 0 && errno == EINTR) {
                continue;
            } else {
                if (n < 0 && errno != EAGAIN)
                    tx.clear();
                break;
            }
        }
    }

    void hangUp()
    {
        closeFd(master);
        closeFd(slave);
        rx.clear();
        tx.clear();
        pending.clear();
    }

    // Removes the link while it still names this bus's terminal: a newer bus may stand
    // behind it.
    void dropLink()
    {
        if (linkPath.isEmpty())
            return;
        char target[PATH_MAX];
        const ssize_t n = ::readlink(linkPath.constData(), target, sizeof target);
        if (n > 0 && QByteArray(target, int(n)) == slavePath.toLocal8Bit())
            ::unlink(linkPath.constData());
        linkPath.clear();
    }

    // With wireBaud, each piece also takes its bytes' time on the wire first, and with the
    // request's wire time emulated, the first waits for the request to have crossed it.
    void schedule(qint64 requestEndUs, const QList<Chunk>& chunks, Entry* retuneAfter,
                  int wireBaud = 0, int requestBytes = 0)
    {
        Pending item;
        for (const Chunk& chunk : chunks)
            item.pieces.append(
                {chunk.delayMs * qint64(1000) + wireTimeUs(chunk.bytes.size(), wireBaud),
                 chunk.bytes});
        if (requestWireTime && !item.pieces.isEmpty())
            item.pieces[0].delayUs += wireTimeUs(requestBytes, wireBaud);
        item.dueUs = requestEndUs + (item.pieces.isEmpty() ? 0 : item.pieces.first().delayUs);
        item.retune = retuneAfter;
        pending.push_back(std::move(item));
    }

    QByteArray seal(const QByteArray& body) const
    {
        return standard ? standardSealed(body) : sealed(body);
    }

    // The normal answer, spoiled by a fault when one is set for this request.
    QList<Chunk> answerFor(Entry& entry, const QByteArray& frame, bool* retune)
    {
        Sensor& sensor = entry.sensor;
        const quint8 addr = sensor.addr;
        const quint8 function = quint8(frame.at(1));

        auto fault = faults.find(addr << 8 | function);
        if (fault == faults.end())
            fault = faults.find(addr << 8 | everyFunction);
        FaultSpec* cue = fault != faults.end() ? &fault->second : nullptr;
        if (cue && cue->writeRegister >= 0 &&
            (function != rtu::code(rtu::Function::WriteRegisters) || frame.size() < 4 ||
             rtu::wordAt(frame, 2) != cue->writeRegister))
            cue = nullptr;
        if (cue && cue->after > 0) {
            --cue->after;
            cue = nullptr;
        }
        bool spoiled = cue != nullptr;

        QByteArray answer;
        if (cue && cue->kind == Fault::Exception) {
            answer = exceptionAnswer(addr, function, quint8(cue->value));
        } else if (cue && cue->kind == Fault::EraseStatus &&
                   function == rtu::code(rtu::Function::ErasePages) && sensor.inLoader) {
            // A failed erase leaves the flash as it was.
            answer = sealed(rtu::eraseAnswer(addr, quint8(cue->value)));
        } else {
            const Outcome outcome = serveRequest(sensor, frame);
            answer = outcome.answer;
            *retune = outcome.retune;
            spoiled = spoiled && cue->kind != Fault::EraseStatus;
        }
        if (standard)
            swapCrcBytes(answer);

        QList<Chunk> chunks{{answerDelayMs, answer}};
        if (spoiled) {
            chunks = spoiledAnswer(answer, addr, *cue, answerDelayMs,
                                   [this](const QByteArray& body) { return seal(body); });
            if (cue->times > 0 && --cue->times == 0)
                faults.erase(fault);
        }
        return chunks;
    }

    // One request: a whole frame, or a burst that ended with line silence.
    void take(const QByteArray& received, qint64 atUs, bool framed)
    {
        const int baud = lineBaud(slave);
        const qint64 at = atUs / 1000;
        receivedLog.append({received, at, baud});
        receivedChanged.notify_all();

        if (!scripts.empty()) {
            schedule(atUs, scripts.front(), nullptr);
            scripts.pop_front();
            return;
        }
        const QByteArray bytes = standard ? fromStandard(received) : received;
        if (!answerable(bytes, framed))
            return;
        const quint8 addr = quint8(bytes.at(0));
        Entry* entry = addr != 0 ? findAnswering(addr, baud) : nullptr;
        if (!entry)
            return;
        refresh(*entry, at);
        // The drift is seen only through a parameters read, so it is worked out only for one.
        if (quint8(bytes.at(1)) == rtu::code(rtu::Function::ReadRegisters) &&
            rtu::wordAt(bytes, 2) == regmap::paramAddr)
            applyDrift(entry->sensor, at);
        bool retune = false;
        const QList<Chunk> chunks = answerFor(*entry, bytes, &retune);
        schedule(atUs, chunks, retune ? entry : nullptr, wireTime ? baud : 0, received.size());
    }

    void readLine(qint64 nowUs)
    {
        char buffer[4096];
        for (;;) {
            const ssize_t n = ::read(master, buffer, sizeof buffer);
            if (n > 0) {
                rx.append(buffer, int(n));
                rxLastUs = nowUs;
                continue;
            }
            if (n < 0 && errno == EINTR)
                continue;
            if (n == 0 || errno != EAGAIN)
                hangUp(); // the line is gone; polling it further would only spin
            break;
        }
        if (!standard) {
            for (const QByteArray& frame : takeFrames(rx))
                take(frame, rxLastUs, true);
            return;
        }
        for (int length = standardRequestLength(rx); length > 0;
             length = standardRequestLength(rx)) {
            const QByteArray frame = rx.left(length);
            rx.remove(0, length);
            take(frame, rxLastUs, true);
        }
    }

    // Runs what is due and returns the time until the next thing to do, -1 for none.
    qint64 runDue(qint64 now)
    {
        if (!rx.isEmpty() && now - rxLastUs >= burstSilenceUs) {
            const QByteArray burst = rx;
            rx.clear();
            take(burst, rxLastUs, false);
        }
        for (bool again = true; again;) {
            again = false;
            for (size_t i = 0; i < pending.size(); ++i) {
                Pending& item = pending[i];
                if (item.dueUs > now)
                    continue;
                if (!item.pieces.isEmpty()) {
                    send(item.pieces.takeFirst().bytes, now);
                    if (!item.pieces.isEmpty()) {
                        item.dueUs = now + item.pieces.first().delayUs;
                        again = true;
                        continue;
                    }
                }
                if (item.retune) {
                    sim::retune(item.retune->sensor);
                    plugInFactorySensor(now / 1000);
                }
                pending.erase(pending.begin() + std::ptrdiff_t(i));
                again = true;
                break;
            }
        }

        qint64 next = -1;
        auto consider = [&](qint64 at) { next = next < 0 ? at : std::min(next, at); };
        if (!rx.isEmpty())
            consider(rxLastUs + burstSilenceUs);
        for (const Pending& item : pending)
            consider(item.dueUs);
        return next < 0 ? -1 : std::max<qint64>(next - now, 0);
    }

    void serve()
    {
        std::unique_lock<std::mutex> lock(mutex);
        while (!stopping) {
            const qint64 waitUs = runDue(nowUs());
            const timespec timeout{time_t(waitUs / 1000000), long(waitUs % 1000000) * 1000};
            pollfd fds[2] = {{wake, POLLIN, 0}, {master, POLLIN, 0}};
            if (!tx.isEmpty())
                fds[1].events |= POLLOUT;
            const nfds_t count = master >= 0 ? 2 : 1;
            lock.unlock();
            const int ready = ::ppoll(fds, count, waitUs < 0 ? nullptr : &timeout, nullptr);
            lock.lock();
            if (ready <= 0)
                continue;
            if (fds[0].revents & POLLIN) {
                quint64 value;
                if (::read(wake, &value, sizeof value) < 0) {
                    // Nothing to drain: another wake-up got there first.
                }
            }
            // The master may have been closed by hangUp() while the lock was released.
            if (count == 2 && master == fds[1].fd && fds[1].revents) {
                if (fds[1].revents & POLLOUT)
                    flush();
                if (fds[1].revents & (POLLIN | POLLHUP | POLLERR))
                    readLine(nowUs());
            }
        }
    }
};

SensorBus::SensorBus() : d(std::make_unique<Impl>()) {}

SensorBus::~SensorBus()
{
    {
        std::lock_guard<std::mutex> lock(d->mutex);
        d->stopping = true;
        d->wakeUp();
    }
    if (d->thread.joinable())
        d->thread.join();
    d->hangUp();
    d->dropLink();
    closeFd(d->wake);
}

bool SensorBus::open(QString* error, const QString& linkPath)
{
    std::lock_guard<std::mutex> lock(d->mutex);
    if (d->thread.joinable()) {
        if (error)
            *error = QStringLiteral("the bus is open already");
        return false;
    }
    auto fail = [&](const QString& why) {
        if (error)
            *error = why;
        d->hangUp();
        closeFd(d->wake);
        return false;
    };

    Terminal terminal;
    QString why;
    if (!openTerminal(terminal, &why))
        return fail(why);
    d->master = terminal.master;
    d->slave = terminal.slave;
    d->wake = eventfd(0, EFD_NONBLOCK | EFD_CLOEXEC);
    if (d->wake < 0)
        return fail(systemFault("eventfd"));
    if (!linkPath.isEmpty()) {
        const QByteArray link = linkPath.toLocal8Bit();
        if (!linkTerminal(terminal.slavePath, link, &why))
            return fail(why);
        d->linkPath = link;
    }

    d->slavePath = terminal.slavePath;
    d->thread = std::thread([impl = d.get()] { impl->serve(); });
    return true;
}

QString SensorBus::slavePath() const
{
    std::lock_guard<std::mutex> lock(d->mutex);
    return d->slavePath;
}

void SensorBus::addSensor(quint8 addr, int baud, SensorType type)
{
    // The same address at another speed is another sensor: a search must tell them apart.
    addSensor(makeSensor(addr, baud, type));
}

void SensorBus::addSensor(const Sensor& sensor)
{
    std::lock_guard<std::mutex> lock(d->mutex);
    d->add(sensor, nowMs());
}

void SensorBus::queueFactorySensors(int count, SensorType type)
{
    std::lock_guard<std::mutex> lock(d->mutex);
    d->factoryQueue.insert(d->factoryQueue.end(), size_t(std::max(count, 0)), type);
    d->plugInFactorySensor(nowMs());
}

int SensorBus::factorySensorsWaiting() const
{
    std::lock_guard<std::mutex> lock(d->mutex);
    return int(d->factoryQueue.size());
}

bool SensorBus::hasSensor(quint8 addr) const
{
    std::lock_guard<std::mutex> lock(d->mutex);
    return d->find(addr) != nullptr;
}

Sensor SensorBus::sensor(quint8 addr) const
{
    std::lock_guard<std::mutex> lock(d->mutex);
    Impl::Entry* entry = d->find(addr);
    if (!entry)
        return Sensor{};
    Impl::refresh(*entry, nowMs());
    return entry->sensor;
}

void SensorBus::updateSensor(quint8 addr, const std::function<void(Sensor&)>& change)
{
    std::lock_guard<std::mutex> lock(d->mutex);
    Impl::Entry* entry = d->find(addr);
    if (!entry)
        return;
    const qint64 now = nowMs();
    Impl::refresh(*entry, now);
    const quint32 workTime = entry->sensor.param.workTime;
    change(entry->sensor);
    if (entry->sensor.param.workTime != workTime) {
        // A new working time counts on from the value given.
        entry->sinceMs = now;
        entry->workTimeAt = entry->sensor.param.workTime;
    }
    followPotentiometer(entry->sensor);
    // A sensor moved by hand may have freed the factory address.
    d->plugInFactorySensor(now);
}

void SensorBus::setFault(quint8 addr, quint8 function, FaultSpec fault)
{
    std::lock_guard<std::mutex> lock(d->mutex);
    const int key = addr << 8 | function;
    if (fault.kind == Fault::None || fault.times == 0)
        d->faults.erase(key);
    else
        d->faults[key] = fault;
}

void SensorBus::clearFaults()
{
    std::lock_guard<std::mutex> lock(d->mutex);
    d->faults.clear();
}

void SensorBus::setWireTime(bool emulate)
{
    std::lock_guard<std::mutex> lock(d->mutex);
    d->wireTime = emulate;
}

void SensorBus::setRequestWireTime(bool emulate)
{
    std::lock_guard<std::mutex> lock(d->mutex);
    d->requestWireTime = emulate;
}

void SensorBus::setStandardFraming(bool standard)
{
    std::lock_guard<std::mutex> lock(d->mutex);
    d->standard = standard;
}

void SensorBus::queueScript(const QList<Chunk>& answer)
{
    std::lock_guard<std::mutex> lock(d->mutex);
    d->scripts.push_back(answer);
}

void SensorBus::writeRaw(const QByteArray& bytes)
{
    std::lock_guard<std::mutex> lock(d->mutex);
    d->send(bytes, nowUs());
    d->wakeUp(); // to watch for the master taking what it did not take at once
}

void SensorBus::hangUp()
{
    std::lock_guard<std::mutex> lock(d->mutex);
    d->hangUp();
    d->dropLink();
    d->wakeUp();
}

QList<Received> SensorBus::received() const
{
    std::lock_guard<std::mutex> lock(d->mutex);
    return d->receivedLog;
}

QList<Sent> SensorBus::sent() const
{
    std::lock_guard<std::mutex> lock(d->mutex);
    return d->sentLog;
}

void SensorBus::clearLog()
{
    std::lock_guard<std::mutex> lock(d->mutex);
    d->receivedLog.clear();
    d->sentLog.clear();
}

bool SensorBus::waitForReceived(int count, int timeoutMs) const
{
    std::unique_lock<std::mutex> lock(d->mutex);
    return d->receivedChanged.wait_for(lock, std::chrono::milliseconds(timeoutMs),
                                       [&] { return d->receivedLog.size() >= count; });
}

} // namespace sim
