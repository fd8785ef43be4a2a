// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include <QIcon>
#include <QPixmap>

namespace ui {

// The tool bar pictures, drawn in code; indexes as the image lists hold them.
enum class IconIndex {
    RotateLeft = 0,
    ViewImage = 1,
    RotateRight = 2,
    Rotate180 = 3,
    Delete = 4,
    Options = 5,
    Exif = 6,
    Favorites = 7,
    Automatic = 8,
};

QPixmap DrawIcon(IconIndex index, bool enabled);
// Enabled picture plus, except for Automatic (never disabled), the disabled one.
QIcon ToolIcon(IconIndex index);
// The light-blue bullet of the EXIF list rows.
QIcon BulletIcon();

} // namespace ui
