// SPDX-License-Identifier: GPL-3.0-or-later
// tulvex-cli undo: the command line's last command is taken back, newest first, and only its own.
#include "session/photo_turn.h"
#include "session/undo.h"
#include "support/jpeg_factory.h"
#include "support/own_folders.h"
#include "support/temp_dir.h"

#include <QCoreApplication>

#include <gtest/gtest.h>
#include <sys/wait.h>

#include "cli/run_cli.h"

using namespace testing_support;

TEST(TulvexCliUndo, TakesBackItsOwnCommandsNewestFirst) {
    TempDir dir;
    const ScopedEnv state("XDG_STATE_HOME", dir.qpath() + "/state");
    const QString photos = dir.mkdir("photos");
    ExifSpec six, one;
    six.orientation = 6;
    one.orientation = 1;
    const std::string a = (photos + "/a.jpg").toStdString(), b = (photos + "/b.jpg").toStdString();
    WriteFile(a, MakeJpegWithExif(64, 48, one));
    WriteFile(b, MakeJpegWithExif(64, 48, six));
    const Bytes aBefore = ReadFile(a), bBefore = ReadFile(b);
    int code = -1;
    Cli("rotate right " + a, &code);
    ASSERT_EQ(code, 0);
    const Bytes aTurned = ReadFile(a);
    Cli("auto " + photos.toStdString(), &code);
    ASSERT_EQ(code, 0);
    ASSERT_NE(ReadFile(b), bBefore);
    // A turn in the window meanwhile belongs to the window's own stack.
    const QString c = photos + "/c.jpg";
    WriteFile(c.toStdString(), MakeJpegWithExif(64, 48, one));
    {
        session::UndoStore window(session::DefaultUndoFolder(), "window");
        auto command = window.Begin();
        session::TurnOptions options;
        options.undo = command.get();
        ASSERT_TRUE(session::TurnOne(c, rotate::RotationCode::Left, options, {}, nullptr).turned());
    }
    const Bytes cTurned = ReadFile(c.toStdString());

    std::string report = Cli("undo", &code);
    EXPECT_EQ(code, 0) << report;
    EXPECT_EQ(report, b + ": restored\n");
    EXPECT_EQ(ReadFile(b), bBefore);
    EXPECT_EQ(ReadFile(a), aTurned) << "the auto command did not turn a";

    report = Cli("undo", &code);
    EXPECT_EQ(code, 0) << report;
    EXPECT_EQ(ReadFile(a), aBefore);

    report = Cli("undo", &code);
    EXPECT_EQ(code, 1);
    EXPECT_NE(report.find("nothing to undo"), std::string::npos) << report;
    EXPECT_EQ(ReadFile(c.toStdString()), cTurned);
    Cli("undo extra", &code);
    EXPECT_EQ(code, 2);
}

TEST(TulvexCliUndo, TakesBackATurnNamedRelativeToAnotherWorkingFolder) {
    TempDir dir;
    const ScopedEnv state("XDG_STATE_HOME", dir.qpath() + "/state");
    const std::string photos = dir.mkdir("photos").toStdString();
    const std::string elsewhere = dir.mkdir("elsewhere").toStdString();
    const std::string a = photos + "/a.jpg";
    WriteFile(a, MakeJpeg(64, 48));
    const Bytes before = ReadFile(a);
    const std::string cli = (QCoreApplication::applicationDirPath() + "/tulvex-cli").toStdString();
    int status = -1;
    RunCommand("cd '" + photos + "' && '" + cli + "' rotate right a.jpg 2>&1", &status);
    ASSERT_EQ(WEXITSTATUS(status), 0);
    ASSERT_NE(ReadFile(a), before);
    const std::string report =
        RunCommand("cd '" + elsewhere + "' && '" + cli + "' undo 2>&1", &status);
    EXPECT_EQ(WEXITSTATUS(status), 0) << report;
    EXPECT_EQ(ReadFile(a), before);
}

// A turned photo whose folder cannot be flushed after the rename is turned, but not yet safely on
// disk: the exit status says it did not all go well, the message names the photo, and the turn
// can be undone like any other.
TEST(TulvexCliUndo, ATurnNotYetSafelyOnDiskExitsOneAndCanBeUndone) {
    TempDir dir;
    const ScopedEnv state("XDG_STATE_HOME", dir.qpath() + "/state");
    const QString photos = dir.mkdir("photos");
    const std::string a = (photos + "/a.jpg").toStdString();
    WriteFile(a, MakeJpegWithExif(64, 48, {}));
    const Bytes before = ReadFile(a);
    std::string report;
    int code = -1;
    // Only the flush of the photo's folder fails.
    if (!CliWithFaults("-P " + photos.toStdString() + " -e trace=fsync -e inject=fsync:error=EIO",
                       "rotate right " + a, report, &code))
        GTEST_SKIP() << "no strace";
    EXPECT_EQ(code, 1) << report;
    EXPECT_NE(report.find(a + ": turned, but not yet safely on disk"), std::string::npos) << report;
    EXPECT_NE(ReadFile(a), before) << "turned all the same";

    report = Cli("undo", &code);
    EXPECT_EQ(code, 0) << report;
    EXPECT_EQ(report, a + ": restored\n");
    EXPECT_EQ(ReadFile(a), before);
}
