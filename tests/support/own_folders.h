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

// Sets an environment variable for the life of a test and puts the old value back after it, so
// that later tests do not write below a folder that is gone.
class ScopedEnv {
public:
    ScopedEnv(const char* name, const QString& value)
        : m_name(name), m_had(qEnvironmentVariableIsSet(name)), m_old(qgetenv(name)) {
        qputenv(name, value.toUtf8());
    }
    ~ScopedEnv() {
        if (m_had)
            qputenv(m_name, m_old);
        else
            qunsetenv(m_name);
    }
    ScopedEnv(const ScopedEnv&) = delete;
    ScopedEnv& operator=(const ScopedEnv&) = delete;

private:
    const char* m_name;
    bool m_had;
    QByteArray m_old;
};

} // namespace testing_support
