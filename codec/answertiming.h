#pragma once

#include <QByteArray>
#include <QtGlobal>

// When the worker takes an answer as over, and how long the line must stay quiet before the
// next request. The line carries no end marker: an answer of the length the request expects,
// or a five-byte exception answer, is over as soon as its last byte is in; anything shorter,
// longer or split only after the long silence; and with nothing received at all, the request
// has no answer after the limit. The protocol's silent interval between frames is kept before
// the next request, so that a single exchange does not pay for it.
namespace answertiming {

constexpr qint64 silenceUs = 20000;        // quiet for longer than this ends any answer
constexpr qint64 answerTimeoutUs = 400000; // nothing for longer than this: no answer
// The interval's floor: above 19200 Bd 3.5 characters would be shorter than this.
constexpr qint64 minGuardUs = 1750;
// 8 data bits, no parity, 1 stop bit: with the start bit, ten bits a character.
constexpr int bitsPerChar = 10;

// The time bytes take on the wire at the given rate, rounded up; 0 for a rate of 0 or less.
qint64 wireUs(int bytes, int baud);

// 3.5 character times at the given rate, at least 1.75 ms; the minimum for a rate of 0 or less.
qint64 guardUs(int baud);

// How much longer to wait before a request, the line having been quiet for quietUs since the
// last byte sent or received on it; 0 when the request may go now. After an answer of the
// expected length that did not frame (another address or function code: likely the tail of an
// earlier answer and the start of this one), the line must stay quiet for the long silence, so
// that the rest of what was on its way comes in before the request and is dropped.
qint64 beforeRequestUs(qint64 quietUs, int baud, bool misframed);

// True when the bytes make an answer of the expected length, or a five-byte exception answer
// (function code with its high bit set).
bool complete(const QByteArray& received, int expectedSize);

enum class Verdict
{
    Wait,     // not over: judge again after waitUs, or earlier when bytes come
    Done,     // the received bytes are the answer
    NoAnswer, // nothing came in time
};

struct Step
{
    Verdict verdict = Verdict::Wait;
    qint64 waitUs = 0; // until the next judgement; 0 unless Wait
};

// Judges the answer after quietUs of line silence: since the last byte received, or since
// the request was written when nothing has come yet.
Step judge(qint64 quietUs, const QByteArray& received, int expectedSize);

} // namespace answertiming
