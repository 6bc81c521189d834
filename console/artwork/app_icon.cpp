#include "app_icon.h"

#include <QLinearGradient>
#include <QPainter>
#include <QPainterPath>

// All shapes are laid out on a 100 x 100 grid and scaled to the requested size.
static void drawChip(QPainter &painter)
{
    painter.setPen(Qt::NoPen);
    painter.setBrush(QColor(0xb4, 0xbc, 0xc8));
    for (int i = 0; i < 4; ++i) {
        const qreal at = 24 + i * 15;
        painter.drawRect(QRectF(at, 6, 7, 12));
        painter.drawRect(QRectF(at, 82, 7, 12));
        painter.drawRect(QRectF(6, at, 12, 7));
        painter.drawRect(QRectF(82, at, 12, 7));
    }
    painter.setBrush(QColor(0x36, 0x41, 0x50));
    painter.drawRoundedRect(QRectF(14, 14, 72, 72), 8, 8);
    painter.setPen(QPen(QColor(0x5a, 0x6b, 0x80), 2));
    painter.setBrush(Qt::NoBrush);
    painter.drawRoundedRect(QRectF(20, 20, 60, 60), 5, 5);
}

static QPainterPath flamePath()
{
    QPainterPath path;
    path.moveTo(0, 30);
    path.cubicTo(-17, 30, -24, 14, -19, 1);
    path.cubicTo(-15, -9, -7, -12, -8, -28);
    path.cubicTo(3, -20, 8, -9, 6, 0);
    path.cubicTo(11, -4, 12, -9, 11, -14);
    path.cubicTo(21, -3, 24, 12, 18, 21);
    path.cubicTo(14, 27, 7, 30, 0, 30);
    return QTransform().translate(50, 50).map(path);
}

static void drawFlame(QPainter &painter)
{
    painter.setPen(Qt::NoPen);
    QLinearGradient outer(50, 20, 50, 82);
    outer.setColorAt(0, QColor(0xff, 0x98, 0x00));
    outer.setColorAt(1, QColor(0xe6, 0x3b, 0x1f));
    painter.setBrush(outer);
    painter.drawPath(flamePath());

    QLinearGradient inner(50, 45, 50, 80);
    inner.setColorAt(0, QColor(0xff, 0xeb, 0x3b));
    inner.setColorAt(1, QColor(0xff, 0xb3, 0x00));
    painter.setBrush(inner);
    // The core: the same shape at half size, standing on the flame's base.
    painter.drawPath(
        QTransform().translate(50, 80).scale(0.5, 0.5).translate(-50, -80).map(flamePath()));
}

QImage drawAppIcon(int size)
{
    QImage image(size, size, QImage::Format_ARGB32_Premultiplied);
    image.fill(Qt::transparent);
    QPainter painter(&image);
    painter.setRenderHint(QPainter::Antialiasing);
    painter.scale(size / 100.0, size / 100.0);
    drawChip(painter);
    drawFlame(painter);
    painter.end();
    return image;
}
