// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include <QByteArray>
#include <QString>

namespace testing_support {

// Settings, trash, cache, state and runtime folders and the machine-wide marker of the tests' own,
// below `home`, so that no test touches the user's.
inline void UseOwnFolders(const QString& home) {
    qputenv("XDG_CONFIG_HOME", (home + "/config").toUtf8());
    qputenv("XDG_DATA_HOME", (home + "/data").toUtf8());
    qputenv("XDG_CACHE_HOME", (home + "/cache").toUtf8());
    qputenv("XDG_STATE_HOME", (home + "/state").toUtf8());
    qputenv("XDG_RUNTIME_DIR", home.toUtf8());
    qputenv("TULVEX_GLOBAL_MARKER_DIR", home.toUtf8());
    qputenv("HOME", home.toUtf8());
    qputenv("LC_NUMERIC", "C");
}

} // namespace testing_support
