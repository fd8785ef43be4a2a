// SPDX-License-Identifier: GPL-3.0-or-later
#include "ui/placement.h"

#include <QGuiApplication>
#include <QScreen>

#include <algorithm>

namespace ui {

QRect ScreenAreaOf(const QRect& outer, const QList<QRect>& areas, const QRect& primary) {
    QRect best = primary;
    std::int64_t bestArea = 0;
    for (const QRect& area : areas) {
        const QRect common = area.intersected(outer);
        const std::int64_t size = std::int64_t(common.width()) * common.height();
        if (!common.isEmpty() && size > bestArea) {
            best = area;
            bestArea = size;
        }
    }
    return best;
}

QRect PlaceOnScreen(const QRect& wanted, const QList<QRect>& areas, const QRect& primary) {
    const QRect area = ScreenAreaOf(wanted, areas, primary);
    if (area.isEmpty()) return wanted; // no screen to go by
    const QSize size = wanted.size().boundedTo(area.size());
    const int left =
        std::clamp(wanted.left(), area.left(), area.left() + area.width() - size.width());
    const int top =
        std::clamp(wanted.top(), area.top(), area.top() + area.height() - size.height());
    return {QPoint(left, top), size};
}

QList<QRect> ScreenAreas() {
    QList<QRect> areas;
    for (const QScreen* screen : QGuiApplication::screens())
        areas << screen->availableGeometry();
    return areas;
}

QRect PrimaryScreenArea() {
    const QScreen* screen = QGuiApplication::primaryScreen();
    return screen ? screen->availableGeometry() : QRect();
}

} // namespace ui
