#include "gui/lineturns.h"
#include "core/link/lineclient.h"

LineTurns::Turn::Turn(LineTurns* turns) : turns(turns)
{
    if (turns)
        ++turns->operations;
}

LineTurns::Turn::~Turn()
{
    if (turns && --turns->operations == 0)
        turns->runQueued();
}

LineTurns::Turn LineTurns::take(Action again)
{
    if (closed)
        return Turn();
    if (waiting()) {
        queued.enqueue(std::move(again));
        return Turn();
    }
    return Turn(this);
}

LineTurns::Turn LineTurns::tick()
{
    // A tick that falls due during a wait neither polls nor serves what was asked of it.
    if (waiting() || closing())
        return Turn();
    return Turn(this);
}

void LineTurns::serveTick()
{
    // What is asked while these run (during an addition's wait) waits for the next tick.
    const std::map<int, Action> due = std::move(tickActions);
    tickActions.clear();
    for (const auto& asked : due)
        asked.second();
}

bool LineTurns::waiting() const
{
    return questions > 0 || notices > 0 || (!closed && line.waiting());
}

bool LineTurns::closing() const
{
    return closed || line.ending();
}

bool LineTurns::taken() const
{
    // An operation that shows a box that only informs is over with the line until it is closed:
    // it takes the port back before its next exchange, as after any other user of the line.
    const bool operating = operations > 0 && notices == 0;
    return closing() || operating || questions > 0 || (!closed && line.waiting()) ||
           !queued.isEmpty();
}

void LineTurns::runQueued()
{
    if (draining)
        return;
    draining = true;
    while (!closing() && operations == 0 && !waiting() && !queued.isEmpty())
        queued.dequeue()();
    draining = false;
}
