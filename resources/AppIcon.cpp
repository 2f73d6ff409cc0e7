#include "resources/AppIcon.h"

#include <QImage>
#include <QImageReader>
#include <QPainter>
#include <QPixmap>

#include <algorithm>
#include <array>

namespace {

constexpr std::array kDrawnSizes { 16, 22, 24, 32, 48, 64, 128, 256, 512 };

// On X11 a window hands its window manager the icon at every size the icon
// offers, all decoded at once when the window is made, as the tray icon's
// own window is at start: the larger sizes would take 1.4 MiB and two pooled
// threads to convert them. Title bars and switchers are drawn from the
// smaller ones; a desktop's menus take the larger ones from the installed theme.
constexpr int kLargestOffered = 64;

} // namespace

QIcon AppIcon::icon()
{
    return QIcon(new AppIcon);
}

// The icon is square: it fills the shorter side.
QSize AppIcon::actualSize(const QSize& size, QIcon::Mode, QIcon::State)
{
    const int side = std::min(size.width(), size.height());
    return { side, side };
}

QPixmap AppIcon::pixmap(const QSize& size, QIcon::Mode mode, QIcon::State state)
{
    const int side = actualSize(size, mode, state).width();
    if (side <= 0)
        return {};
    const auto drawn = std::find_if(kDrawnSizes.begin(), kDrawnSizes.end() - 1, [side](int s) { return s >= side; });
    // Read as the PNG it is: guessing the format would load every image
    // format plugin to ask whether it reads the file.
    QImageReader reader(QStringLiteral(":/icons/hicolor/%1x%1/apps/com.kestrum.Panel.png").arg(*drawn), "png");
    reader.setAutoDetectImageFormat(false);
    const QImage image = reader.read();
    if (image.isNull() || *drawn == side)
        return QPixmap::fromImage(image);
    return QPixmap::fromImage(image.scaled(side, side, Qt::IgnoreAspectRatio, Qt::SmoothTransformation));
}

void AppIcon::paint(QPainter* painter, const QRect& rect, QIcon::Mode mode, QIcon::State state)
{
    const qreal ratio = painter->device()->devicePixelRatio();
    QPixmap image = pixmap(rect.size() * ratio, mode, state);
    image.setDevicePixelRatio(ratio);
    painter->drawPixmap(rect.topLeft(), image);
}

QList<QSize> AppIcon::availableSizes(QIcon::Mode, QIcon::State)
{
    QList<QSize> sizes;
    for (const int side : kDrawnSizes) {
        if (side <= kLargestOffered)
            sizes.append(QSize(side, side));
    }
    return sizes;
}

QIconEngine* AppIcon::clone() const
{
    return new AppIcon;
}
