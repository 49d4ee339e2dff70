#include "support/windowbench.h"

#include <QComboBox>
#include <QDir>
#include <QFile>
#include <QLineEdit>
#include <QPlainTextEdit>
#include <QSettings>
#include <algorithm>

WindowBench::WindowBench(PortName portName) : previousDir(QDir::currentPath())
{
    QDir::setCurrent(dir.path());
    // What the window remembers between runs stays in the scratch directory.
    QSettings::setPath(QSettings::NativeFormat, QSettings::UserScope, dir.path());
    QString error;
    const QString link = portName == PortName::Link ? adapterPath() : QString();
    if (!bus.open(&error, link))
        qFatal("simulated bus: %s", qPrintable(error));
    qputenv("VEL_DUO300_EXTRA_PORTS", (link.isEmpty() ? bus.slavePath() : link).toLocal8Bit());
    window = std::make_unique<MainWindow>();
    emit window->stopTimer();
}

WindowBench::~WindowBench()
{
    window.reset();
    qunsetenv("VEL_DUO300_EXTRA_PORTS");
    QDir::setCurrent(previousDir);
}

QString WindowBench::adapterPath() const
{
    return dir.filePath(QStringLiteral("ttyADAPTER"));
}

void WindowBench::invoke(const char* slot)
{
    if (!QMetaObject::invokeMethod(window.get(), slot, Qt::DirectConnection))
        qFatal("no slot %s", slot);
}

void WindowBench::poll()
{
    for (int tick = 0; tick < 10; ++tick)
        invoke("slotSendTimerOut");
}

QString WindowBench::monitorText() const
{
    return find<QPlainTextEdit>("consol")->toPlainText();
}

QString WindowBench::logText() const
{
    QFile log(dir.filePath(QStringLiteral("log.txt")));
    log.open(QIODevice::ReadOnly);
    return QString::fromUtf8(log.readAll());
}

void WindowBench::addByHand(int addr, int baud)
{
    find<QLineEdit>("lineEditAddrMB")->setText(QString::number(addr));
    auto* rates = find<QComboBox>("BaudRateBox");
    rates->setCurrentIndex(rates->findText(QString::number(baud)));
    invoke("btnAddDevice");
    emit window->stopTimer(); // the addition restarts it
}

QList<QByteArray> WindowBench::requests(quint8 function) const
{
    QList<QByteArray> frames;
    for (const sim::Received& r : bus.received())
        if (r.bytes.size() > 1 && quint8(r.bytes.at(1)) == function)
            frames.append(r.bytes);
    return frames;
}

QTimer* WindowBench::pollTimer() const
{
    for (QTimer* timer : window->findChildren<QTimer*>())
        if (timer->interval() == 100)
            return timer;
    qFatal("no polling timer");
    return nullptr;
}

UstBlock WindowBench::writtenBlock(const QByteArray& frame)
{
    UstBlock ust{};
    copyFromAnswer(&ust, int(sizeof ust), frame, 6);
    return ust;
}

bool WindowBench::exchangesInTurn() const
{
    const QList<sim::Received> log = bus.received();
    const QList<sim::Sent> answers = bus.sent();
    for (int i = 1; i < log.size(); ++i) {
        const qint64 from = log.at(i - 1).atMs;
        const qint64 to = log.at(i).atMs;
        const bool answered = std::any_of(answers.begin(), answers.end(), [&](const sim::Sent& s) {
            return s.atMs >= from && s.atMs <= to;
        });
        // The bus stamps a request when it has read it, a little after the worker wrote it and
        // started its 400 ms wait; an overlap would follow within a few ms, not 399.
        if (!answered && to - from < 350)
            return false;
    }
    return true;
}
