// SPDX-License-Identifier: GPL-3.0-or-later
// tulvex-cli undo: the command line's last command is taken back, newest first, and only its own.
#include "session/photo_turn.h"
#include "session/undo.h"
#include "support/jpeg_factory.h"
#include "support/own_folders.h"
#include "support/temp_dir.h"

#include <QCoreApplication>
#include <QDir>

#include <unistd.h>

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

TEST(TulvexCliUndo, NamesEachPhotoWhoseUndoDataWasLostAndFails) {
    TempDir dir;
    const ScopedEnv state("XDG_STATE_HOME", dir.qpath() + "/state");
    const QString photos = dir.mkdir("photos");
    const QString a = photos + "/a.jpg", b = photos + "/b.jpg";
    WriteFile(a.toStdString(), MakeJpeg(320, 240));
    WriteFile(b.toStdString(), MakeJpeg(320, 240));
    const Bytes aBefore = ReadFile(a.toStdString());
    // The command line's stack with room for one record: the second photo's does not fit.
    {
        session::UndoStore small(session::DefaultUndoFolder(), "cli", aBefore.size() * 3 / 2);
        auto command = small.Begin();
        session::TurnOptions options;
        options.undo = command.get();
        ASSERT_TRUE(session::TurnOne(a, rotate::RotationCode::Left, options, {}, nullptr).turned());
        const session::PhotoOutcome second =
            session::TurnOne(b, rotate::RotationCode::Left, options, {}, nullptr);
        ASSERT_TRUE(second.turned());
        ASSERT_FALSE(second.undoWarning.empty());
    }
    const Bytes bTurned = ReadFile(b.toStdString());
    int code = -1;
    const std::string report = Cli("undo", &code);
    EXPECT_EQ(code, 1) << report;
    EXPECT_NE(report.find(a.toStdString() + ": restored"), std::string::npos) << report;
    EXPECT_NE(report.find(b.toStdString() + ": not restored: its undo data did not fit"),
              std::string::npos)
        << report;
    EXPECT_EQ(ReadFile(a.toStdString()), aBefore);
    EXPECT_EQ(ReadFile(b.toStdString()), bTurned);
    Cli("undo", &code);
    EXPECT_EQ(code, 1) << "nothing left to undo";
}

TEST(TulvexCliUndo, ALinkInPlaceOfItsStackIsRefusedAndNothingThereIsTouched) {
    TempDir dir;
    const ScopedEnv state("XDG_STATE_HOME", dir.qpath() + "/state");
    const QString elsewhere = dir.mkdir("elsewhere");
    const QString command = elsewhere + "/00000000010000000000-1";
    ASSERT_TRUE(QDir().mkpath(command));
    for (const QString& name : {"/.x.tulvex-tmp-AAAAAA", "/000001.undo"})
        WriteFile((command + name).toStdString(), Bytes(100, 1));
    const QString root = session::DefaultUndoFolder();
    ASSERT_TRUE(QDir().mkpath(root));
    ASSERT_EQ(
        ::symlink(elsewhere.toLocal8Bit().constData(), (root + "/cli").toLocal8Bit().constData()),
        0);
    const std::string a = dir.mkdir("photos").toStdString() + "/a.jpg";
    WriteFile(a, MakeJpeg(64, 48));
    int code = -1;
    std::string report = Cli("rotate right " + a, &code);
    EXPECT_EQ(code, 0) << report;
    EXPECT_NE(report.find("cannot be undone: the undo folder " + root.toStdString() +
                          "/cli is a symbolic link"),
              std::string::npos)
        << report;
    report = Cli("undo", &code);
    EXPECT_EQ(code, 1) << report;
    EXPECT_NE(report.find("symbolic link"), std::string::npos) << report;
    EXPECT_EQ(QDir(command).entryList(QDir::Files | QDir::Hidden).size(), 2);
}
