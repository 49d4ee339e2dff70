#include "core/devices/sitepublisher.h"
#include "codec/brokerurl.h"
#include "codec/sitepayloads.h"

#include <QDateTime>
#include <QEventLoop>
#include <QTimer>

SitePublisher::SitePublisher(MqttClient& client, const QString& prefix, int queueLimit,
                             QObject* parent)
    : QObject(parent), client(client), prefix(prefix), limit(queueLimit)
{
    connect(&client, &MqttClient::connected, this, &SitePublisher::connected);
    connect(&client, &MqttClient::delivered, this, &SitePublisher::delivered);
    retained.insert(broker::statusTopic(prefix), QByteArrayLiteral("online"));
    current.state = QLatin1String(broker::linestate::polling);
    current.since = QDateTime::currentMSecsSinceEpoch();
    retained.insert(broker::stateTopic(prefix), broker::statePayload(current, 0, 0));
}

void SitePublisher::setLine(const QByteArray& lineJson)
{
    setRetained(broker::lineTopic(prefix), lineJson);
}

void SitePublisher::add(const Reading& reading, const DeviceVEL_DUO300& dev, const QString& failure)
{
    queue.push_back({reading, reading.ok() ? QString() : failure, ++seq, -1, false});
    if (int(queue.size()) > limit) {
        // The oldest waiting reading goes; those with the library are on their way already.
        if (handed < int(queue.size())) {
            queue.erase(queue.begin() + handed);
            ++droppedCount;
            if (!droppingReported) {
                droppingReported = true;
                emit dropping();
                publishState();
            }
        }
    }
    const QPair<qint32, qint32> key{reading.addr, reading.baudrate};
    auto state = states.find(key);
    if (state == states.end())
        state = states.insert(key, SensorState{reading.addr, reading.baudrate});
    state->take(reading, failure);
    setRetained(broker::sensorTopic(prefix, reading.addr),
                broker::sensorPayload(dev, *state, droppedCount));
    pump();
}

void SitePublisher::setState(const QString& state, const QString& text, const QString& system)
{
    if (state == current.state && text == current.text)
        return;
    current = {state, QDateTime::currentMSecsSinceEpoch(), text, system};
    publishState();
}

void SitePublisher::publishState()
{
    setRetained(broker::stateTopic(prefix), broker::statePayload(current, queued(), droppedCount));
}

bool SitePublisher::finish(int timeoutMs)
{
    retained.insert(broker::statusTopic(prefix), QByteArrayLiteral("offline"));
    const int id =
        client.publish(broker::statusTopic(prefix), QByteArrayLiteral("offline"), 1, true);
    if (id >= 0)
        retainedInFlight.insert(id, broker::statusTopic(prefix));
    const auto done = [this] {
        return client.isConnected() && queue.empty() && retainedInFlight.isEmpty();
    };
    if (done())
        return true;
    QEventLoop wait;
    QTimer timer;
    timer.setSingleShot(true);
    connect(&timer, &QTimer::timeout, &wait, &QEventLoop::quit);
    connect(this, &SitePublisher::drained, &wait, &QEventLoop::quit);
    connect(&client, &MqttClient::refused, &wait, &QEventLoop::quit);
    timer.start(timeoutMs);
    // Waiting is worth it only while the broker is there to answer.
    if (client.isConnected())
        wait.exec();
    return done();
}

void SitePublisher::connected()
{
    droppingReported = false;
    // The library sends again what it had in flight; these are handed over once more all the
    // same, so that one it let go cannot hold the queue for ever. A subscriber tells the
    // duplicates by their sequence numbers.
    for (int i = 0; i < handed; ++i) {
        queue[size_t(i)].id = -1;
        queue[size_t(i)].acknowledged = false;
    }
    handed = 0;
    retainedInFlight.clear();
    // The queue as it stands now, which is what a reader of the state wants after an outage.
    retained.insert(broker::stateTopic(prefix),
                    broker::statePayload(current, queued(), droppedCount));
    for (auto it = retained.cbegin(); it != retained.cend(); ++it) {
        const int id = client.publish(it.key(), it.value(), 1, true);
        if (id >= 0)
            retainedInFlight.insert(id, it.key());
    }
    pump();
}

void SitePublisher::setRetained(const QString& topic, const QByteArray& payload)
{
    retained.insert(topic, payload);
    // While the broker is away only the latest counts; it goes out on the reconnect.
    const int id = client.publish(topic, payload, 1, true);
    if (id >= 0)
        retainedInFlight.insert(id, topic);
}

void SitePublisher::pump()
{
    while (handed < int(queue.size()) && handed < inFlightMax && client.isConnected()) {
        Pending& pending = queue[size_t(handed)];
        const int id = client.publish(
            broker::readingTopic(prefix, pending.reading.addr),
            broker::readingPayload(pending.reading, pending.seq, pending.failure), 1, false);
        if (id < 0)
            return;
        pending.id = id;
        ++handed;
    }
}

void SitePublisher::delivered(int id)
{
    if (retainedInFlight.remove(id) == 0) {
        for (int i = 0; i < handed; ++i) {
            if (queue[size_t(i)].id == id) {
                queue[size_t(i)].acknowledged = true;
                break;
            }
        }
        // Acknowledgements may come out of order; the queue gives up its front only.
        while (handed > 0 && queue.front().acknowledged) {
            queue.pop_front();
            --handed;
        }
        pump();
    }
    checkDrained();
}

void SitePublisher::checkDrained()
{
    if (queue.empty() && retainedInFlight.isEmpty())
        emit drained();
}
