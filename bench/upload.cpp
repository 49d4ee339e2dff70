// Firmware upload of a full 10240-byte image to a simulated sensor at 115200 Bd whose requests
// and answers take their time on the wire: the time from the first chunk request (when it
// reached the line) to the end of the checksum write's answer, against the wire time of every
// request and answer in that stretch at 10 bits a byte.
#include "codec/protocol.h"
#include "support/windowbench.h"

#include <QApplication>
#include <QDir>
#include <QFile>
#include <QMessageBox>
#include <cstdio>

namespace {

constexpr int baud = 115200;

double wireMs(const QByteArray& bytes)
{
    return bytes.size() * 10 * 1000.0 / baud;
}

bool isWriteTo(const QByteArray& frame, int reg)
{
    return frame.size() > 4 && quint8(frame.at(1)) == rtu::code(rtu::Function::WriteRegisters) &&
           (quint8(frame.at(2)) << 8 | quint8(frame.at(3))) == reg;
}

} // namespace

int main(int argc, char* argv[])
{
    qputenv("QT_QPA_PLATFORM", "offscreen");
    QApplication app(argc, argv);

    WindowBench bench;
    bench.bus.setWireTime(true);
    bench.bus.setRequestWireTime(true);
    bench.bus.addSensor(1, baud, SensorType::Voltage);
    bench.addByHand(1, baud);
    QByteArray image(10240, '\0');
    for (int i = 0; i < image.size(); ++i)
        image[i] = char(i * 31 + 7);
    // Its last word is left blank: the checksum is written there.
    image.replace(image.size() - 4, 4, QByteArray(4, char(0xFF)));
    QFile file(QDir::current().filePath(QStringLiteral("VEL_DUO300.bin")));
    if (!file.open(QIODevice::WriteOnly) || file.write(image) != image.size()) {
        std::fprintf(stderr, "cannot write the image\n");
        return 1;
    }
    file.close();
    bench.bus.clearLog();

    // The confirmation that names the sensor and the image is answered yes.
    bench.boxes.answerNext(QMessageBox::Yes);
    bench.invoke("Reprog");

    const QList<sim::Received> requests = bench.bus.received();
    const QList<sim::Sent> answers = bench.bus.sent();
    int first = -1;
    int last = -1;
    for (int i = 0; i < requests.size(); ++i) {
        if (first < 0 && isWriteTo(requests[i].bytes, 0x1400))
            first = i;
        if (isWriteTo(requests[i].bytes, 0x3BFC))
            last = i;
    }
    if (first < 0 || last < 0) {
        std::fprintf(stderr, "the upload did not run\n");
        return 1;
    }
    const qint64 start = requests[first].atMs;
    qint64 end = -1;
    double wire = 0;
    for (int i = first; i <= last; ++i)
        wire += wireMs(requests[i].bytes);
    for (const sim::Sent& answer : answers) {
        if (answer.atMs < start)
            continue;
        wire += wireMs(answer.bytes);
        if (answer.atMs >= requests[last].atMs) {
            end = answer.atMs;
            break;
        }
    }
    if (end < 0) {
        std::fprintf(stderr, "the checksum write was not answered\n");
        return 1;
    }
    const bool flashed = bench.bus.sensor(1).flash.left(10236) == image.left(10236);

    std::printf(
        "upload of a 10240-byte image at %d Bd: %d writes in %lld ms, wire time %.0f ms%s\n", baud,
        last - first + 1, static_cast<long long>(end - start), wire,
        flashed ? "" : " (FLASH DIFFERS FROM THE IMAGE)");
    std::printf("elapsed/wire = %.2f (target at most 2.7)\n", double(end - start) / wire);
    return flashed ? 0 : 1;
}
