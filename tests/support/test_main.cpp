// SPDX-License-Identifier: GPL-3.0-or-later
// The core's tests: no widget library is linked, so a widget that slips into the core fails to
// link here. Settings, trash, cache and runtime folders and the machine-wide marker are the
// tests' own, so that they never touch the user's.
#include "support/own_folders.h"

#include <QGuiApplication>
#include <QTemporaryDir>

#include <gtest/gtest.h>

int main(int argc, char** argv) {
    qputenv("QT_QPA_PLATFORM", "offscreen");
    QTemporaryDir home;
    testing_support::UseOwnFolders(home.path());
    QGuiApplication app(argc, argv);
    app.setApplicationName("Tulvex");
    ::testing::InitGoogleTest(&argc, argv);
    return RUN_ALL_TESTS();
}
