// Commissioning a line of 31 factory sensors with velduo, against a simulated bus whose
// requests and answers take their wire time: each sensor flashed with a 10240-byte image, named,
// given its address, speed and setpoint, read back and calibrated at the nominal point. Once with
// every target speed 115200 and once with every target speed 9600. Prints the run's wall time
// and its ratio to the bound: the wire time of every frame at 10 bits a byte plus 3.5
// characters, and the waits the procedure itself requires (the loader's 1 s, the calibration's
// 50 ms pauses, 400 ms for each unanswered occupancy probe).
#include "codec/blocks.h"
#include "codec/linefile.h"
#include "codec/protocol.h"
#include "sim/sensorbus.h"

#include <QCoreApplication>
#include <QElapsedTimer>
#include <QFile>
#include <QProcess>
#include <QTemporaryDir>
#include <cstdio>

namespace {

// A full line: a sensor at every address the address change gives.
constexpr int lineSize = addressMax;
constexpr double loaderPauseS = 1.0;
constexpr double calibrationPauseS = 0.05;
constexpr double unansweredS = 0.4;

double frameS(int bytes, int baud)
{
    return (bytes + 3.5) * 10.0 / baud;
}

struct Bound
{
    double wireS = 0;
    int loaderPauses = 0;
    int calibrationPauses = 0;
    int unanswered = 0;
    double totalS() const
    {
        return wireS + loaderPauses * loaderPauseS + calibrationPauses * calibrationPauseS +
               unanswered * unansweredS;
    }
};

quint8 function(const QByteArray& frame)
{
    return frame.size() > 1 ? quint8(frame.at(1)) : 0;
}

// From what crossed the bus: every request with the answer written after it, if any, before
// the next request.
Bound boundOf(const sim::SensorBus& bus)
{
    const QList<sim::Received> requests = bus.received();
    const QList<sim::Sent> answers = bus.sent();
    Bound bound;
    int answer = 0;
    for (int i = 0; i < requests.size(); ++i) {
        const sim::Received& request = requests[i];
        bound.wireS += frameS(request.bytes.size(), request.baud);
        const qint64 next = i + 1 < requests.size() ? requests[i + 1].atMs : LLONG_MAX;
        bool answered = false;
        while (answer < answers.size() && answers[answer].atMs < next) {
            if (answers[answer].atMs >= request.atMs) {
                bound.wireS += frameS(answers[answer].bytes.size(), request.baud);
                answered = true;
            }
            ++answer;
        }
        if (!answered)
            ++bound.unanswered;
        if (function(request.bytes) == rtu::code(rtu::Function::GoToLoader))
            ++bound.loaderPauses;
        if (function(request.bytes) == rtu::code(rtu::Function::ReadPotentiometer))
            ++bound.calibrationPauses;
    }
    return bound;
}

bool run(int speed, const QString& dir)
{
    sim::SensorBus bus;
    QString error;
    if (!bus.open(&error)) {
        std::fprintf(stderr, "bus: %s\n", qPrintable(error));
        return false;
    }
    bus.setWireTime(true);
    bus.setRequestWireTime(true);
    bus.queueFactorySensors(lineSize, SensorType::Voltage);

    // Addresses 2 to 31, then 1: a sensor left at the factory address and speed would keep the
    // next one off the line, so the one that stays there comes last.
    linefile::Line plan;
    for (int i = 0; i < lineSize; ++i) {
        linefile::Sensor entry;
        entry.address = i + 1 < lineSize ? i + 2 : 1;
        entry.speed = speed;
        entry.name = QStringLiteral("Датчик %1").arg(entry.address);
        entry.setpoint = 100 + i;
        entry.flash = true;
        entry.calibrate = QStringList{QStringLiteral("nominal")};
        plan.sensors.append(entry);
    }
    const QString planPath = dir + QStringLiteral("/plan-%1.json").arg(speed);
    const QString outPath = dir + QStringLiteral("/line-%1.json").arg(speed);
    const QString imagePath = dir + QStringLiteral("/image.bin");
    QByteArray image(10240, '\0');
    for (int i = 0; i < image.size(); ++i)
        image[i] = char(i * 31 + 7);
    // Its last word is left blank: the checksum is written there.
    image.replace(image.size() - 4, 4, QByteArray(4, char(0xFF)));
    QFile imageFile(imagePath);
    if (!linefile::save(plan, planPath).isEmpty() || !imageFile.open(QIODevice::WriteOnly) ||
        imageFile.write(image) != image.size()) {
        std::fprintf(stderr, "cannot write the plan or the image\n");
        return false;
    }
    imageFile.close();

    QProcess velduo;
    velduo.setStandardOutputFile(QProcess::nullDevice());
    QElapsedTimer clock;
    clock.start();
    velduo.start(QStringLiteral(VEL_VELDUO),
                 {QStringLiteral("commission"), planPath, QStringLiteral("--out"), outPath,
                  QStringLiteral("--image"), imagePath, QStringLiteral("--yes"),
                  QStringLiteral("--port"), bus.slavePath()});
    velduo.closeWriteChannel();
    if (!velduo.waitForFinished(30 * 60 * 1000) || velduo.exitCode() != 0) {
        std::fprintf(stderr, "velduo ended with %d\n%s", velduo.exitCode(),
                     velduo.readAllStandardError().constData());
        return false;
    }
    const double totalS = clock.elapsed() / 1000.0;
    const linefile::ReadResult line = linefile::readFile(outPath, linefile::Mode::File);
    if (!line.ok() || line.line.sensors.size() != lineSize) {
        std::fprintf(stderr, "line file: %s\n", qPrintable(line.refusal));
        return false;
    }
    const Bound bound = boundOf(bus);
    std::printf("bench_commission %6d Bd: %d sensors in %.1f s; bound %.1f s (wire %.1f s, "
                "%d loader pauses, %d calibration pauses, %d unanswered probes); ratio %.3f "
                "(target <= 1.3, total < 300 s)\n",
                speed, lineSize, totalS, bound.totalS(), bound.wireS, bound.loaderPauses,
                bound.calibrationPauses, bound.unanswered, totalS / bound.totalS());
    std::fflush(stdout);
    return true;
}

} // namespace

int main(int argc, char* argv[])
{
    QCoreApplication app(argc, argv);
    QTemporaryDir dir;
    if (!dir.isValid())
        return 1;
    for (int speed : {115200, 9600}) {
        if (!run(speed, dir.path()))
            return 1;
    }
    return 0;
}
