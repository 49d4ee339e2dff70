#include "link/modbus.h"

#include <QDateTime>
#include <QThread>
#include <QTime>

ModBus::ModBus(QObject* parent)
    : QObject(parent), port(new QSerialPort), lastActivityMs(QDateTime::currentMSecsSinceEpoch())
{
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
    // The error string is taken before close(), which reports errors of its own.
    auto fail = [this] {
        const QString err = port->errorString();
        port->close();
        emit error_(portPrefix(), err);
    };
    if (!port->open(QIODevice::ReadWrite)) {
        fail();
        return;
    }
    if (!port->setBaudRate(SettingsPort.baudrate) ||
        !port->setDataBits(QSerialPort::DataBits(SettingsPort.DataBits)) ||
        !port->setParity(QSerialPort::Parity(SettingsPort.Parity)) ||
        !port->setStopBits(QSerialPort::StopBits(SettingsPort.StopBits)) ||
        !port->setFlowControl(QSerialPort::FlowControl(SettingsPort.FlowControl))) {
        fail();
        return;
    }
    if (port->isOpen())
        emit print(portPrefix(),
                   QStringLiteral("Открыт! Скорость %1\r").arg(SettingsPort.baudrate));
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
    if ((error != QSerialPort::ResourceError && error != QSerialPort::ReadError) ||
        !port->isOpen())
        return;
    emit error_(portPrefix(), port->errorString());
    DisconnectPort();
}

void ModBus::WriteToPort(QByteArray data)
{
    if (!port->isOpen())
        return;
    lastActivityMs = QDateTime::currentMSecsSinceEpoch();
    port->write(data);
}

void ModBus::ReadInPort()
{
    lastActivityMs = QDateTime::currentMSecsSinceEpoch();
    recvBuf.append(port->readAll());
}

void ModBus::before_recv()
{
    recvState = RECV_WAIT;
    lastActivityMs = QDateTime::currentMSecsSinceEpoch();
    recvBuf.clear();
}

bool ModBus::stopRequested()
{
    return QThread::currentThread()->isInterruptionRequested();
}

void ModBus::wait_answer()
{
    // Waiting for ready-read blocks in the system; readyRead runs ReadInPort from inside it.
    while (port->isOpen() && !stopRequested()) {
        port->waitForReadyRead(waitStepMs);
        slotRecvTimerOut();
        if (recvState == RECV_TIMEOUT || recvState == RECV_DONE)
            return;
    }
}

void ModBus::slotRecvTimerOut()
{
    const qint64 elapsed = QDateTime::currentMSecsSinceEpoch() - lastActivityMs;
    if (elapsed <= silenceMs)
        return;
    if (!recvBuf.isEmpty()) {
        emit outPort(GetTime() + QStringLiteral("| >> "), recvBuf);
        recvState = RECV_DONE;
        return;
    }
    if (elapsed <= answerTimeoutMs)
        return;
    if (recvState == RECV_WAIT)
        recvState = RECV_TIMEOUT;
}
