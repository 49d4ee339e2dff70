#pragma once

#include "codec/device.h"
#include "codec/rtu.h"

#include <QByteArray>
#include <QObject>
#include <QString>
#include <functional>

class QEventLoop;
class QThread;
class ModBus;

// The outcome of one request: the answer as it came, its error code, and whether the wait was
// cut short because the program is ending (then nothing more may be sent or stored).
struct Reply
{
    QByteArray answer;
    int error = rtu::NoAnswer;
    bool ending = false;
    bool ok() const { return !ending && error == rtu::NoError; }
};

// The serial line as the rest of the program sees it: owns the worker thread and its ModBus
// worker, turns each request into a call that returns its reply, paces the port re-opening,
// re-opens a port whose adapter came back, and stops the worker in order at the end.
//
// Calls wait by turning the calling thread's event loop, so they are made from the thread
// that owns the client. One exchange at a time: the worker has one answer slot, and an
// exchange started inside another's wait would take the answer meant for it; callers ask
// waiting() before they start one from an event.
class LineClient : public QObject
{
    Q_OBJECT
public:
    explicit LineClient(QObject* parent = nullptr);
    ~LineClient() override;

    Reply read(quint8 addr, quint16 regAddr, quint16 regCount, int attempts);
    Reply readCoil(quint8 addr, quint16 regAddr, quint16 regCount, int attempts);
    Reply write(quint8 addr, quint16 regAddr, quint16 regCount, const QByteArray& data,
                int attempts);
    Reply erasePage(quint8 addr, quint8 startPage, quint8 pageCount, int attempts);
    Reply goToLoader(quint8 addr, int attempts);
    Reply goToMainAppl(quint8 addr, int attempts);
    Reply readPotent(quint8 addr, int attempts);
    Reply writePotent(quint8 addr, quint8 position, int attempts);

    // Opens the port by this name at this speed, closing it first when open, as one step of
    // the worker, and returns once that step is done: no pause, since the worker carries out
    // its queued steps in order anyway.
    void open(const QString& name, int baudrate);
    // The window's own port sequence (selecting a sensor, the search, the manual addition):
    // close, settings, open, each followed by a pause of 50 ms that gives the worker time to
    // carry it out. Without pacing, the same as open().
    void reopen(const QString& name, int baudrate);
    void setPacedReopen(bool paced) { pacedReopen = paced; }
    // Whether requests and answers come as monitor lines (they do unless turned off); port
    // events always do. A caller that shows and logs nothing saves their text and hand-over.
    void setTrafficShown(bool shown);
    // What an operation asks for when it talks at a given speed: the port by this name open at
    // this speed. Opens it as open() does unless the last opening was just that.
    void use(const QString& name, int baudrate);
    // The port of the last opening at this speed, re-opened as reopen() does when it is open at
    // another: an operation that visits another speed for a while and comes back.
    void useSpeed(int baudrate);
    // The name and speed of the last opening; empty and 0 before the first.
    QString portName() const { return openName; }
    int baudrate() const { return openBaudrate; }

    // The port whose adapter went away, until it is open again; empty while none is lost.
    QString lostPort() const { return lost; }
    // Re-opens a lost port by its own name at the given speed; nothing while none is lost.
    // Called once a second at most, by whoever polls.
    void recoverLostPort(int baudrate);

    // Waits ms milliseconds without blocking events; false when the program is ending.
    bool pause(int ms);

    // A wait for an answer or a pause is in progress.
    bool waiting() const { return waits > 0; }
    // The program is ending: every wait returns at once and nothing more is sent.
    bool ending() const { return isEnding; }
    // Ends the program's use of the line: the exchange in flight gives up its attempts and
    // its wait returns with `ending`; the port is closed when the client is destroyed.
    void end();

    // A monitor line of the caller's own ("Warning: ", "Error: "), shown and logged with the
    // line's traffic.
    void note(const QString& prefix, const QString& text) { emit print(prefix, text); }

signals:
    // The requests as they go to the worker, one per call.
    void savesettings(QString name, int baudrate, int DataBits, int Parity, int StopBits,
                      int FlowControl);
    void connectPort();
    void disconnectPort();
    void openPort(QString name, int baudrate);
    void mb_read(quint8 addr, quint16 reg_addr, quint16 reg_count, int attempNumber = 1,
                 int* errCode = nullptr);
    void mb_readCoil(quint8 addr, quint16 reg_addr, quint16 reg_count, int attempNumber = 1);
    void mb_write(quint8 addr, quint16 reg_addr, quint16 reg_count, QByteArray data,
                  int attempNumber = 1);
    void mb_erasePage(quint8 addr, quint8 startPage, quint8 countPage, int attempNumber = 1);
    void mb_goToLoader(quint8 addr, int attempNumber = 1);
    void mb_goToMainAppl(quint8 addr, int attempNumber = 1);
    void mb_readPotent(quint8 addr, int attempNumber = 1);
    void mb_writePotent(quint8 addr, quint8 A, int attempNumber = 1);

    // What the operations on the line tell whoever shows the sensors (the window's list and
    // forms, a command's status line), as they happen.
    //
    // An exchange with the record's sensor ended with this error code (0: it answered), and the
    // record has taken the outcome.
    void outcome(DeviceVEL_DUO300* dev, int error);
    // With that outcome the record started, or stopped, answering as the sensor's loader does.
    void loaderChanged(DeviceVEL_DUO300* dev);
    // The record's settings changed, or an exchange for them failed.
    void settingsChanged(DeviceVEL_DUO300* dev);
    // The record's live values changed, or an exchange for them failed.
    void paramsChanged(DeviceVEL_DUO300* dev);
    // A record was added to the registry at this row, or its settings were read after that.
    void listChanged(int row);

    // The worker's lines (requests, port events) and the callers' notes, as text.
    void print(QString prefix, QString text);
    // The bytes of each answer as they came, with the worker's prefix.
    void outPort(QString prefix, QByteArray data);
    // Every line the port monitor shows, both of the above in the order they came, answers in
    // hexadecimal; all but the port errors, which come as portError.
    void monitorLine(QString prefix, QString text);
    // A port that could not be used, or was lost: a monitor line of its own.
    void portError(QString prefix, QString text);
    // The same, by its kind (a PortFault) and the port's own message; comes just before it.
    void portFault(int fault, QString systemText);
    void portLost(QString name);
    // A lost port is open again.
    void portOpened(QString name);
    // Any opening of the port succeeded, the first or one after a fault.
    void portReady(QString name);
    // The port sequence has started: whatever the port was open for before, it no longer is.
    void reopened();

private slots:
    void packetReady(QByteArray pac, int error);
    void portSequenceDone();
    void workerLost(QString name);
    void workerOpened(QString name);

private:
    // Sends the request unless the program is ending, and waits for its answer.
    Reply exchange(const std::function<void()>& request);
    // Waits for the answer to the request just emitted.
    Reply waitAnswer();
    // Turns the event loop until done is set or the program is ending.
    void waitFor(const bool& done);

    QThread* workerThread = nullptr;
    ModBus* worker = nullptr; // lives until the worker thread has stopped
    QEventLoop* waitLoop = nullptr;
    bool answerReady = false;
    QByteArray answer;
    int answerError = 0;
    int waits = 0;
    bool isEnding = false;
    bool sequenceDone = false;
    bool pacedReopen = true;
    QString openName;
    int openBaudrate = 0;
    QString lost;
};
