// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include <QImage>
#include <QString>

#include <vector>

namespace session {

// One image of the loaded folder; a null thumbnail counts as none.
struct ThumbEntry {
    QString path;
    QImage thumbnail;
};

using ThumbList = std::vector<ThumbEntry>;

// The entry's index under the image list's own comparison of paths, or -1.
int IndexOfThumb(const ThumbList& list, const QString& path);

} // namespace session
