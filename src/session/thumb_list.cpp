// SPDX-License-Identifier: GPL-3.0-or-later
#include "session/thumb_list.h"

#include "collection/scan.h"

namespace session {

int IndexOfThumb(const ThumbList& list, const QString& path) {
    for (std::size_t i = 0; i < list.size(); ++i)
        if (collection::SamePath(list[i].path, path)) return int(i);
    return -1;
}

} // namespace session
