#pragma once

#include "core/link/lineclient.h"
#include "core/ops/operations.h"

#include <QFile>
#include <QObject>
#include <QString>
#include <functional>
#include <memory>

// The program's exit codes, as --help and the README list them.
namespace exitcode {
constexpr int done = 0;
constexpr int failed = 1;  // the sensor failed or did not answer
constexpr int usage = 2;   // the command line is wrong
constexpr int port = 3;    // the port cannot be opened or was lost
constexpr int refused = 4; // refused before the wire, or declined at a confirmation
constexpr int batch = 5;   // a batch finished with some entries failed
constexpr int broker = 6;  // the MQTT broker refused the credentials or the certificate
constexpr int ended = 130; // SIGINT or SIGTERM
} // namespace exitcode

// Text to the standard streams, UTF-8 whatever the locale.
void printOut(const QString& text);
void printErr(const QString& text);

// "5@9600"
QString sensorText(int address, int speed);

// What an operation asks of the terminal: confirmations as prompts on stderr answered on stdin,
// progress on stderr, Ctrl-C as the cancellation.
class TerminalHost : public ops::OperationHost
{
public:
    bool yes = false; // every confirmation is answered yes
    // What the progress is of, shown before the bar.
    void setActivity(const QString& text);
    // Ends a bar in progress with its line, so that what follows starts on a line of its own.
    void finishProgress();
    // A line of progress without a measure: a bar's text, or a plain line.
    void status(const QString& text);
    // A line for stderr that keeps a bar in progress intact below it.
    void note(const QString& text);
    // A result for stdout while a bar may be in progress: the bar is cleared before and drawn
    // again after, so that on a terminal the two do not run into one line.
    void printResult(const QString& text);
    // Waits for the operator to press Enter after the prompt; false when stdin is not a
    // terminal, or at its end, or when the program is ending.
    bool waitForEnter(const QString& prompt);
    // Called when the program is ending: a prompt stops waiting.
    void end();
    // Called with the record whenever its live values were read.
    std::function<void(DeviceVEL_DUO300*)> onParams;
    // The line's notice that the record's live values were read: passed to onParams.
    void paramsChanged(DeviceVEL_DUO300* dev);

    int ask(const ops::Question& question) override;
    void progress(int value, int maximum) override;
    bool cancelled() override { return ending; }
    void committed() override {}

private:
    bool readLine(QString* line);
    void drawBar();

    QString activity;
    bool barShown = false;
    int lastValue = 0;
    int lastMaximum = 0;
    int lastTenth = -1;
    bool ending = false;
    std::function<void()> stopWaiting;
};

// One run of the program on the line: the port, the line client and its monitor lines
// (--log, -v), the terminal host, and the end by SIGINT or SIGTERM.
class Session : public QObject
{
    Q_OBJECT
public:
    Session(const QString& port, bool verbose);
    ~Session() override;

    // Opens the log and installs the end signals; false with the reason when it cannot.
    bool start(const QString& logPath, QString* why);

    LineClient& line() { return *client; }
    TerminalHost& host() { return terminal; }
    QString port() const { return portName; }

    // Opens the port at this speed unless the line is open at it already.
    void useSpeed(int baudrate);

    // The port could not be opened, or was lost; portFailure says how.
    bool portFailed() const { return !failure.isEmpty(); }
    QString portFailure() const { return failure; }
    // SIGINT or SIGTERM arrived.
    bool ended() const { return endedBySignal || client->ending(); }

    // Ends the use of the line: the exchange in flight gives up, waits return.
    void end();

signals:
    // end() was called: whatever waits for events stops.
    void ending();

private:
    void monitor(const QString& prefix, const QString& text);

    QString portName;
    bool verbose = false;
    QFile log;
    TerminalHost terminal;
    std::unique_ptr<LineClient> client;
    QString failure;
    bool endedBySignal = false;
};
