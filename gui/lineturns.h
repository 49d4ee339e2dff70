#pragma once

#include <QQueue>
#include <functional>
#include <map>

class LineClient;

// Who has the line's turn in the window. One exchange at a time: the worker has a single answer
// slot, and an exchange started inside another's wait would take the answer meant for it. A
// user action that comes during a wait (an exchange, a pause, a box or a dialog of the
// window's) is queued and runs once the operation in progress has ended; the polling tick is
// skipped instead, and serves the actions asked of it once a tick finds the line free.
class LineTurns
{
public:
    using Action = std::function<void()>;

    explicit LineTurns(const LineClient& line) : line(line) {}
    LineTurns(const LineTurns&) = delete;
    LineTurns& operator=(const LineTurns&) = delete;

    // An operation in progress, for as long as it lives; when the outermost one ends, the
    // actions queued during its waits run, one after the other. Empty when no turn was given.
    class Turn
    {
    public:
        ~Turn();
        Turn(const Turn&) = delete;
        Turn& operator=(const Turn&) = delete;
        explicit operator bool() const { return turns != nullptr; }

    private:
        friend class LineTurns;
        explicit Turn(LineTurns* turns = nullptr);
        LineTurns* turns;
    };

    // The prologue of every action slot: the turn, or, while a wait is in progress, none, and
    // the action (the slot again) queued to run after the operation.
    [[nodiscard]] Turn take(Action again);
    // The polling tick's turn: none while a wait is in progress or the program ends; that tick
    // is then skipped, not queued.
    [[nodiscard]] Turn tick();

    // Asks the next tick that finds the line free to run the action; ranked lower, it runs
    // before the others, and asked again before that, it still runs once.
    void atTick(int rank, Action action) { tickActions[rank] = std::move(action); }
    // Runs what the ticks were asked to run; called by the tick that has the turn.
    void serveTick();

    // A box or a dialog of the window's is open, for as long as this lives: a wait, so that
    // nothing else starts meanwhile.
    class Asking
    {
    public:
        explicit Asking(LineTurns& turns) : turns(turns) { ++turns.questions; }
        ~Asking() { --turns.questions; }
        Asking(const Asking&) = delete;
        Asking& operator=(const Asking&) = delete;

    private:
        LineTurns& turns;
    };

    // A box of the window's that only informs is open, for as long as this lives: no user
    // action or tick of the window's starts meanwhile, but the operation that showed it uses
    // the line no more until it is closed, so the overview's poller goes on.
    class Informing
    {
    public:
        explicit Informing(LineTurns& turns) : turns(turns) { ++turns.notices; }
        ~Informing() { --turns.notices; }
        Informing(const Informing&) = delete;
        Informing& operator=(const Informing&) = delete;

    private:
        LineTurns& turns;
    };

    // A wait is in progress: an exchange or a pause on the line, or a box of the window's.
    bool waiting() const;
    // The program is ending: nothing more is started or stored.
    bool closing() const;
    // The line is the window's: an operation runs or waits for an answer to its question, a
    // question or a dialog is open, or user actions wait to run. Whoever else would use the
    // line (the overview's poller) asks this first.
    bool taken() const;
    // The window is being destroyed: from now on no turn is given and the line is not asked.
    void close() { closed = true; }
    // Runs the queued actions while nothing runs or waits; for whoever ended a wait outside an
    // operation of the window's (the overview's poller).
    void runQueued();

private:
    const LineClient& line;
    int questions = 0;     // questions and dialogs open
    int notices = 0;       // boxes that only inform open
    int operations = 0;    // turns given and not yet ended
    bool draining = false; // the queued actions are being run
    bool closed = false;
    QQueue<Action> queued;             // user actions that came during a wait
    std::map<int, Action> tickActions; // by rank
};
