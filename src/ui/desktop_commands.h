// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include <QString>

class QWidget;

namespace ui {

class LanguageRoom;

// The commands that hand a photo or a page to the desktop, or only tell something; boxes sit
// over `window`.
void OpenPhoto(QWidget* window, const QString& path, const LanguageRoom& language);
void OpenWebSite(QWidget* window, const LanguageRoom& language);
void ShowAbout(QWidget* window, const LanguageRoom& language);
// The EXIF dialog of `path`, or a box saying it has none.
void ShowExif(QWidget* window, const QString& path, const LanguageRoom& language);

} // namespace ui
