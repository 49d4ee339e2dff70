#pragma once

#include "cli/session.h"
#include "codec/firmwareimage.h"
#include "core/ops/linereport.h"

#include <QCommandLineOption>
#include <QCommandLineParser>
#include <QCoreApplication>
#include <QJsonObject>
#include <QList>
#include <QPair>
#include <QString>
#include <QStringList>
#include <functional>
#include <memory>

// What every command gets: its arguments, the common options, and the session on the line
// once the dispatcher opened it.
struct Context
{
    QString command;
    QStringList args; // the positional arguments after the command
    const QCommandLineParser* parser = nullptr;
    bool json = false;
    bool yes = false;
    bool verbose = false;
    QString port; // as given, or from the environment; empty when none is named
    QString logPath;
    std::unique_ptr<Session> session;

    // Starts the session on the port; false after telling why, with *code set.
    bool open(int* code);

    // Tells of a usage fault and returns its code.
    int usage(const QString& text) const;
    // Tells of a result that is not Done (or of the port or the end) and returns its exit code;
    // 0 for a result that is Done on a line that stayed usable. A hint, when given, follows on
    // a line of its own: what the user can do about it.
    int report(const ops::Result& result, const QString& what, const QString& hint = QString());
    // Tells of a refusal before the wire and returns its code.
    int refuse(const QString& text);
    // Tells that the MQTT broker refused this client and returns its code.
    int brokerRefused(const QString& text);
    // A result on stdout: the human text, or the JSON object on one line.
    void result(const QString& text, const QJsonObject& object) const;
};

// What a command does once its arguments, and whatever it reads before the wire, were found
// sound; for a command that needs the port, the dispatcher opens it in between, so that a
// fault of the command line is told before anything of the port.
using Job = std::function<int(Context&)>;
// No job: the command ends with this code, already told.
inline Job noJob(int* code, int exitCode)
{
    *code = exitCode;
    return Job();
}

// What the bash completion offers for a command's words besides the names of its options. An
// option whose value is named FILE, LINEFILE or IMAGE takes a file name; any other value not
// listed here is the user's own, and nothing is offered for it.
struct Completion
{
    // The words an option's value is one of, by the option's name.
    QList<QPair<QString, QStringList>> values = {};
    // The words the first argument is one of; any word when empty.
    QStringList firstArgument = {};
    enum Files
    {
        NoFiles,
        AnyFile,   // the arguments are files
        LineFiles, // line files (*.json) and the folders that may hold them, besides sensors
    };
    Files files = NoFiles;
};

// A command's manual page. Its own options, each with its description, are the ones its parser
// takes; an option without a description is told together with the next one. The completion
// is made from the same options.
struct HelpPage
{
    const char* summary;
    const char* synopsis;
    const char* description;
    QList<QCommandLineOption> options;
    const char* examples;
    Completion completion = {};
};

// Whether the dispatcher opens the port for a command.
enum PortUse
{
    NoPort,
    NeedsPort,
};

// One command of the table in main.cpp.
struct Command
{
    const char* name;
    // Checks the arguments and options: the job, or an empty one with *code set after telling
    // why.
    Job (*prepare)(Context& context, int* code);
    PortUse port;
    HelpPage (*help)();
};

// The options every command takes.
QList<QCommandLineOption> commonOptions();

// The texts of --help: the program's, listing the commands, and one command's.
QString programHelp(const QList<Command>& commands);
QString commandHelp(const Command& command);
// The bash completion of the commands of the table (and help), their options and values.
QString bashCompletion(const QList<Command>& commands);

// A sensor as the command line names it: ADDRESS@SPEED, or ADDRESS at the factory speed.
struct SensorArg
{
    int address = 0;
    int speed = 0;
};
// False with the reason when the text is refused; *outOfRange, when asked, says whether it has
// the form but names an address or speed no sensor can have (a refused value, not a wrong
// command line).
bool parseSensor(const QString& text, SensorArg* sensor, QString* why, bool* outOfRange = nullptr);
// Whether a speed is one a sensor may be set to, and those speeds as a text or as words.
bool listedSpeed(int speed);
QStringList speedWords();
// The image file read and checked whole; a missing file is named as the command line gave it.
firmware::ImageFile readImage(const QString& path);
QString speedsText();
// The sensor named by the first of count positional arguments; false with *code set.
bool sensorArgument(Context& context, int count, SensorArg* sensor, int* code);
// How a sensor left in its loader is brought back from the command line.
QString flashWayOut(int address, int speed);
// An event of a publisher to a broker on stderr: a line of text, or with --json an object
// with the queue as it stands.
void tellBrokerEvent(const Context& context, const QString& event, const QString& broker,
                     int queued, qint64 dropped, const QString& text);

// The port at the sensor's speed, and the sensor's record as the library keeps it.
DeviceVEL_DUO300 atSensor(Context& context, const SensorArg& sensor);

// What a command reads of its sensor before it acts.
enum SensorReads
{
    LiveValues = 1, // type, measured value, operating time, version
    Settings = 2,   // the settings block, after the live values
    // A sensor that answers as its loader does goes on: the command brings it back.
    LoaderGoesOn = 4,
};
// The sensor at its speed, read as asked: 0, or the exit code after telling why the read
// failed (with the way out of the loader for a sensor left in it).
int readSensor(Context& context, const SensorArg& sensor, int reads, DeviceVEL_DUO300* dev);

// The commands, one file a command or a family: what each prepares and its page.
Job preparePorts(Context& context, int* code);
HelpPage portsHelp();
Job prepareScan(Context& context, int* code);
HelpPage scanHelp();
Job prepareInfo(Context& context, int* code);
HelpPage infoHelp();
Job prepareRead(Context& context, int* code);
HelpPage readHelp();
Job prepareWrite(Context& context, int* code);
HelpPage writeHelp();
Job prepareSetAddress(Context& context, int* code);
HelpPage setAddressHelp();
Job prepareReset(Context& context, int* code);
HelpPage resetHelp();
Job prepareCalibrate(Context& context, int* code);
HelpPage calibrateHelp();
Job prepareFlash(Context& context, int* code);
HelpPage flashHelp();
Job prepareWatch(Context& context, int* code);
HelpPage watchHelp();
Job prepareCommission(Context& context, int* code);
HelpPage commissionHelp();
Job prepareReport(Context& context, int* code);
HelpPage reportHelp();

// The commissioning report, for report and commission --report: where it goes and the names
// the command line gives it.
struct ReportNames
{
    QString pdfPath;
    QString site;
    QString line;
    QString engineer;
};
// The options that name the site, the line and the engineer.
QList<QCommandLineOption> reportNameOptions();
// The names from the parser's options into names; empty, or why the PDF cannot be written there.
QString reportNamesFault(const QCommandLineParser& parser, ReportNames* names);
struct ReportOutcome
{
    linereport::Report report;
};
// Reads every sensor of the file (read only), makes the report and writes the PDF: 0, or the
// exit code after telling why not.
int makeReport(Context& context, const linefile::Line& file, const QString& fileName,
               const ReportNames& names, ReportOutcome* outcome);
// Whether the command line draws pages (report, commission --report), which needs a GUI
// application; the application the command line needs.
bool drawsPages(int argc, char* argv[]);
QCoreApplication* makeApplication(int& argc, char* argv[]);
