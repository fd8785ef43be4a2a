// SPDX-License-Identifier: GPL-3.0-or-later
// Tests run with a window system that needs no display, and with settings, trash, cache and
// runtime folders of their own, and their own machine-wide marker, so that they never touch the
// user's.
#include <QApplication>
#include <QTemporaryDir>

#include <gtest/gtest.h>

int main(int argc, char** argv) {
    qputenv("QT_QPA_PLATFORM", "offscreen");
    QTemporaryDir home;
    qputenv("XDG_CONFIG_HOME", (home.path() + "/config").toUtf8());
    qputenv("XDG_DATA_HOME", (home.path() + "/data").toUtf8());
    qputenv("XDG_CACHE_HOME", (home.path() + "/cache").toUtf8());
    qputenv("XDG_RUNTIME_DIR", home.path().toUtf8());
    qputenv("TULVEX_GLOBAL_MARKER_DIR", home.path().toUtf8());
    qputenv("HOME", home.path().toUtf8());
    qputenv("LC_NUMERIC", "C");
    QApplication app(argc, argv);
    app.setApplicationName("Tulvex");
    ::testing::InitGoogleTest(&argc, argv);
    return RUN_ALL_TESTS();
}
