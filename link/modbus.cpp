#include "link/modbus.h"
#include "link/answertiming.h"

#include <QThread>
#include <QTime>

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
        const QString text = portFaultText(fault, port->errorString());
        port->close();
        reportFailure(fault, text);
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
        emit print(portPrefix(),
                   QStringLiteral("Открыт! Скорость %1\r").arg(SettingsPort.baudrate));
        emit portOpened(SettingsPort.name);
    }
}

void ModBus::reportFailure(PortFault fault, const QString& text)
{
    const bool nothingNew = portStillLost() && (fault == PortFault::Missing || text == lastFailure);
    lastFailure = text;
    if (!nothingNew)
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

void ModBus::handleError(QSerialPort::SerialPortError error)
{
    // A hung-up line reads as end of file, which the port may report as a read error rather
    // than a resource error; either way the device is gone, and a port left open would keep
    // signalling it without end.
    if ((error != QSerialPort::ResourceError && error != QSerialPort::ReadError) || !port->isOpen())
        return;
    lost = true;
    lostName = SettingsPort.name;
    lastFailure.clear();
    // The window learns of the loss before the line that reports it.
    emit portLost(lostName);
    emit error_(portPrefix(), portFaultText(PortFault::Unplugged, port->errorString()));
    DisconnectPort();
}

void ModBus::WriteToPort(QByteArray data)
{
    if (!port->isOpen())
        return;
    lastActivityUs = nowUs();
    port->write(data);
}

void ModBus::ReadInPort()
{
    lastActivityUs = nowUs();
    recvBuf.append(port->readAll());
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

void ModBus::wait_answer()
{
    // Sleeps in the system until bytes come or the next deadline falls due; readyRead runs
    // ReadInPort from inside the wait.
    while (port->isOpen() && !stopRequested()) {
        const qint64 waitUs = slotRecvTimerOut();
        if (recvState == RECV_TIMEOUT || recvState == RECV_DONE)
            return;
        const qint64 waitMs = qMin<qint64>((waitUs + 999) / 1000, longestWaitMs);
        port->waitForReadyRead(int(waitMs));
    }
}

qint64 ModBus::slotRecvTimerOut()
{
    const answertiming::Step step = answertiming::judge(nowUs() - lastActivityUs, recvBuf,
                                                        expectedAnswerSize, port->baudRate());
    switch (step.verdict) {
    case answertiming::Verdict::Done:
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
