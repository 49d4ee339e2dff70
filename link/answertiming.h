#pragma once

#include <QByteArray>
#include <QtGlobal>

// When the worker takes an answer as over. The line carries no end marker, so silence decides:
// an answer of the length the request expects, or a five-byte exception answer, is over once
// the line has stayed quiet for a short guard; anything shorter, longer or split only after the
// long silence; and with nothing received at all, the request has no answer after the limit.
namespace answertiming {

constexpr qint64 silenceUs = 20000;        // quiet for longer than this ends any answer
constexpr qint64 answerTimeoutUs = 400000; // nothing for longer than this: no answer
constexpr qint64 minGuardUs = 1750;
// Modbus reckons 11 bits a character (start, 8 data, parity or a second stop bit, stop); on
// our 8N1 line a character takes 10, so the guard is a little longer than 3.5 of them.
constexpr int bitsPerChar = 11;

// 3.5 character times at the given rate, at least 1.75 ms; the minimum for a rate of 0 or less.
qint64 guardUs(int baud);

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
Step judge(qint64 quietUs, const QByteArray& received, int expectedSize, int baud);

} // namespace answertiming
