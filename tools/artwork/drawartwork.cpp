// Draws the program's artwork: the About box logo, the application icon at its five sizes and
// the Windows icon file that holds them. Run by scripts/artwork; the results are kept in
// resources/ so that an ordinary build needs nothing of this.
//
//     drawartwork <resources folder>

#include <QBuffer>
#include <QDir>
#include <QFile>
#include <QFont>
#include <QGuiApplication>
#include <QImage>
#include <QPainter>
#include <QPainterPath>
#include <QtEndian>
#include <cstdio>

namespace {

const QColor light(0xee, 0xf4, 0xfa);
const QColor accent(0x7f, 0xc8, 0xf8);
const QColor navy(0x01, 0x2d, 0x52);

// The sensor mark: a small body with three arcs of the field it senses without contact,
// drawn into a square of side s at the origin.
void drawMark(QPainter& p, qreal s, const QColor& body, const QColor& waves)
{
    const qreal pen = qMax<qreal>(1.0, s * 0.075);
    p.setPen(Qt::NoPen);
    p.setBrush(body);
    p.drawRoundedRect(QRectF(s * 0.08, s * 0.30, s * 0.26, s * 0.40), s * 0.05, s * 0.05);
    p.setBrush(Qt::NoBrush);
    p.setPen(QPen(waves, pen, Qt::SolidLine, Qt::RoundCap));
    const QPointF centre(s * 0.30, s * 0.50);
    for (int i = 0; i < 3; ++i) {
        const qreal r = s * (0.24 + 0.17 * i);
        p.drawArc(QRectF(centre.x() - r, centre.y() - r, 2 * r, 2 * r), -45 * 16, 90 * 16);
    }
}

QImage drawLogo()
{
    QImage image(123, 40, QImage::Format_ARGB32);
    image.fill(Qt::transparent);
    QPainter p(&image);
    p.setRenderHint(QPainter::Antialiasing);
    drawMark(p, 40, light, accent);

    QFont bold(QStringLiteral("DejaVu Sans"));
    bold.setBold(true);
    bold.setPixelSize(19);
    QPainterPath name;
    name.addText(42, 20, bold, QStringLiteral("VEL"));
    QFont plain(QStringLiteral("DejaVu Sans"));
    plain.setPixelSize(13);
    name.addText(43, 35, plain, QStringLiteral("DUO300"));
    p.fillPath(name, light);
    p.setPen(QPen(accent, 2));
    p.drawLine(QPointF(88, 14), QPointF(119, 14));
    return image;
}

QImage drawIcon(int size)
{
    QImage image(size, size, QImage::Format_ARGB32);
    image.fill(Qt::transparent);
    QPainter p(&image);
    p.setRenderHint(QPainter::Antialiasing);
    p.setPen(Qt::NoPen);
    p.setBrush(navy);
    const qreal s = size;
    p.drawRoundedRect(QRectF(0, 0, s, s).adjusted(0.5, 0.5, -0.5, -0.5), s * 0.18, s * 0.18);
    drawMark(p, s, light, accent);
    return image;
}

bool save(const QImage& image, const QString& path)
{
    if (image.save(path, "PNG"))
        return true;
    std::fprintf(stderr, "cannot write %s\n", qPrintable(path));
    return false;
}

// An icon file with each image stored as PNG, which every Windows since Vista reads; the
// directory entry says 32 bits a pixel.
QByteArray iconFile(const QList<QImage>& images)
{
    QByteArray head(6, '\0');
    qToLittleEndian<quint16>(1, head.data() + 2);
    qToLittleEndian<quint16>(quint16(images.size()), head.data() + 4);
    QByteArray directory;
    QByteArray data;
    quint32 offset = quint32(6 + 16 * images.size());
    for (const QImage& image : images) {
        QByteArray png;
        QBuffer buffer(&png);
        buffer.open(QIODevice::WriteOnly);
        image.save(&buffer, "PNG");
        QByteArray entry(16, '\0');
        entry[0] = char(image.width() >= 256 ? 0 : image.width());
        entry[1] = char(image.height() >= 256 ? 0 : image.height());
        qToLittleEndian<quint16>(1, entry.data() + 4);  // colour planes
        qToLittleEndian<quint16>(32, entry.data() + 6); // bits a pixel
        qToLittleEndian<quint32>(quint32(png.size()), entry.data() + 8);
        qToLittleEndian<quint32>(offset, entry.data() + 12);
        offset += quint32(png.size());
        directory += entry;
        data += png;
    }
    return head + directory + data;
}

} // namespace

int main(int argc, char* argv[])
{
    QGuiApplication app(argc, argv);
    if (argc != 2) {
        std::fprintf(stderr, "usage: drawartwork <resources folder>\n");
        return 2;
    }
    const QDir out(QString::fromLocal8Bit(argv[1]));
    bool ok = save(drawLogo(), out.filePath(QStringLiteral("images/logo.png")));
    QList<QImage> icons;
    for (int size : {16, 24, 32, 48, 256}) {
        icons << drawIcon(size);
        ok = save(icons.last(), out.filePath(QStringLiteral("icons/%1.png").arg(size))) && ok;
    }
    QFile ico(out.filePath(QStringLiteral("windows/VEL_DUO300.ico")));
    if (!ico.open(QIODevice::WriteOnly) || ico.write(iconFile(icons)) < 0) {
        std::fprintf(stderr, "cannot write %s\n", qPrintable(ico.fileName()));
        ok = false;
    }
    return ok ? 0 : 1;
}
