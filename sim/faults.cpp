#include "sim/faults.h"

#include "sim/sensorlogic.h"

namespace sim {

QList<Chunk> spoiledAnswer(QByteArray answer, quint8 addr, const FaultSpec& cue, int answerDelayMs,
                           const std::function<QByteArray(const QByteArray&)>& seal)
{
    QList<Chunk> chunks{{answerDelayMs, answer}};
    const int value = cue.value;
    switch (cue.kind) {
    case Fault::Silence:
        chunks.clear();
        break;
    case Fault::Delay:
        chunks[0].delayMs += value;
        break;
    case Fault::Chunks:
        chunks = {{answerDelayMs, answer.left(answer.size() / 2)},
                  {value, answer.mid(answer.size() / 2)}};
        break;
    case Fault::WrongAddress:
        answer[0] = char(addr + 1);
        chunks[0].bytes = seal(answer.left(answer.size() - 2));
        break;
    case Fault::WrongFunction:
        answer[1] = char(value);
        chunks[0].bytes = seal(answer.left(answer.size() - 2));
        break;
    case Fault::Short:
        chunks[0].bytes.chop(value);
        break;
    case Fault::Long:
        chunks[0].bytes.append(garbage(value));
        break;
    case Fault::Garbage:
        chunks[0].bytes = garbage(value);
        break;
    case Fault::BitFlip:
        if (value >= 0 && value < chunks[0].bytes.size())
            chunks[0].bytes[value] = char(chunks[0].bytes.at(value) ^ 0x01);
        break;
    case Fault::None:
    case Fault::Exception:
    case Fault::EraseStatus:
        break;
    }
    return chunks;
}

} // namespace sim
