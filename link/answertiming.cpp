#include "link/answertiming.h"

namespace answertiming {

qint64 guardUs(int baud)
{
    if (baud <= 0)
        return minGuardUs;
    // Rounded up, so that the guard is never shorter than 3.5 characters.
    const qint64 us = (qint64(7) * bitsPerChar * 1000000 + 2 * qint64(baud) - 1) / (2 * baud);
    return qMax(us, minGuardUs);
}

bool complete(const QByteArray& received, int expectedSize)
{
    if (received.size() == expectedSize)
        return true;
    return received.size() == 5 && (quint8(received.at(1)) & 0x80) != 0;
}

Step judge(qint64 quietUs, const QByteArray& received, int expectedSize, int baud)
{
    if (received.isEmpty()) {
        if (quietUs > answerTimeoutUs)
            return {Verdict::NoAnswer, 0};
        return {Verdict::Wait, answerTimeoutUs + 1 - quietUs};
    }
    const qint64 needed = complete(received, expectedSize) ? guardUs(baud) : silenceUs + 1;
    if (quietUs >= needed)
        return {Verdict::Done, 0};
    return {Verdict::Wait, needed - quietUs};
}

} // namespace answertiming
