// Draws the manual's wiring figure: a computer, its USB–RS-485 adapter, the A/B pair with the
// common ground, sensors hung on it one after another, and a 120 Ω terminator at both ends of
// the line. Run by scripts/artwork; the picture is kept in docs/.
//
//     drawwiring <docs folder>

#include <QDir>
#include <QFont>
#include <QGuiApplication>
#include <QImage>
#include <QPainter>
#include <cstdio>

namespace {

const QColor wireA(0xc0, 0x39, 0x2b);
const QColor wireB(0x24, 0x71, 0xa3);
const QColor ground(0x33, 0x33, 0x33);
const QColor box(0xf4, 0xf6, 0xf8);
const QColor outline(0x45, 0x4f, 0x5a);

// The bus runs right from the adapter at these heights.
constexpr int yA = 180;
constexpr int yB = 240;
constexpr int yGnd = 300;
constexpr int busStart = 470;
constexpr int busEnd = 1300;
constexpr int sensorTop = 390;

QFont font(int pixels, bool bold = false)
{
    QFont f(QStringLiteral("DejaVu Sans"));
    f.setPixelSize(pixels);
    f.setBold(bold);
    return f;
}

void drawBox(QPainter& p, const QRect& r, const QString& text, int pixels = 24)
{
    p.setPen(QPen(outline, 2));
    p.setBrush(box);
    p.drawRoundedRect(r, 8, 8);
    p.setPen(Qt::black);
    p.setFont(font(pixels, true));
    p.drawText(r.adjusted(8, 8, -8, -8), Qt::AlignCenter | Qt::TextWordWrap, text);
}

void dot(QPainter& p, int x, int y, const QColor& colour)
{
    p.setPen(Qt::NoPen);
    p.setBrush(colour);
    p.drawEllipse(QPoint(x, y), 6, 6);
}

// A 120 Ω resistor across A and B at x, named on its left or right.
void terminator(QPainter& p, int x, bool nameOnLeft)
{
    p.setPen(QPen(wireA, 3));
    p.drawLine(x, yA, x, yA + 12);
    p.setPen(QPen(wireB, 3));
    p.drawLine(x, yB - 12, x, yB);
    p.setPen(QPen(Qt::black, 2));
    p.setBrush(Qt::white);
    p.drawRect(QRect(x - 9, yA + 12, 18, yB - yA - 24));
    dot(p, x, yA, wireA);
    dot(p, x, yB, wireB);
    p.setPen(Qt::black);
    p.setFont(font(22));
    p.drawText(nameOnLeft ? QRect(x - 124, yA + 14, 110, 32) : QRect(x + 14, yA + 14, 110, 32),
               (nameOnLeft ? Qt::AlignRight : Qt::AlignLeft) | Qt::AlignVCenter,
               QStringLiteral("120 Ом"));
}

// A sensor hung on the bus at x with its three terminals.
void sensor(QPainter& p, int x, const QString& name)
{
    const int width = 190;
    const QList<QPair<QString, QColor>> terminals = {{QStringLiteral("A"), wireA},
                                                     {QStringLiteral("B"), wireB},
                                                     {QStringLiteral("GND"), ground}};
    const int ys[] = {yA, yB, yGnd};
    for (int i = 0; i < 3; ++i) {
        const int tx = x + 40 + i * 55;
        p.setPen(QPen(terminals.at(i).second, 3));
        p.drawLine(tx, ys[i], tx, sensorTop);
        dot(p, tx, ys[i], terminals.at(i).second);
    }
    drawBox(p, QRect(x, sensorTop, width, 120), QString());
    p.setFont(font(19));
    for (int i = 0; i < 3; ++i) {
        p.setPen(terminals.at(i).second);
        p.drawText(QRect(x + 40 + i * 55 - 25, sensorTop + 4, 50, 22), Qt::AlignCenter,
                   terminals.at(i).first);
    }
    p.setPen(Qt::black);
    p.setFont(font(24, true));
    p.drawText(QRect(x, sensorTop + 30, width, 86), Qt::AlignCenter, name);
}

QImage drawWiring()
{
    QImage image(1400, 490, QImage::Format_RGB32);
    image.fill(Qt::white);
    QPainter p(&image);
    p.translate(0, -70);
    p.setRenderHint(QPainter::Antialiasing);
    p.setRenderHint(QPainter::TextAntialiasing);

    // The computer and its USB cable to the adapter.
    drawBox(p, QRect(10, 180, 160, 100), QStringLiteral("Компьютер"), 20);
    p.setPen(QPen(outline, 5));
    p.drawLine(170, 230, 240, 230);
    p.setPen(Qt::black);
    p.setFont(font(19));
    p.drawText(QRect(170, 198, 70, 26), Qt::AlignCenter, QStringLiteral("USB"));
    drawBox(p, QRect(240, 140, busStart - 240, 190), QString());
    p.setFont(font(24, true));
    p.drawText(QRect(246, 150, 140, 170), Qt::AlignCenter, QStringLiteral("Адаптер\nUSB–\nRS-485"));

    // The line: A, B and the common ground, from the adapter's terminals to the last sensor.
    const QList<QPair<int, QColor>> wires = {{yA, wireA}, {yB, wireB}, {yGnd, ground}};
    const QStringList names = {QStringLiteral("A (D+)"), QStringLiteral("B (D−)"),
                               QStringLiteral("GND")};
    for (int i = 0; i < 3; ++i) {
        p.setPen(QPen(wires.at(i).second, 3, i == 2 ? Qt::DashLine : Qt::SolidLine));
        p.drawLine(busStart, wires.at(i).first, busEnd, wires.at(i).first);
        p.setPen(wires.at(i).second);
        p.setFont(font(19, true));
        p.drawText(QRect(busStart - 90, wires.at(i).first - 14, 84, 28),
                   Qt::AlignRight | Qt::AlignVCenter, names.at(i));
    }
    p.setPen(Qt::black);
    p.setFont(font(21));
    p.drawText(QRect(480, yA - 62, 820, 30), Qt::AlignCenter,
               QStringLiteral("витая пара A/B, датчики — «гирляндой», без длинных отводов"));
    p.setFont(font(19));
    p.drawText(QRect(busStart + 8, yGnd + 6, 200, 84), Qt::AlignLeft | Qt::AlignTop,
               QStringLiteral("общий провод\n(GND) адаптера\nи датчиков"));

    terminator(p, busStart + 50, false);
    sensor(p, 620, QStringLiteral("Датчик\nадрес 1"));
    sensor(p, 860, QStringLiteral("Датчик\nадрес 2"));
    p.setPen(Qt::black);
    p.setFont(font(30, true));
    p.drawText(QRect(1050, sensorTop + 30, 60, 50), Qt::AlignCenter, QStringLiteral("…"));
    sensor(p, 1120, QStringLiteral("Датчик\nадрес N"));
    terminator(p, busEnd - 10, true);

    p.setFont(font(20));
    p.drawText(QRect(20, 518, 1360, 30), Qt::AlignLeft | Qt::AlignVCenter,
               QStringLiteral("Адреса на линии не повторяются (1–31); согласующие резисторы "
                              "120 Ом — на обоих концах линии."));
    return image;
}

} // namespace

int main(int argc, char* argv[])
{
    QGuiApplication app(argc, argv);
    if (argc != 2) {
        std::fprintf(stderr, "usage: drawwiring <docs folder>\n");
        return 2;
    }
    const QString path =
        QDir(QString::fromLocal8Bit(argv[1])).filePath(QStringLiteral("wiring.png"));
    if (!drawWiring().save(path)) {
        std::fprintf(stderr, "cannot write %s\n", qPrintable(path));
        return 1;
    }
    return 0;
}
