// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include <QString>

#include "platform/result.h"

namespace platform {

// The user's trash folder: $XDG_DATA_HOME/Trash (default ~/.local/share/Trash).
QString HomeTrash();

// The trash folder of a device whose top folder is `topdir`: $topdir/.Trash/$uid when an
// administrator made $topdir/.Trash a real folder with the sticky bit, else $topdir/.Trash-$uid,
// created if missing. An existing one is used only when it is a real folder (no link) owned by
// the user with mode 0700; otherwise no folder and the failure says why.
struct TrashFolder {
    QString folder; // empty unless result is ok
    Result result;
};
TrashFolder TopDirTrash(const QString& topdir);

// Moves a file into the desktop's trash with its trash info, so that it can be restored: the
// home trash when the file lives on the same device, otherwise the .Trash-UID folder at the
// top of the file's own device. The file is only ever renamed, never copied across devices
// and never deleted; on failure it stays where it is and the result says why.
Result MoveToTrash(const QString& path);

} // namespace platform
