// SPDX-License-Identifier: GPL-3.0-or-later
// Tests run with a window system that needs no display, and with settings, trash, cache and
// runtime folders of their own, and their own machine-wide marker, so that they never touch the
// user's. Their screen is a desktop's, in device pixels, with one of twice the density to its
// right; built with TULVEX_TEST_SCALE_FACTOR, the toolkit scales everything by it, as on a
// laptop's dense screen.
#include "support/own_folders.h"

#include <QApplication>
#include <QFile>
#include <QTemporaryDir>

#include <gtest/gtest.h>

#ifndef TULVEX_TEST_SCREEN
#define TULVEX_TEST_SCREEN "1600x1200"
#endif

namespace {

// The offscreen window system with one screen of `size` ("WxH") device pixels.
bool UseOffscreenScreen(const QString& folder, const QString& size) {
    const QStringList sides = size.split(u'x');
    if (sides.size() != 2) return false;
    const QString config = folder + QStringLiteral("/screen.json");
    QFile file(config);
    if (!file.open(QIODevice::WriteOnly)) return false;
    // A second screen of twice the density to its right, where a window can be moved.
    const QString screen = QStringLiteral(R"({"name":"%1","x":%2,"y":0,"width":%3,"height":%4,)"
                                          R"("logicalDpi":96,"logicalBaseDpi":96,"dpr":%5})");
    // The primary screen is the first by name.
    const QString left = screen.arg("main").arg(0).arg(sides[0], sides[1]).arg(1);
    const QString right = screen.arg("side").arg(sides[0]).arg(sides[0], sides[1]).arg(2);
    file.write(QStringLiteral(R"({"screens":[%1,%2]})").arg(left, right).toUtf8());
    qputenv("QT_QPA_PLATFORM", ("offscreen:configfile=" + config).toUtf8());
    return true;
}

} // namespace

int main(int argc, char** argv) {
    QTemporaryDir home;
    if (!UseOffscreenScreen(home.path(), QStringLiteral(TULVEX_TEST_SCREEN)))
        qputenv("QT_QPA_PLATFORM", "offscreen");
#ifdef TULVEX_TEST_SCALE_FACTOR
    qputenv("QT_SCALE_FACTOR", TULVEX_TEST_SCALE_FACTOR);
#else
    qunsetenv("QT_SCALE_FACTOR");
#endif
    testing_support::UseOwnFolders(home.path());
    // The window speaks the desktop's language when no settings name one: English here, so
    // that the tests see the texts they expect whatever the machine's locale.
    for (const char* name : {"LANGUAGE", "LC_ALL", "LC_MESSAGES"})
        qunsetenv(name);
    qputenv("LANG", "C.UTF-8");
    QApplication app(argc, argv);
    app.setApplicationName("Tulvex");
    ::testing::InitGoogleTest(&argc, argv);
    return RUN_ALL_TESTS();
}
