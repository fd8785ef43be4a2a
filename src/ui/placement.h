// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include <QList>
#include <QRect>

namespace ui {

// Where a window whose outer geometry (frame included) is asked to be `wanted` goes: on the
// screen area that holds most of it, else on `primary`; no larger than that area and moved
// inside it, so that the title bar can always be reached. `areas` are the screens' free areas.
QRect PlaceOnScreen(const QRect& wanted, const QList<QRect>& areas, const QRect& primary);

// The screen area that holds most of `outer`, else `primary`.
QRect ScreenAreaOf(const QRect& outer, const QList<QRect>& areas, const QRect& primary);

// The free areas of the screens that exist now, and that of the primary one (empty when there
// is no screen).
QList<QRect> ScreenAreas();
QRect PrimaryScreenArea();

} // namespace ui
