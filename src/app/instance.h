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

// Linux has no desktop-wide "show window contents while dragging" switch; the program keeps
// its own value, switched off for the run and restored at a normal end. Reloads during a
// border drag are coalesced instead (see the main window's resize handling).
class DragSetting {
public:
    DragSetting() : m_saved(s_fullWindowDrag) {}
    void switchOff() { s_fullWindowDrag = false; }
    void restore() { s_fullWindowDrag = m_saved; }
    static bool fullWindowDrag() { return s_fullWindowDrag; }

private:
    bool m_saved;
    static inline bool s_fullWindowDrag = true;
};

} // namespace app
