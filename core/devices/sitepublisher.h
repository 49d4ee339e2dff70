#pragma once

#include "codec/blocks.h"
#include "codec/device.h"
#include "codec/readings.h"
#include "codec/sitepayloads.h"
#include "core/devices/mqttclient.h"

#include <QByteArray>
#include <QHash>
#include <QMap>
#include <QObject>
#include <QString>
#include <deque>

// A line's sensors on a broker, under one prefix: its status, its line file and each
// sensor's latest state retained, and every reading in order with QoS 1. Readings wait in a
// bounded queue until the broker acknowledges them, so that none is lost while it is away;
// when the queue is full the oldest waiting reading goes. Publish only: nothing is
// subscribed, so nothing from the broker can reach the line.
class SitePublisher : public QObject
{
    Q_OBJECT
public:
    // An hour of a full line (a sensor at each address the address change gives) at one round
    // a second.
    static constexpr int defaultQueueLimit = addressMax * 3600;
    // Readings handed to the library and not yet acknowledged, at most.
    static constexpr int inFlightMax = 20;

    SitePublisher(MqttClient& client, const QString& prefix, int queueLimit = defaultQueueLimit,
                  QObject* parent = nullptr);

    // The line file, retained; again after every reconnect.
    void setLine(const QByteArray& lineJson);
    // One poll: the sensor's state (retained) and the reading (queued, in order). A failed
    // poll's text is its error code's own unless failure says more (the port lost); the state
    // keeps the values of the sensor's last answer.
    void add(const Reading& reading, const DeviceVEL_DUO300& dev,
             const QString& failure = QString());
    // What the line is doing (a broker::linestate name), retained on PREFIX/state with the
    // queue as it stands; told again, with the queue then, after every reconnect. A state of
    // the same name and text is not told again.
    void setState(const QString& state, const QString& text = QString(),
                  const QString& system = QString());
    broker::LineState state() const { return current; }
    // "offline" on the status topic, then waits up to timeoutMs for the broker to acknowledge
    // it and every queued reading; true when all was acknowledged.
    bool finish(int timeoutMs);

    int queued() const { return int(queue.size()); }
    qint64 dropped() const { return droppedCount; }
    quint64 lastSeq() const { return seq; }

signals:
    // The queue was full and readings began to be dropped; emitted once per outage.
    void dropping();
    // Every queued reading and retained message was acknowledged.
    void drained();

private:
    void connected();
    void delivered(int id);
    void setRetained(const QString& topic, const QByteArray& payload);
    void publishState();
    void pump();
    void checkDrained();

    MqttClient& client;
    QString prefix;
    int limit;
    quint64 seq = 0;
    qint64 droppedCount = 0;
    bool droppingReported = false;

    struct Pending
    {
        Reading reading;
        QString failure; // the failed poll's own text, when the error code's says too little
        quint64 seq;
        int id; // -1 until handed to the library
        bool acknowledged;
    };
    std::deque<Pending> queue;
    int handed = 0; // the first `handed` entries of the queue are with the library
    // The latest payload of each retained topic, sent again after a reconnect; and the ids of
    // those the broker has yet to acknowledge.
    QMap<QString, QByteArray> retained;
    QHash<int, QString> retainedInFlight;
    broker::LineState current;
    // Each sensor's state, by address and speed: it keeps the last answer after a failure.
    QHash<QPair<qint32, qint32>, SensorState> states;
};
