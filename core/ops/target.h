#pragma once

#include <QByteArray>
#include <QString>

// Whether a sensor may move to another address or speed. A settings write that changes either
// moves the sensor at once; if anything answers at the place it moves to, two devices share one
// address on the line and neither can be reached alone. The decision is pure, so that it is
// tested on its own; the operations probe the line and ask it before every such write.
namespace ops {

// Where a sensor answers: its address at a speed.
struct Place
{
    int address = 0;
    int speed = 0;
    bool operator==(const Place& other) const
    {
        return address == other.address && speed == other.speed;
    }
    bool operator!=(const Place& other) const { return !(*this == other); }
};

// What the probes of a place found: the first outcome other than "no answer" with its answer,
// or "no answer" when every probe went unanswered. Not probed until an outcome is set.
struct Probe
{
    static constexpr int notProbed = -1;
    int error = notProbed;
    QByteArray answer;
    // The port was lost meanwhile: silence there proves nothing.
    bool portLost = false;
};

struct TargetVerdict
{
    bool free = false;
    bool answered = false; // something answered there
    // Why the sensor must not move there, naming whatever holds the place, as the user reads
    // it; empty when it may.
    QString text;
};

// A sensor at from may move to to when nothing moves, or when every probe of to at its speed
// went unanswered on a port that stayed usable. Anything else that came back (a sensor's
// answer, an exception, bytes that make no answer) means the place is taken.
TargetVerdict judgeTarget(const Place& from, const Place& to, const Probe& probe);

} // namespace ops
