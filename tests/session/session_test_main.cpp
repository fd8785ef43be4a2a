// SPDX-License-Identifier: GPL-3.0-or-later
// The session's tests need no window system: a core application, and settings, cache and
// runtime folders of their own.
#include <QCoreApplication>
#include <QTemporaryDir>

#include <gtest/gtest.h>

int main(int argc, char** argv) {
    QTemporaryDir home;
    qputenv("XDG_CONFIG_HOME", (home.path() + "/config").toUtf8());
    qputenv("XDG_DATA_HOME", (home.path() + "/data").toUtf8());
    qputenv("XDG_CACHE_HOME", (home.path() + "/cache").toUtf8());
    qputenv("XDG_RUNTIME_DIR", home.path().toUtf8());
    qputenv("TULVEX_GLOBAL_MARKER_DIR", home.path().toUtf8());
    qputenv("HOME", home.path().toUtf8());
    qputenv("LC_NUMERIC", "C");
    QCoreApplication app(argc, argv);
    app.setApplicationName("Tulvex");
    ::testing::InitGoogleTest(&argc, argv);
    return RUN_ALL_TESTS();
}
