#include "cli/session.h"
#include "codec/filefault.h"
#include "core/link/endsignals.h"
#include "core/link/monitorlog.h"
#include "core/link/portfailure.h"

#include <QEventLoop>
#include <QSocketNotifier>
#include <QTextCodec>
#include <cerrno>
#include <csignal>
#include <cstdio>
#include <unistd.h>

namespace {

void writeTo(FILE* stream, const QString& text)
{
    const QByteArray bytes = text.toUtf8();
    std::fwrite(bytes.constData(), 1, size_t(bytes.size()), stream);
    std::fflush(stream);
}

bool stderrIsTerminal()
{
    return ::isatty(STDERR_FILENO) == 1;
}

const QString clearLine = QStringLiteral("\r\033[K");

} // namespace

void printOut(const QString& text)
{
    writeTo(stdout, text);
}

void printErr(const QString& text)
{
    writeTo(stderr, text);
}

QString sensorText(int address, int speed)
{
    return QStringLiteral("%1@%2").arg(address).arg(speed);
}

void TerminalHost::setActivity(const QString& text)
{
    finishProgress();
    activity = text;
    lastTenth = -1;
    lastValue = lastMaximum = 0;
}

void TerminalHost::finishProgress()
{
    if (!barShown)
        return;
    barShown = false;
    printErr(QStringLiteral("\n"));
}

void TerminalHost::drawBar()
{
    const int width = 30;
    const int filled = lastMaximum > 0 ? width * lastValue / lastMaximum : 0;
    const int percent = lastMaximum > 0 ? 100 * lastValue / lastMaximum : 0;
    printErr(clearLine + activity + QStringLiteral(" [") + QString(filled, QLatin1Char('#')) +
             QString(width - filled, QLatin1Char('-')) + QStringLiteral("] %1%").arg(percent));
    barShown = true;
}

void TerminalHost::progress(int value, int maximum)
{
    if (maximum <= 0)
        return;
    value = qBound(0, value, maximum);
    lastValue = value;
    lastMaximum = maximum;
    if (stderrIsTerminal()) {
        drawBar();
        if (value == maximum)
            finishProgress();
        return;
    }
    // Without a terminal a line for every tenth, so that a log of the run stays short.
    const int tenth = 10 * value / maximum;
    if (tenth == lastTenth)
        return;
    lastTenth = tenth;
    printErr(QStringLiteral("%1: %2%\n").arg(activity).arg(10 * tenth));
}

void TerminalHost::status(const QString& text)
{
    if (stderrIsTerminal()) {
        printErr(clearLine + activity + QStringLiteral(": ") + text);
        barShown = true;
    } else {
        printErr(activity + QStringLiteral(": ") + text + QLatin1Char('\n'));
    }
}

void TerminalHost::note(const QString& text)
{
    if (!barShown) {
        printErr(text + QLatin1Char('\n'));
        return;
    }
    printErr(clearLine + text + QLatin1Char('\n'));
    if (lastMaximum > 0)
        drawBar();
    else
        barShown = false;
}

void TerminalHost::printResult(const QString& text)
{
    const bool redraw = barShown && stderrIsTerminal();
    if (redraw)
        printErr(clearLine);
    printOut(text);
    if (redraw && lastMaximum > 0)
        drawBar();
    else if (redraw)
        barShown = false;
}

void TerminalHost::paramsChanged(DeviceVEL_DUO300* dev)
{
    if (onParams)
        onParams(dev);
}

void TerminalHost::end()
{
    ending = true;
    if (stopWaiting)
        stopWaiting();
}

bool TerminalHost::readLine(QString* line)
{
    if (ending || ::isatty(STDIN_FILENO) != 1)
        return false;
    // Waits in the event loop, so that Ctrl-C ends the wait as it ends an exchange.
    QEventLoop loop;
    QSocketNotifier readable(STDIN_FILENO, QSocketNotifier::Read);
    QObject::connect(&readable, &QSocketNotifier::activated, &loop, &QEventLoop::quit);
    stopWaiting = [&loop] { loop.quit(); };
    loop.exec();
    stopWaiting = nullptr;
    if (ending)
        return false;
    QByteArray bytes;
    char c = 0;
    for (;;) {
        const ssize_t got = ::read(STDIN_FILENO, &c, 1);
        if (got < 0 && errno == EINTR)
            continue;
        if (got <= 0)
            return !bytes.isEmpty() && !ending;
        if (c == '\n')
            break;
        bytes.append(c);
    }
    // Terminals send UTF-8 whatever the locale says (a C locale would take «да» for Latin-1
    // bytes); anything else is read in the locale's encoding.
    QTextCodec::ConverterState state;
    const QString utf8 =
        QTextCodec::codecForName("UTF-8")->toUnicode(bytes.constData(), bytes.size(), &state);
    *line = (state.invalidChars ? QString::fromLocal8Bit(bytes) : utf8).trimmed();
    return !ending;
}

