// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include <QString>

#include "platform/file_io.h"

namespace app {

// Two lock files held with a shared lock for the whole run, the session's and the machine's,
// so that other programs (an installer, say) can see that Tulvex runs. A second copy runs
// like the first.
class InstanceMarkers {
public:
    InstanceMarkers();
    static QString SessionPath(); // $XDG_RUNTIME_DIR/VarloTulvex
    static QString GlobalPath();  // /tmp/Global-VarloTulvex, or in $TULVEX_GLOBAL_MARKER_DIR
    // True while some process holds either marker.
    static bool IsRunning();

private:
    platform::UniqueFd m_session;
    platform::UniqueFd m_global;
};

// Opens the marker file at `path` for locking: an existing one as it is (never with O_CREAT,
// never through a link, only a regular file), a missing one created with mode 0666.
platform::UniqueFd OpenMarker(const QString& path);

} // namespace app
