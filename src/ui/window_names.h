// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include <QString>

namespace ui {

inline const QString kTitle = QStringLiteral("Tulvex");
inline const QString kWebSite = QStringLiteral("https://tulvex.example.org/");
// The property that carries a menu item's number (a rotation code, a favorite, a language).
constexpr const char* kTagProperty = "Tag";
constexpr int kMaxFavorites = 10;

} // namespace ui
