// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include "session/thumb_list.h"
#include "ui/grid_selection.h"

#include <QString>
#include <QStringList>

#include <cstdint>

namespace ui {

class LanguageRoom;

// The photo listed at `index` while it is still on disk; empty past the list's end or when
// another program removed it.
QString PhotoOnDisk(const session::ThumbList& list, std::int64_t index);
// The selected photos still on disk, in list order: exactly what the commands act on.
QStringList SelectedPhotos(const session::ThumbList& list, const GridSelection& selection);
// The status bar's count: how many photos are listed, and how many are selected when more
// than one is.
QString CountText(const LanguageRoom& language, std::size_t listed, int selected);

} // namespace ui
