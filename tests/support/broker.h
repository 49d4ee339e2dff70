#pragma once

#include "support/freeport.h"

#include <QByteArray>
#include <QDeadlineTimer>
#include <QFile>
#include <QProcess>
#include <QStandardPaths>
#include <QString>
#include <csignal>
#include <pwd.h>
#include <unistd.h>

// The whole file written, or false.
inline bool writeFile(const QString& path, const QByteArray& bytes)
{
    QFile file(path);
    return file.open(QIODevice::WriteOnly) && file.write(bytes) == bytes.size();
}

// A Mosquitto of a test's (or a benchmark's) own, on a free port, its configuration and data
// in a folder of the caller; stopped by its process id.
class Broker
{
public:
    explicit Broker(const QString& folder) : folder(folder) {}
    ~Broker() { stop(); }

    // The listener's lines after "listener PORT 127.0.0.1".
    bool start(const QByteArray& listenerLines = "allow_anonymous true\n")
    {
        if (!port)
            port = freePort();
        // Run as root it would become the user "mosquitto", who cannot write here.
        const passwd* user = ::getpwuid(::geteuid());
        const QByteArray config = "user " + QByteArray(user ? user->pw_name : "root") +
                                  "\nper_listener_settings true\npersistence true\n"
                                  // The defaults, and each subscription: a test can tell
                                  // when a subscriber's messages start to come.
                                  "log_type error\nlog_type warning\nlog_type notice\n"
                                  "log_type information\nlog_type subscribe\n"
                                  "persistence_location " +
                                  QFile::encodeName(folder) + "/\nlistener " +
                                  QByteArray::number(port) + " 127.0.0.1\n" + listenerLines;
        const QString path = folder + QStringLiteral("/mosquitto.conf");
        if (!writeFile(path, config))
            return false;
        const QString program = QStandardPaths::findExecutable(
            QStringLiteral("mosquitto"),
            {QStringLiteral("/usr/sbin"), QStringLiteral("/usr/local/sbin")});
        process.setProgram(program.isEmpty() ? QStringLiteral("mosquitto") : program);
        process.setArguments({QStringLiteral("-c"), path});
        process.setProcessChannelMode(QProcess::MergedChannels);
        log.clear();
        process.start();
        if (!process.waitForStarted(10000))
            return false;
        QDeadlineTimer deadline(10000);
        while (!log.contains("running") && process.state() == QProcess::Running &&
               !deadline.hasExpired()) {
            process.waitForReadyRead(200);
            log += process.readAll();
        }
        return log.contains("running");
    }

    void stop()
    {
        if (process.state() == QProcess::NotRunning)
            return;
        ::kill(pid_t(process.processId()), SIGTERM);
        process.waitForFinished(10000);
        log += process.readAll();
    }

    QString url(const char* scheme = "mqtt") const
    {
        return QStringLiteral("%1://127.0.0.1:%2").arg(QLatin1String(scheme)).arg(port);
    }

    QString folder;
    int port = 0;
    QProcess process;
    QByteArray log;
};
