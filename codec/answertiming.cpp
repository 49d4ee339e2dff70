#include "codec/answertiming.h"

#include "codec/protocol.h"

namespace answertiming {

qint64 wireUs(int bytes, int baud)
{
    if (baud <= 0)
        return 0;
    return (qint64(bytes) * bitsPerChar * 1000000 + baud - 1) / baud;
}

qint64 guardUs(int baud)
{
    if (baud <= 0)
        return minGuardUs;
    // Rounded up, so that the interval is never shorter than 3.5 characters.
    const qint64 us = (qint64(7) * bitsPerChar * 1000000 + 2 * qint64(baud) - 1) / (2 * baud);
    return qMax(us, minGuardUs);
}

qint64 beforeRequestUs(qint64 quietUs, int baud, bool misframed)
{
    const qint64 needed = misframed ? qMax(silenceUs + 1, guardUs(baud)) : guardUs(baud);
    return qMax<qint64>(needed - quietUs, 0);
}

bool complete(const QByteArray& received, int expectedSize)
{
    if (received.size() == expectedSize)
        return true;
    return received.size() == rtu::exceptionAnswerSize &&
           (quint8(received.at(1)) & rtu::exceptionFlag) != 0;
}

Step judge(qint64 quietUs, const QByteArray& received, int expectedSize)
{
    if (received.isEmpty()) {
        if (quietUs > answerTimeoutUs)
            return {Verdict::NoAnswer, 0};
        return {Verdict::Wait, answerTimeoutUs + 1 - quietUs};
    }
    if (complete(received, expectedSize))
        return {Verdict::Done, 0};
    if (quietUs > silenceUs)
        return {Verdict::Done, 0};
    return {Verdict::Wait, silenceUs + 1 - quietUs};
}

} // namespace answertiming
