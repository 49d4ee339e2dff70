#include "core/sensor/calibrationstep.h"

namespace calibration {

PotentRead potentRead(int error, const QByteArray& answer)
{
    if (error != 0)
        return {PotentRead::Failed, 0};
    if (answer.size() < 4)
        return {PotentRead::Short, 0};
    return {PotentRead::Position, quint8(answer.at(3))};
}

bool beyondWindow(Phase phase, double adc)
{
    return phase == Phase::Raise ? adc < windowLow : adc > windowHigh;
}

Step nextStep(Phase phase, const PotentRead& read, int writesMade)
{
    const Step end{true, 0};
    if (writesMade >= maxWrites)
        return end;
    if (phase == Phase::Raise) {
        switch (read.outcome) {
        case PotentRead::Failed:
            return {false, 74};
        case PotentRead::Short:
            return {false, potentStep};
        case PotentRead::Position:
            if (read.position >= 128)
                return end;
            return {false, quint8(read.position + potentStep)};
        }
    } else {
        switch (read.outcome) {
        case PotentRead::Failed:
            return {false, 54};
        case PotentRead::Short:
            return end;
        case PotentRead::Position:
            if (read.position == 0)
                return end;
            // Below 10 the step would wrap round to the top of the range.
            return {false, quint8(qMax(0, read.position - potentStep))};
        }
    }
    return end;
}

} // namespace calibration
