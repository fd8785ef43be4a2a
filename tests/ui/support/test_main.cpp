// SPDX-License-Identifier: GPL-3.0-or-later
// Tests run with a window system that needs no display, and with settings, trash, cache and
// runtime folders of their own, and their own machine-wide marker, so that they never touch the
// user's.
#include "support/own_folders.h"

#include <QApplication>
#include <QTemporaryDir>

#include <gtest/gtest.h>

int main(int argc, char** argv) {
    qputenv("QT_QPA_PLATFORM", "offscreen");
    QTemporaryDir home;
    testing_support::UseOwnFolders(home.path());
    QApplication app(argc, argv);
    app.setApplicationName("Tulvex");
    ::testing::InitGoogleTest(&argc, argv);
    return RUN_ALL_TESTS();
}
