#include "core/link/lineclient.h"
#include "core/link/modbus.h"

#include <QCoreApplication>
#include <QEventLoop>
#include <QThread>
#include <QTimer>

LineClient::LineClient(QObject* parent) : QObject(parent)
{
    qRegisterMetaType<int*>("int*");
    workerThread = new QThread;
    worker = new ModBus;
    worker->moveToThread(workerThread);
    worker->port->moveToThread(workerThread);

    connect(worker, &ModBus::fault_, this, &LineClient::portFault);
    connect(worker, &ModBus::error_, this, &LineClient::portError);
    connect(worker, &ModBus::print, this, &LineClient::print);
    connect(this, &LineClient::print, this, &LineClient::monitorLine);
    connect(workerThread, &QThread::started, worker, &ModBus::process_Port);
    connect(worker, &ModBus::finished_Port, workerThread, &QThread::quit);
    connect(workerThread, &QThread::finished, worker, &QObject::deleteLater);
    connect(worker, &ModBus::finished_Port, workerThread, &QObject::deleteLater);
    connect(this, &LineClient::savesettings, worker, &ModBus::Write_Settings_Port);
    connect(this, &LineClient::connectPort, worker, &ModBus::ConnectPort);
    connect(this, &LineClient::disconnectPort, worker, &ModBus::DisconnectPort);
    connect(this, &LineClient::openPort, worker, &ModBus::OpenPort);
    connect(worker, &ModBus::portSequenceDone, this, &LineClient::portSequenceDone);
    connect(worker, &ModBus::outPort, this, &LineClient::outPort);
    connect(this, &LineClient::outPort, this, [this](QString prefix, QByteArray data) {
        emit monitorLine(prefix, rtu::hexText(data));
    });
    connect(worker, &ModBus::portLost, this, &LineClient::workerLost);
    connect(worker, &ModBus::portOpened, this, &LineClient::workerOpened);
    connect(this, &LineClient::mb_read, worker, &ModBus::mb_read);
    connect(this, &LineClient::mb_readCoil, worker, &ModBus::mb_readCoil);
    connect(this, &LineClient::mb_write, worker, &ModBus::mb_write);
    connect(this, &LineClient::mb_erasePage, worker, &ModBus::mb_erasePage);
    connect(this, &LineClient::mb_goToLoader, worker, &ModBus::mb_goToLoader);
    connect(this, &LineClient::mb_goToMainAppl, worker, &ModBus::mb_goToMainAppl);
    connect(this, &LineClient::mb_readPotent, worker, &ModBus::mb_readPotent);
    connect(this, &LineClient::mb_writePotent, worker, &ModBus::mb_writePotent);
    connect(worker, &ModBus::packetReady, this, &LineClient::packetReady,
            Qt::BlockingQueuedConnection);

    workerThread->start();
}

LineClient::~LineClient()
{
    end();
    // Stop the worker in order: a transaction in progress gives up its attempts, and an answer
    // it is handing over is taken but not used (nothing waits for it any more), which releases
    // the worker blocked on that hand-over. Its last monitor lines are still delivered.
    workerThread->quit();
    while (!workerThread->wait(20))
        QCoreApplication::sendPostedEvents(this, QEvent::MetaCall);
    QCoreApplication::sendPostedEvents(this, QEvent::MetaCall);
}

void LineClient::end()
{
    isEnding = true;
    workerThread->requestInterruption();
    if (waitLoop)
        waitLoop->quit();
}

void LineClient::packetReady(QByteArray pac, int error)
{
    answer = pac;
    answerReady = true;
    answerError = error;
    if (waitLoop)
        waitLoop->quit();
}

void LineClient::portSequenceDone()
{
    sequenceDone = true;
    if (waitLoop)
        waitLoop->quit();
}

void LineClient::waitFor(const bool& done)
{
    // Waits for events rather than polling for them.
    if (!done && !isEnding) {
        QEventLoop loop;
        QEventLoop* outer = waitLoop;
        waitLoop = &loop;
        ++waits;
        loop.exec();
        --waits;
        waitLoop = outer;
        // Only the end of the program ends the loop before it is done.
        if (!done)
            isEnding = true;
    }
}

