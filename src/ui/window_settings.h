// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include <QRect>
#include <QString>
#include <QStringList>

namespace ui {

// What the main window remembers between runs, as the settings store holds it.
struct WindowSettings {
    QString language;
    bool keepTimestamp = true;
    bool enlargeSmall = true;
    bool confirmDelete = true;
    int thumbsInRow = 5;
    bool highQuality = true;
    QString lastFolder;
    bool maximized = false;
    // The outer window, frame included, in logical pixels; read: centred on the primary screen
    // when not stored, and no smaller than `minimum`. Written only when not maximized.
    QRect outer;
    QStringList favorites;
};

QString SettingsPath();
WindowSettings ReadWindowSettings(const QString& path, QSize minimum);
// Values of other kinds and names in the store are written back as they were.
void WriteWindowSettings(const QString& path, const WindowSettings& settings);

} // namespace ui
