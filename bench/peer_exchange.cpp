// Back-to-back exchanges of this program's line client against those of libmodbus, a common C
// Modbus master, on the simulated bus with requests and answers taking their wire time: a read
// of 20 registers (function 3) and a read of one coil (function 1), at 9600 and 115200 Bd. Each
// round runs 40 exchanges with one, then with the other (their order alternating from round to
// round), so that a machine busy with something else slows both alike; the median round is
// taken. The sensors' own framing puts the CRC high byte first, which the library cannot speak,
// so it talks to a second bus with the published framing and the same sensors.
// Prints, for each case, the time an exchange takes with each, their ratio (target at most 1.00)
// and each against the line's own limit: the wire time of request and answer at ten bits a
// character plus the simulated sensor's turnaround of 2 ms.
// Usage: bench_peer_exchange [rounds], 7 by default.
#include "codec/answertiming.h"
#include "core/link/lineclient.h"
#include "sim/sensorbus.h"

#include <QCoreApplication>
#include <QElapsedTimer>
#include <algorithm>
#include <cerrno>
#include <cstdio>
#include <modbus.h>

namespace {

constexpr int exchanges = 40;
constexpr double turnaroundMs = 2.0;

struct Case
{
    const char* title;
    int baud;
    bool coil; // function 1 with one coil, else function 3 with 20 registers
    int answerBytes;
};

double median(QVector<double> values)
{
    std::sort(values.begin(), values.end());
    return values.at(values.size() / 2);
}

// Milliseconds an exchange takes over a round of back-to-back exchanges; failures counted.
double ourRound(LineClient& line, const Case& c, int* failures)
{
    QElapsedTimer clock;
    clock.start();
    for (int i = 0; i < exchanges; ++i) {
        const Reply reply = c.coil ? line.readCoil(1, 0, 1, 1) : line.read(1, 0x0100, 20, 1);
        *failures += reply.ok() ? 0 : 1;
    }
    return double(clock.nsecsElapsed()) / 1e6 / exchanges;
}

double peerRound(modbus_t* peer, const Case& c, int* failures)
{
    uint16_t registers[20];
    uint8_t coil[1];
    QElapsedTimer clock;
    clock.start();
    for (int i = 0; i < exchanges; ++i) {
        const int got = c.coil ? modbus_read_bits(peer, 0, 1, coil)
                               : modbus_read_registers(peer, 0x0100, 20, registers);
        *failures += got == (c.coil ? 1 : 20) ? 0 : 1;
    }
    return double(clock.nsecsElapsed()) / 1e6 / exchanges;
}

bool openBus(sim::SensorBus& bus, bool standard)
{
    bus.setStandardFraming(standard);
    bus.setWireTime(true);
    bus.setRequestWireTime(true);
    bus.addSensor(1, 9600, SensorType::Voltage);
    bus.addSensor(1, 115200, SensorType::Voltage);
    QString error;
    if (!bus.open(&error)) {
        std::fprintf(stderr, "simulated bus: %s\n", qPrintable(error));
        return false;
    }
    return true;
}

} // namespace

int main(int argc, char* argv[])
{
    QCoreApplication app(argc, argv);
    const int rounds = argc > 1 ? std::max(1, QByteArray(argv[1]).toInt()) : 7;

    sim::SensorBus ours;
    sim::SensorBus theirs;
    if (!openBus(ours, false) || !openBus(theirs, true))
        return 1;
    LineClient line;

    const Case cases[] = {
        {"function 3, 20 registers, 9600 Bd", 9600, false, 45},
        {"function 3, 20 registers, 115200 Bd", 115200, false, 45},
        {"function 1, one coil, 9600 Bd", 9600, true, 6},
        {"function 1, one coil, 115200 Bd", 115200, true, 6},
    };
    for (const Case& c : cases) {
        line.open(ours.slavePath(), c.baud);
        modbus_t* peer =
            modbus_new_rtu(theirs.slavePath().toLocal8Bit().constData(), c.baud, 'N', 8, 1);
        if (!peer || modbus_set_slave(peer, 1) != 0 || modbus_connect(peer) != 0) {
            std::fprintf(stderr, "libmodbus: %s\n", modbus_strerror(errno));
            return 1;
        }
        QVector<double> ourMs;
        QVector<double> peerMs;
        int ourFailures = 0;
        int peerFailures = 0;
        for (int round = 0; round < rounds; ++round) {
            if (round % 2 == 0) {
                ourMs.append(ourRound(line, c, &ourFailures));
                peerMs.append(peerRound(peer, c, &peerFailures));
            } else {
                peerMs.append(peerRound(peer, c, &peerFailures));
                ourMs.append(ourRound(line, c, &ourFailures));
            }
        }
        modbus_close(peer);
        modbus_free(peer);

        const double limit =
            double(answertiming::wireUs(8 + c.answerBytes, c.baud)) / 1000.0 + turnaroundMs;
        const double our = median(ourMs);
        const double their = median(peerMs);
        std::printf("%s: this program %.2f ms, libmodbus %.2f ms an exchange (median of %d "
                    "rounds of %d)\n",
                    c.title, our, their, rounds, exchanges);
        std::printf("  ratio = %.2f (target at most 1.00)\n", our / their);
        std::printf("  against the line's limit of %.2f ms: this program %.2f, libmodbus %.2f; "
                    "this program keeps %.2f ms of quiet line before each request\n",
                    limit, our / limit, their / limit,
                    double(answertiming::guardUs(c.baud)) / 1000.0);
        if (ourFailures || peerFailures)
            std::printf("  failed exchanges: this program %d, libmodbus %d\n", ourFailures,
                        peerFailures);
    }
    return 0;
}
