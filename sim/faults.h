#pragma once

#include "sim/sensorbus.h"

#include <QByteArray>
#include <QList>
#include <functional>

namespace sim {

// The answer as the fault cue spoils it: the chunks to write, the first answerDelayMs after
// the request. seal puts the line's CRC after a body (the answer's own framing); addr is the
// sensor's. Faults that choose another answer (Exception, EraseStatus) are the caller's.
QList<Chunk> spoiledAnswer(QByteArray answer, quint8 addr, const FaultSpec& cue, int answerDelayMs,
                           const std::function<QByteArray(const QByteArray&)>& seal);

} // namespace sim
