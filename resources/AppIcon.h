#pragma once

#include <QIconEngine>

// The program's icon, for its windows and the notification area, read from
// the resource collection (":/icons/hicolor/<n>x<n>/apps/", drawn at 16 to
// 512 pixels) at the drawn size nearest above the one asked for, each time
// it is asked: nothing stays decoded.
class AppIcon : public QIconEngine
{
public:
    static QIcon icon();

    QSize actualSize(const QSize& size, QIcon::Mode mode, QIcon::State state) override;
    QPixmap pixmap(const QSize& size, QIcon::Mode mode, QIcon::State state) override;
    void paint(QPainter* painter, const QRect& rect, QIcon::Mode mode, QIcon::State state) override;
    QList<QSize> availableSizes(QIcon::Mode mode, QIcon::State state) override;
    QIconEngine* clone() const override;
};
