// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include <QUrl>

#include <functional>

namespace ui {

// Hands `url` to xdg-open, the desktop's opener. `done` runs from the event loop with false when
// xdg-open is missing or cannot start, or says that nothing could open the URL (a non-zero
// exit); with true when it opened it. xdg-open may wait for the program it starts: then `done`
// comes when that program ends, and a program still open when Tulvex ends stays open.
void OpenOnDesktop(const QUrl& url, std::function<void(bool opened)> done);

} // namespace ui
