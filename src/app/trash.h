// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include <QString>

namespace app {

// The user's trash folder: $XDG_DATA_HOME/Trash (default ~/.local/share/Trash).
QString HomeTrash();

// Moves a file into the desktop's trash with its trash info, so that it can be restored: the
// home trash when the file lives on the same device, otherwise the .Trash-UID folder at the
// top of the file's own device. The file is only ever renamed, never copied across devices
// and never deleted; on failure it stays where it is and `error` says why.
bool MoveToTrash(const QString& path, QString* error);

} // namespace app
