#pragma once

#include "cli/session.h"

#include <QCommandLineOption>
#include <QCommandLineParser>
#include <QJsonObject>
#include <QList>
#include <QString>
#include <QStringList>
#include <memory>

// What every command gets: its arguments, the common options, and the session on the line
// once it asks for one.
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

// A sensor as the command line names it: ADDRESS@SPEED, or ADDRESS at the factory speed.
struct SensorArg
{
    int address = 0;
    int speed = 0;
};
constexpr int factorySpeed = 115200;
constexpr int factoryAddress = 1;
// How a sensor left in its loader is brought back from the command line.
QString flashWayOut(int address, int speed);
bool parseSensor(const QString& text, SensorArg* sensor, QString* why);

// One command: its name, its own options, and what it does.
struct Command
{
    QString name;
    QList<QCommandLineOption> options;
    int (*run)(Context&);
};
const QList<Command>& commands();

int runCommission(Context& context);

// The texts of --help: the program's, and each command's.
QString programHelp();
QString commandHelp(const QString& command);
