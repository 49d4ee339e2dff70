#include "core/link/modbus.h"

#include <QThread>
#include <QTime>

#ifdef Q_OS_UNIX
#include <poll.h>
#include <time.h>
#endif

ModBus::ModBus(QObject* parent) : QObject(parent), port(new QSerialPort)
{
    clock.start();
}

ModBus::~ModBus()
{
    emit finished_Port();
    delete port;
}

void ModBus::process_Port()
{
    connect(port, &QSerialPort::errorOccurred, this, &ModBus::handleError);
    connect(port, &QSerialPort::readyRead, this, &ModBus::ReadInPort);
}

void ModBus::Write_Settings_Port(QString name, int baudrate, int DataBits, int Parity, int StopBits,
                                 int FlowControl)
{
    SettingsPort = Settings{name, baudrate, DataBits, Parity, StopBits, FlowControl};
}

QString ModBus::GetTime()
{
    return QTime::currentTime().toString(QStringLiteral("hh:mm:ss.zzz"));
}

QString ModBus::portPrefix()
{
    return GetTime() + QStringLiteral("| ") + SettingsPort.name + QStringLiteral(">> ");
}

void ModBus::ConnectPort()
{
    port->setPortName(SettingsPort.name);
    // What the port says is taken before close(), which reports errors of its own.
    auto fail = [this](PortFault fault) {
        const QString systemText = port->errorString();
        port->close();
        reportFailure(fault, systemText);
    };
    if (!port->open(QIODevice::ReadWrite)) {
        fail(openFault(port->error(), userMayAccess(SettingsPort.name)));
        return;
    }
    if (!port->setBaudRate(SettingsPort.baudrate) ||
        !port->setDataBits(QSerialPort::DataBits(SettingsPort.DataBits)) ||
        !port->setParity(QSerialPort::Parity(SettingsPort.Parity)) ||
        !port->setStopBits(QSerialPort::StopBits(SettingsPort.StopBits)) ||
        !port->setFlowControl(QSerialPort::FlowControl(SettingsPort.FlowControl))) {
        fail(PortFault::Rejected);
        return;
    }
    if (port->isOpen()) {
        lost = false;
        lastFailure.clear();
        readFaults = 0;
        emit print(portPrefix(),
                   QStringLiteral("Открыт! Скорость %1\r").arg(SettingsPort.baudrate));
        emit portOpened(SettingsPort.name);
    }
}

void ModBus::reportFailure(PortFault fault, const QString& systemText)
{
    const QString text = portFaultText(fault, systemText);
    const bool nothingNew = portStillLost() && (fault == PortFault::Missing || text == lastFailure);
    lastFailure = text;
    if (nothingNew)
        return;
    emit fault_(int(fault), systemText);
    emit error_(portPrefix(), text);
}

bool ModBus::portStillLost() const
{
    return lost && SettingsPort.name == lostName;
}

void ModBus::DisconnectPort()
{
    if (!port->isOpen())
        return;
    port->close();
    emit print(portPrefix(), QStringLiteral("Закрыт!\r"));
}

void ModBus::OpenPort(QString name, int baudrate)
{
    DisconnectPort();
    Write_Settings_Port(name, baudrate, QSerialPort::Data8, QSerialPort::NoParity,
                        QSerialPort::OneStop, QSerialPort::NoFlowControl);
    ConnectPort();
    emit portSequenceDone();
}

void ModBus::handleError(QSerialPort::SerialPortError error)
{
    if (!isReadFault(error) || !port->isOpen())
        return;
    if (!portGone(reportPortFault(error, SettingsPort.name, port->handle(), readFaults + 1))) {
        // A read that found nothing on a port still there (a busy machine): the exchange in
        // flight ends as it would, and the line carries on. One warning for a run of them.
        if (readFaults++ == 0)
            emit print(portPrefix(),
                       QStringLiteral("Warning: ошибка чтения порта (%1), но адаптер на месте: "
                                      "работа продолжается.")
                           .arg(port->errorString()));
        return;
    }
    // A hung-up line would keep signalling; the port is closed at once.
    lost = true;
    lostName = SettingsPort.name;
    lastFailure.clear();
    // The window learns of the loss before the line that reports it.
    emit portLost(lostName);
    emit fault_(int(PortFault::Unplugged), port->errorString());
    emit error_(portPrefix(), portFaultText(PortFault::Unplugged, port->errorString()));
    DisconnectPort();
}

