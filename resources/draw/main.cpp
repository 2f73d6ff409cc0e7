// Draws the program's icon into a directory: one PNG per size it is shown
// at, laid out as in the hicolor icon theme
// (icons/hicolor/<n>x<n>/apps/com.kestrum.Panel.png, 16 to 512 pixels), and
// icon.ico at 256 x 256, 32 bits per pixel. scripts/draw-icon.sh writes them
// into resources/, where the resource collection and the install rules take
// them from.
//   kestrum-draw-icon <directory>
//
// The mark is the panel's own knob, a cyan arc around a dark face with a
// pointer, on a rounded tile: few, thick shapes, so it still reads at the
// 16 to 24 pixels of a notification area.

#include <QDir>
#include <QGuiApplication>
#include <QImage>
#include <QPainter>
#include <QPainterPath>

#include <array>
#include <cmath>
#include <cstdio>

namespace {

const QColor kTile(0x2c, 0x31, 0x3c);
const QColor kTrack(0x4a, 0x50, 0x5e);
const QColor kArc(0x00, 0xe5, 0xff);
const QColor kFace(0x1b, 0x1e, 0x25);
const QColor kPointer(0xff, 0xff, 0xff);

// Notification areas, menus, window frames, launchers and software centres
// ask for these; each size is drawn on its own pixel grid rather than scaled
// down from a large image.
constexpr std::array kSizes { 16, 22, 24, 32, 48, 64, 128, 256, 512 };

// All shapes are laid out on a 100-unit square and scaled to the image.
QImage drawIcon(int size)
{
    QImage image(size, size, QImage::Format_ARGB32);
    image.fill(Qt::transparent);
    QPainter painter(&image);
    painter.setRenderHint(QPainter::Antialiasing);
    painter.scale(size / 100.0, size / 100.0);

    QPainterPath tile;
    tile.addRoundedRect(QRectF(2, 2, 96, 96), 20, 20);
    painter.fillPath(tile, kTile);

    // The knob's 270-degree sweep, open at the bottom, lit to about 70 %.
    const QRectF ring(17, 17, 66, 66);
    painter.setBrush(Qt::NoBrush);
    painter.setPen(QPen(kTrack, 11, Qt::SolidLine, Qt::RoundCap));
    painter.drawArc(ring, 225 * 16, -270 * 16);
    painter.setPen(QPen(kArc, 11, Qt::SolidLine, Qt::RoundCap));
    painter.drawArc(ring, 225 * 16, -190 * 16);

    painter.setPen(Qt::NoPen);
    painter.setBrush(kFace);
    painter.drawEllipse(QPointF(50, 50), 24, 24);

    // The pointer at the lit arc's end.
    const double angle = (225.0 - 190.0) * M_PI / 180.0;
    const QPointF tip(50 + 17 * std::cos(angle), 50 - 17 * std::sin(angle));
    painter.setPen(QPen(kPointer, 8, Qt::SolidLine, Qt::RoundCap));
    painter.drawLine(QPointF(50, 50), tip);
    return image;
}

} // namespace

int main(int argc, char* argv[])
{
    QGuiApplication app(argc, argv);
    if (argc != 2) {
        std::fprintf(stderr, "usage: kestrum-draw-icon <directory>\n");
        return 2;
    }
    const QDir directory(QString::fromLocal8Bit(argv[1]));
    for (const int size : kSizes) {
        const QString apps = QString("icons/hicolor/%1x%1/apps").arg(size);
        const QString png = directory.filePath(apps + "/com.kestrum.Panel.png");
        if (!directory.mkpath(apps) || !drawIcon(size).save(png, "PNG")) {
            std::fprintf(stderr, "cannot write %s\n", qPrintable(png));
            return 1;
        }
        std::printf("wrote %s\n", qPrintable(png));
    }
    const QString ico = directory.filePath("icon.ico");
    if (!drawIcon(256).save(ico, "ICO")) {
        std::fprintf(stderr, "cannot write %s\n", qPrintable(ico));
        return 1;
    }
    std::printf("wrote %s\n", qPrintable(ico));
    return 0;
}
