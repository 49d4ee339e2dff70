#pragma once

#include "gui/mainwindow.h"
#include "sim/sensorbus.h"
#include "support/modalanswerer.h"

#include <QString>
#include <QTemporaryDir>
#include <QTimer>
#include <memory>

// The real window against a simulated bus: the bus's pseudo-terminal stands first in the port
// list, and the window runs in a scratch working directory (its log goes there). The polling
// timer is stopped, so that a test drives the slots itself unless it restarts it.
class WindowBench
{
public:
    // How the window's port list names the bus: by its pseudo-terminal, or by a fixed link
    // that stands for an adapter's device name (adapterPath()).
    enum class PortName
    {
        Terminal,
        Link
    };
    explicit WindowBench(PortName portName = PortName::Terminal);
    ~WindowBench();

    // The fixed name a bus opened behind a link answers to; a new bus opened behind it takes
    // the place of one that hung up.
    QString adapterPath() const;

    template <typename T> T* find(const char* name) const
    {
        T* child = window->findChild<T*>(QLatin1String(name));
        if (!child)
            qFatal("no widget %s", name);
        return child;
    }

    // Runs a slot of the window, private ones included, and returns when it has finished.
    void invoke(const char* slot);
    // Ten ticks of the polling timer: one poll of the selected sensor.
    void poll();
    QString monitorText() const;
    QString logText() const;
    // Adds a sensor as the manual-addition group does, and returns when the addition is over.
    void addByHand(int addr, int baud);
    // Requests of the given function code that reached the bus since the last clearLog().
    QList<QByteArray> requests(quint8 function) const;
    QList<QByteArray> requests(rtu::Function function) const
    {
        return requests(rtu::code(function));
    }
    // Every request since the last clearLog() came after the answer to the one before, or after
    // that one's no-answer limit: no two exchanges overlapped.
    bool exchangesInTurn() const;
    // The window's 100 ms polling timer.
    QTimer* pollTimer() const;
    // The settings block that a write request (WriteRegisters) carries.
    static UstBlock writtenBlock(const QByteArray& frame);

    QTemporaryDir dir;
    QString previousDir;
    sim::SensorBus bus;
    ModalAnswerer boxes;
    std::unique_ptr<MainWindow> window;
};