void ModBus::WriteToPort(QByteArray data)
{
    if (!port->isOpen())
        return;
    lastActivityUs = nowUs();
    lastLineUs = lastActivityUs + answertiming::wireUs(data.size(), port->baudRate());
    port->write(data);
    // To the system now rather than from the event loop, which a transaction does not turn.
    port->flush();
}

void ModBus::ReadInPort()
{
    const QByteArray bytes = port->readAll();
    if (bytes.isEmpty())
        return;
    lastActivityUs = lastLineUs = nowUs();
    readFaults = 0;
    recvBuf.append(bytes);
}

void ModBus::before_recv()
{
    recvState = RECV_WAIT;
    lastActivityUs = nowUs();
    recvBuf.clear();
}

bool ModBus::stopRequested()
{
    return QThread::currentThread()->isInterruptionRequested();
}

qint64 ModBus::nowUs() const
{
    return clock.nsecsElapsed() / 1000;
}

void ModBus::waitForLine(qint64 us)
{
    us = qBound<qint64>(0, us, longestWaitMs * 1000);
#ifdef Q_OS_UNIX
    // The port's own wait counts in whole milliseconds; the line's intervals are shorter.
    pollfd line{int(port->handle()), POLLIN, 0};
    if (port->bytesToWrite() > 0)
        line.events |= POLLOUT;
    const timespec timeout{time_t(us / 1000000), long(us % 1000000) * 1000};
    if (::ppoll(&line, 1, &timeout, nullptr) <= 0)
        return;
    if (line.revents & POLLOUT)
        port->flush();
    // The port reads what came (readyRead runs ReadInPort), or reports why it could not.
    if (line.revents & (POLLIN | POLLHUP | POLLERR | POLLNVAL))
        port->waitForReadyRead(0);
#else
    port->waitForReadyRead(int((us + 999) / 1000));
#endif
}

void ModBus::quietLine()
{
    const qint64 start = nowUs();
    while (port->isOpen() && !stopRequested()) {
        waitForLine(0);
        const qint64 now = nowUs();
        const qint64 left =
            answertiming::beforeRequestUs(now - lastLineUs, port->baudRate(), misframed);
        // A line that never falls quiet gets the request anyway, rather than none at all.
        if (left == 0 || now - start > answertiming::answerTimeoutUs)
            break;
        waitForLine(left);
    }
    if (!recvBuf.isEmpty()) {
        if (trafficShown)
            emit outPort(GetTime() + QStringLiteral("| >> "), recvBuf);
        recvBuf.clear();
    }
}

void ModBus::wait_answer()
{
    // Sleeps in the system until bytes come or the next deadline falls due.
    while (port->isOpen() && !stopRequested()) {
        const qint64 waitUs = slotRecvTimerOut();
        if (recvState == RECV_TIMEOUT || recvState == RECV_DONE)
            return;
        waitForLine(waitUs);
    }
}

qint64 ModBus::slotRecvTimerOut()
{
    const answertiming::Step step =
        answertiming::judge(nowUs() - lastActivityUs, recvBuf, expectedAnswerSize);
    switch (step.verdict) {
    case answertiming::Verdict::Done:
        if (trafficShown)
            emit outPort(GetTime() + QStringLiteral("| >> "), recvBuf);
        recvState = RECV_DONE;
        break;
    case answertiming::Verdict::NoAnswer:
        if (recvState == RECV_WAIT)
            recvState = RECV_TIMEOUT;
        break;
    case answertiming::Verdict::Wait:
        break;
    }
    return step.waitUs;
}
