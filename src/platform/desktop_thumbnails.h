// SPDX-License-Identifier: GPL-3.0-or-later
// The thumbnails that file managers and viewers share under $XDG_CACHE_HOME/thumbnails: they stay
// valid while the modification time they record matches, and a turn with kept times keeps it.
#pragma once

#include <QString>

#include <string>
#include <vector>

namespace platform {

// $XDG_CACHE_HOME/thumbnails, by default ~/.cache/thumbnails.
QString DesktopThumbnailsFolder();

// The file:// addresses a desktop may have keyed `path` by: its absolute and its canonical path,
// each escaped the way GLib and the way Qt escape a path.
std::vector<QByteArray> DesktopThumbnailUris(const QString& path);

// "HASH.png", the MD5 of the address in lower-case hex.
QString DesktopThumbnailName(const QByteArray& uri);

// Removes the shared thumbnails of `path` from every size folder and every fail/* folder; the
// number removed. Nothing is ever written there. `thumbnails`, `fail` and their subfolders are
// opened without following links, and a link where one of them should be is passed over.
int RemoveDesktopThumbnails(const QString& path);

} // namespace platform
