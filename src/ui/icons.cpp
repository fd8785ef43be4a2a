// SPDX-License-Identifier: GPL-3.0-or-later
#include "ui/icons.h"

#include <QPainter>
#include <QPainterPath>

namespace ui {
namespace {

constexpr int kSize = 24;

void DrawTurnArrow(QPainter& p, bool clockwise, const QColor& color) {
    QPen pen(color, 2.6, Qt::SolidLine, Qt::RoundCap, Qt::RoundJoin);
    p.setPen(pen);
    p.setBrush(Qt::NoBrush);
    const QRectF arc(4, 5, 16, 16);
    // An open circle with an arrow head at its upper end.
    p.drawArc(arc, clockwise ? 150 * 16 : 30 * 16, clockwise ? -260 * 16 : 260 * 16);
    QPainterPath head;
    if (clockwise) {
        head.moveTo(13, 2.5);
        head.lineTo(19, 6);
        head.lineTo(13, 9.5);
    } else {
        head.moveTo(11, 2.5);
        head.lineTo(5, 6);
        head.lineTo(11, 9.5);
    }
    p.setBrush(color);
    p.setPen(QPen(color, 1));
    p.drawPath(head);
}

void DrawRotate180(QPainter& p, const QColor& ink, const QColor& accent) {
    DrawTurnArrow(p, true, accent);
    p.setPen(QPen(ink, 1));
    QFont f = p.font();
    f.setPixelSize(8);
    f.setBold(true);
    p.setFont(f);
    p.drawText(QRectF(4, 8, 16, 10), Qt::AlignCenter, QStringLiteral("180"));
}

void DrawViewImage(QPainter& p, const QColor& ink, const QColor& accent) {
    p.setPen(QPen(ink, 1.5));
    p.setBrush(QColor(0xDD, 0xEE, 0xFF));
    p.drawRect(QRectF(3, 5, 18, 14));
    p.setPen(Qt::NoPen);
    p.setBrush(accent);
    QPainterPath hill;
    hill.moveTo(4, 18);
    hill.lineTo(10, 11);
    hill.lineTo(14, 15);
    hill.lineTo(16, 13);
    hill.lineTo(20, 18);
    hill.closeSubpath();
    p.drawPath(hill);
    p.setBrush(QColor(0xF0, 0xB0, 0x20));
    p.drawEllipse(QPointF(16, 9), 2, 2);
}

void DrawDelete(QPainter& p, const QColor& ink, const QColor& /*accent*/) {
    p.setPen(QPen(ink, 1.6));
    p.setBrush(QColor(0xE8, 0xE8, 0xE8));
    p.drawRect(QRectF(6, 7, 12, 14));
    p.drawLine(QPointF(4, 6), QPointF(20, 6));
    p.drawLine(QPointF(10, 4), QPointF(14, 4));
    p.setPen(QPen(QColor(0xC0, 0x30, 0x30), 1.6));
    p.drawLine(QPointF(10, 10), QPointF(10, 18));
    p.drawLine(QPointF(14, 10), QPointF(14, 18));
}

void DrawOptions(QPainter& p, const QColor& ink, const QColor& accent) {
    p.setPen(QPen(ink, 2));
    for (int y : {7, 12, 17})
        p.drawLine(4, y, 20, y);
    p.setBrush(accent);
    p.setPen(QPen(ink, 1));
    p.drawEllipse(QPointF(8, 7), 2.5, 2.5);
    p.drawEllipse(QPointF(15, 12), 2.5, 2.5);
    p.drawEllipse(QPointF(10, 17), 2.5, 2.5);
}

void DrawExif(QPainter& p, const QColor& ink, const QColor& accent) {
    p.setPen(QPen(ink, 1.5));
    p.setBrush(QColor(0xFF, 0xFF, 0xF0));
    p.drawRoundedRect(QRectF(3, 3, 18, 18), 3, 3);
    p.setPen(QPen(accent, 2.5, Qt::SolidLine, Qt::RoundCap));
    p.drawPoint(QPointF(12, 7.5));
    p.drawLine(QPointF(12, 11), QPointF(12, 17.5));
}

void DrawFavorites(QPainter& p, const QColor& ink, const QColor& /*accent*/) {
    QPainterPath star;
    for (int i = 0; i < 10; ++i) {
        const double r = i % 2 == 0 ? 10 : 4.2;
        const double a = -M_PI / 2 + i * M_PI / 5;
        const QPointF pt(12 + r * std::cos(a), 12.5 + r * std::sin(a));
        i == 0 ? star.moveTo(pt) : star.lineTo(pt);
    }
    star.closeSubpath();
    p.setPen(QPen(ink, 1.2));
    p.setBrush(QColor(0xF5, 0xC0, 0x20));
    p.drawPath(star);
}

void DrawAutomatic(QPainter& p, const QColor& ink, const QColor& accent) {
    p.setPen(QPen(ink, 1.2));
    p.setBrush(QColor(0xF0, 0xD0, 0x40));
    QPainterPath wand;
    wand.moveTo(4, 20);
    wand.lineTo(15, 9);
    wand.lineTo(17, 11);
    wand.lineTo(6, 22);
    wand.closeSubpath();
    p.drawPath(wand);
    p.setPen(QPen(accent, 1.8, Qt::SolidLine, Qt::RoundCap));
    p.drawLine(QPointF(18, 2), QPointF(18, 7));
    p.drawLine(QPointF(15.5, 4.5), QPointF(20.5, 4.5));
    p.drawLine(QPointF(10, 3), QPointF(10, 6));
    p.drawLine(QPointF(21, 11), QPointF(21, 14));
}

void DrawPicture(QPainter& p, IconIndex index, const QColor& ink, const QColor& accent) {
    switch (index) {
    case IconIndex::RotateLeft:
        DrawTurnArrow(p, false, accent);
        break;
    case IconIndex::RotateRight:
        DrawTurnArrow(p, true, accent);
        break;
    case IconIndex::Rotate180:
        DrawRotate180(p, ink, accent);
        break;
    case IconIndex::ViewImage:
        DrawViewImage(p, ink, accent);
        break;
    case IconIndex::Delete:
        DrawDelete(p, ink, accent);
        break;
    case IconIndex::Options:
        DrawOptions(p, ink, accent);
        break;
    case IconIndex::Exif:
        DrawExif(p, ink, accent);
        break;
    case IconIndex::Favorites:
        DrawFavorites(p, ink, accent);
        break;
    case IconIndex::Automatic:
        DrawAutomatic(p, ink, accent);
        break;
    }
}

} // namespace

QPixmap DrawIcon(IconIndex index, bool enabled) {
    QPixmap pixmap(kSize, kSize);
    pixmap.fill(Qt::transparent);
    QPainter p(&pixmap);
    p.setRenderHint(QPainter::Antialiasing);
    const QColor ink = enabled ? QColor(0x20, 0x20, 0x20) : QColor(0x9A, 0x9A, 0x9A);
    const QColor accent = enabled ? QColor(0x1E, 0x6F, 0xD0) : QColor(0xB4, 0xB4, 0xB4);
    DrawPicture(p, index, ink, accent);
    p.end();
    if (!enabled) {
        QImage gray = pixmap.toImage().convertToFormat(QImage::Format_ARGB32);
        for (int y = 0; y < gray.height(); ++y)
            for (int x = 0; x < gray.width(); ++x) {
                const QRgb c = gray.pixel(x, y);
                const int v = 150 + qGray(c) / 3;
                gray.setPixel(x, y, qRgba(v, v, v, qAlpha(c) * 3 / 4));
            }
        return QPixmap::fromImage(gray);
    }
    return pixmap;
}

QIcon ToolIcon(IconIndex index) {
    QIcon icon;
    icon.addPixmap(DrawIcon(index, true), QIcon::Normal);
    icon.addPixmap(index == IconIndex::Automatic ? DrawIcon(index, true) : DrawIcon(index, false),
                   QIcon::Disabled);
    return icon;
}

QIcon BulletIcon() {
    QPixmap pixmap(16, 16);
    pixmap.fill(Qt::transparent);
    QPainter p(&pixmap);
    p.fillRect(QRect(3, 3, 10, 10), QColor(0x8C, 0xC8, 0xF0));
    p.end();
    return QIcon(pixmap);
}

} // namespace ui