Reply LineClient::waitAnswer()
{
    // The worker answers every request once.
    waitFor(answerReady);
    Reply reply;
    reply.ending = isEnding;
    if (!answerReady)
        return reply;
    answerReady = false;
    reply.answer = answer;
    reply.error = answerError;
    answer.clear();
    return reply;
}

Reply LineClient::exchange(const std::function<void()>& request)
{
    // Once the program is ending nothing more reaches the wire.
    if (!isEnding)
        request();
    return waitAnswer();
}

Reply LineClient::read(quint8 addr, quint16 regAddr, quint16 regCount, int attempts)
{
    return exchange([&] { emit mb_read(addr, regAddr, regCount, attempts, nullptr); });
}

Reply LineClient::readCoil(quint8 addr, quint16 regAddr, quint16 regCount, int attempts)
{
    return exchange([&] { emit mb_readCoil(addr, regAddr, regCount, attempts); });
}

Reply LineClient::write(quint8 addr, quint16 regAddr, quint16 regCount, const QByteArray& data,
                        int attempts)
{
    return exchange([&] { emit mb_write(addr, regAddr, regCount, data, attempts); });
}

Reply LineClient::erasePage(quint8 addr, quint8 startPage, quint8 pageCount, int attempts)
{
    return exchange([&] { emit mb_erasePage(addr, startPage, pageCount, attempts); });
}

Reply LineClient::goToLoader(quint8 addr, int attempts)
{
    return exchange([&] { emit mb_goToLoader(addr, attempts); });
}

Reply LineClient::goToMainAppl(quint8 addr, int attempts)
{
    return exchange([&] { emit mb_goToMainAppl(addr, attempts); });
}

Reply LineClient::readPotent(quint8 addr, int attempts)
{
    return exchange([&] { emit mb_readPotent(addr, attempts); });
}

Reply LineClient::writePotent(quint8 addr, quint8 position, int attempts)
{
    return exchange([&] { emit mb_writePotent(addr, position, attempts); });
}

void LineClient::open(const QString& name, int baudrate)
{
    if (isEnding)
        return;
    openName = name;
    openBaudrate = baudrate;
    emit reopened();
    sequenceDone = false;
    emit openPort(name, baudrate);
    waitFor(sequenceDone);
}

void LineClient::reopen(const QString& name, int baudrate)
{
    if (!pacedReopen) {
        open(name, baudrate);
        return;
    }
    if (isEnding)
        return;
    openName = name;
    openBaudrate = baudrate;
    emit reopened();
    // The pauses deliberately block without handling events: each gives the worker time to
    // carry out the queued step before the next one is sent.
    emit disconnectPort();
    QThread::msleep(50);
    emit savesettings(name, baudrate, 8, 0, 1, 0);
    QThread::msleep(50);
    emit connectPort();
    QThread::msleep(50);
}

void LineClient::setTrafficShown(bool shown)
{
    worker->trafficShown = shown;
}

void LineClient::use(const QString& name, int baudrate)
{
    if (openName != name || openBaudrate != baudrate)
        open(name, baudrate);
}

void LineClient::useSpeed(int baudrate)
{
    if (openBaudrate != baudrate)
        reopen(openName, baudrate);
}

void LineClient::recoverLostPort(int baudrate)
{
    // By its own name: a port list refreshed after the loss no longer shows it.
    if (!lost.isEmpty())
        reopen(lost, baudrate);
}

void LineClient::workerLost(QString name)
{
    lost = name;
    emit portLost(name);
}

void LineClient::workerOpened(QString name)
{
    const bool recovered = name == lost;
    lost.clear();
    if (recovered)
        emit portOpened(name);
    emit portReady(name);
}

bool LineClient::pause(int ms)
{
    // Waits for the timer rather than sleeping, so that the end of the program ends the wait
    // at once; as a wait, it defers the actions that come during it.
    if (isEnding)
        return false;
    QEventLoop loop;
    QTimer timer;
    timer.setSingleShot(true);
    timer.setTimerType(Qt::PreciseTimer); // a coarse timer may end the pause 5 % early
    connect(&timer, &QTimer::timeout, &loop, &QEventLoop::quit);
    timer.start(ms);
    QEventLoop* outer = waitLoop;
    waitLoop = &loop;
    ++waits;
    loop.exec();
    --waits;
    waitLoop = outer;
    // Only the end of the program ends the loop before the timer.
    if (timer.isActive())
        isEnding = true;
    return !isEnding;
}