bool TerminalHost::waitForEnter(const QString& prompt)
{
    finishProgress();
    if (::isatty(STDIN_FILENO) != 1) {
        printErr(prompt + QStringLiteral("\nОжидать нечего: стандартный ввод не терминал "
                                         "(без запросов работает --yes).\n"));
        return false;
    }
    printErr(prompt + QStringLiteral(" "));
    QString answer;
    return readLine(&answer);
}

int TerminalHost::ask(const ops::Question& question)
{
    finishProgress();
    const int accept = question.buttons & ops::Yes ? ops::Yes : ops::Ok;
    const int decline = question.buttons & ops::No ? ops::No : ops::Cancel;
    const QString text = question.title.isEmpty()
                             ? question.text
                             : question.title + QStringLiteral(": ") + question.text;
    // A message informs only.
    if (question.buttons == ops::Ok) {
        note(text);
        return ops::Ok;
    }
    if (yes)
        return accept;
    if (::isatty(STDIN_FILENO) != 1) {
        note(text + QStringLiteral("\nОтказано: стандартный ввод не терминал, подтвердить "
                                   "нечем (согласие на всё даёт --yes)."));
        return decline;
    }
    printErr(text + QStringLiteral("\nПродолжить? [да/нет] "));
    QString answer;
    if (!readLine(&answer))
        return decline;
    answer = answer.toLower();
    const bool agreed = answer == QStringLiteral("да") || answer == QStringLiteral("д") ||
                        answer == QLatin1String("yes") || answer == QLatin1String("y");
    return agreed ? accept : decline;
}

Session::Session(const QString& port, bool verbose)
    : portName(port), verbose(verbose), client(new LineClient)
{
    // The window's pauses between the steps of a port sequence have no use here.
    client->setPacedReopen(false);
    connect(client.get(), &LineClient::monitorLine, this, &Session::monitor);
    // The monitor line keeps the window's words; what velduo says names what to do here.
    connect(client.get(), &LineClient::portFault, this,
            [this](int fault, const QString& systemText) {
                failure = commandLinePortFaultText(PortFault(fault), systemText);
            });
    connect(client.get(), &LineClient::portError, this, &Session::monitor);
    connect(client.get(), &LineClient::paramsChanged, this,
            [this](DeviceVEL_DUO300* dev) { terminal.paramsChanged(dev); });
}

Session::~Session()
{
    // The client's last monitor lines come while it stops; the log is still open for them.
    client.reset();
    terminal.finishProgress();
}

bool Session::start(const QString& logPath, QString* why)
{
    if (!logPath.isEmpty()) {
        log.setFileName(logPath);
        QString reason;
        if (!openFile(log, QIODevice::Append, &reason)) {
            *why = QStringLiteral("Журнал «%1» не открыт: %2").arg(logPath, reason);
            return false;
        }
    }
    // Requests and answers are text only for the log and -v.
    client->setTrafficShown(verbose || log.isOpen());
    auto* endSignals = new EndSignals(this);
    connect(endSignals, &EndSignals::arrived, this, [this] {
        endedBySignal = true;
        end();
    });
    QString reason;
    if (!endSignals->install({SIGTERM, SIGINT}, &reason)) {
        *why = QStringLiteral("Сигналы завершения не перехвачены: %1").arg(reason);
        return false;
    }
    return true;
}

void Session::end()
{
    client->end();
    terminal.end();
    emit ending();
}

void Session::useSpeed(int baudrate)
{
    client->use(portName, baudrate);
}

void Session::monitor(const QString& prefix, const QString& text)
{
    appendLogLine(log, prefix + text);
    if (verbose) {
        QString line = prefix + text;
        while (line.endsWith(QLatin1Char('\r')))
            line.chop(1);
        terminal.note(line);
    }
}
