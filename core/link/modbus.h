#pragma once

#include "codec/answertiming.h"
#include "core/link/portfailure.h"

#include <QByteArray>

#include <QElapsedTimer>
#include <QObject>
#include <QSerialPort>
#include <QString>
#include <limits>

// int* travels through queued connections as an opaque pointer (the error code of mb_read).
Q_DECLARE_METATYPE(int*)

// The serial line worker. It lives in its own thread together with its port and talks to
// the window only through signals. Every transaction blocks this thread's event loop for its
// duration, so requests, settings changes and connect/disconnect never interleave.
#include <atomic>

class ModBus : public QObject
{
    Q_OBJECT
public:
    explicit ModBus(QObject* parent = nullptr);
    ~ModBus() override;

    enum RecvState
    {
        RECV_WAIT = 0,
        RECV_TIMEOUT = 1,
        RECV_DONE = 2
    };

    // The longest single wait for bytes, so that the end of the program is seen promptly
    // while an answer is awaited. Bytes and the answer's own deadlines end a wait sooner.
    static constexpr int longestWaitMs = 50;

    // Not the worker's child: the owner moves it to the worker thread together with the worker.
    QSerialPort* port;
    // Whether each request and answer is shown as a monitor line; port events always are. Off,
    // an exchange costs no text and no hand-over to the owner's thread beyond its answer.
    std::atomic<bool> trafficShown{true};

    struct Settings
    {
        QString name;
        int baudrate = 0;
        int DataBits = QSerialPort::Data8;
        int Parity = QSerialPort::NoParity;
        int StopBits = QSerialPort::OneStop;
        int FlowControl = QSerialPort::NoFlowControl;
    };

signals:
    void packetReady(QByteArray pac, int error);
    void finished_Port();
    void error_(QString prefix, QString err);
    // The same fault by its kind (a PortFault) and the port's own message, for callers that
    // tell it in words of their own.
    void fault_(int fault, QString systemText);
    void print(QString prefix, QString data);
    void outPort(QString prefix, QByteArray data);
    // Port state for the window: the adapter behind the named port went away while open, or
    // the named port is open (again).
    void portLost(QString name);
    void portOpened(QString name);
    // OpenPort has run, whatever its outcome.
    void portSequenceDone();

public slots:
    void process_Port();
    void Write_Settings_Port(QString name, int baudrate, int DataBits, int Parity, int StopBits,
                             int FlowControl);
    void ConnectPort();
    void DisconnectPort();
    // The whole port sequence as one step: closes the port when open, takes the name and speed
    // (8 data bits, no parity, 1 stop bit, no flow control) and opens it; ends with
    // portSequenceDone.
    void OpenPort(QString name, int baudrate);
    void WriteToPort(QByteArray data);
    void ReadInPort();
    // One judgement of the answer; returns the microseconds until the next one is due.
    qint64 slotRecvTimerOut();

    void mb_readCoil(quint8 addr, quint16 reg_addr, quint16 reg_count, int attempNumber);
    void mb_read(quint8 addr, quint16 reg_addr, quint16 reg_count, int attempNumber, int* errCode);
    void mb_write(quint8 addr, quint16 reg_addr, quint16 reg_count, QByteArray data,
                  int attempNumber);
    void mb_erasePage(quint8 addr, quint8 startPage, quint8 countPage, int attempNumber);
    void mb_goToLoader(quint8 addr, int attempNumber);
    void mb_goToMainAppl(quint8 addr, int attempNumber);
    void mb_readPotent(quint8 addr, int attempNumber);
    void mb_writePotent(quint8 addr, quint8 A, int attempNumber);

private slots:
    void handleError(QSerialPort::SerialPortError error);
    void before_recv();
    void wait_answer();
    QString GetTime();
    void calcCrc(QByteArray& data, int len);
    int checkAnswer(const QByteArray& answer, quint8 expectedAddr, quint8 expectedCmd,
                    int expectedSize);
    quint16 getCRC(quint16 r_CRC, quint8 b);

private:
    QString portPrefix();
    // The attempt loop that every transaction shares; ends with exactly one packetReady.
    void transact(QByteArray request, int expectedSize, int attempNumber, int* errCode = nullptr);
    static bool stopRequested();
    qint64 nowUs() const;
    // Waits at most us microseconds (and at most longestWaitMs) for bytes, and takes in what
    // came; a pending write goes out meanwhile.
    void waitForLine(qint64 us);
    // Before a request: reads out what the system holds, waits until the line has been quiet
    // for 3.5 characters (the long silence after a misframed answer), and shows whatever came
    // since the last answer was judged as a line of its own; those bytes answer nothing.
    void quietLine();

    // Reports a port that could not be opened or set up. While the port of a lost adapter is
    // being re-opened, its absence is what the loss already said, and a failure repeated
    // says nothing new: neither fills the monitor once a second.
    void reportFailure(PortFault fault, const QString& systemText);
    // The port to be used is the one whose adapter went away, not open since: the loss line
    // says why nothing answers on it.
    bool portStillLost() const;
    bool lost = false;   // the adapter went away and has not been opened since
    QString lostName;    // the port it went away from
    QString lastFailure; // the failure last reported

    Settings SettingsPort;
    int recvState = RECV_WAIT;
    // The current attempt's answer while it is awaited; after its judgement, whatever comes
    // until the next request.
    QByteArray recvBuf;
    // Steady time of the last attempt start, write or read; the receive timing counts from it.
    QElapsedTimer clock;
    qint64 lastActivityUs = 0;
    // When the last byte seen on the line, sent or received, was over; none seen yet: long ago.
    qint64 lastLineUs = std::numeric_limits<qint64>::min() / 2;
    int expectedAnswerSize = 0; // bytes of the whole answer the current transaction expects
    int readFaults = 0;         // read faults of a live port in a row, with no byte between
    bool misframed = false;     // the last answer had the length but another address or function
};
