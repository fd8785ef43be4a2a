// SPDX-License-Identifier: GPL-3.0-or-later
// tulvex-cli undo: the command line's last command is taken back, newest first, and only its own.
#include "session/photo_turn.h"
#include "session/undo.h"
#include "support/jpeg_factory.h"
#include "support/own_folders.h"
#include "support/temp_dir.h"

#include <QCoreApplication>
#include <QDir>
#include <QElapsedTimer>

#include <fcntl.h>
#include <signal.h>
#include <unistd.h>

#include <gtest/gtest.h>
#include <random>
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

// A script on a small disk lowers the bound; never above the default, and never by a value that is
// no amount, which turns nothing at all.
TEST(TulvexCliUndo, TheBoundOfTheVariableHoldsAndAnUnreadableOneTurnsNothing) {
    EXPECT_EQ(session::UndoBoundOf("512M").bytes, 512ull << 20);
    EXPECT_EQ(session::UndoBoundOf("4G").bytes, session::kUndoBound);
    EXPECT_FALSE(session::UndoBoundOf("4G").unreadable);
    EXPECT_EQ(session::UndoBoundOf("0x10").unreadable, "0x10");
    EXPECT_EQ(session::UndoBoundOf(nullptr).bytes, session::kUndoBound);

    TempDir dir;
    const ScopedEnv state("XDG_STATE_HOME", dir.qpath() + "/state");
    const QString photos = dir.mkdir("photos");
    const std::string a = (photos + "/a.jpg").toStdString(), b = (photos + "/b.jpg").toStdString();
    WriteFile(a, MakeJpeg(320, 240));
    WriteFile(b, MakeJpeg(320, 240));
    const Bytes aBefore = ReadFile(a);
    int code = -1;
    {
        const ScopedEnv bound(session::kUndoBoundVariable, "lots");
        const std::string refused = Cli("rotate left " + a, &code);
        EXPECT_EQ(code, 2) << refused;
        EXPECT_NE(refused.find("TULVEX_UNDO_BOUND=\"lots\" is no amount"), std::string::npos)
            << refused;
        EXPECT_EQ(ReadFile(a), aBefore);
    }
    // Room for one photo's record: the second is turned all the same, and named at undo.
    const std::string room = std::to_string((aBefore.size() * 3 / 2 + 1023) / 1024) + "K";
    {
        const ScopedEnv bound(session::kUndoBoundVariable, QString::fromStdString(room));
        const std::string turned = Cli("rotate left " + a + " " + b, &code);
        EXPECT_EQ(code, 0) << turned;
        EXPECT_NE(turned.find("cannot be undone"), std::string::npos) << turned;
    }
    // The two are turned side by side: either may be the one that found no room.
    const std::string report = Cli("undo", &code);
    EXPECT_EQ(code, 1) << report;
    const bool aRestored = report.find(a + ": restored") != std::string::npos;
    const bool bRestored = report.find(b + ": restored") != std::string::npos;
    EXPECT_NE(aRestored, bRestored) << report;
    const std::string lost = (aRestored ? b : a) + ": not restored: its undo data did not fit";
    EXPECT_NE(report.find(lost), std::string::npos) << report;
    if (aRestored) EXPECT_EQ(ReadFile(a), aBefore);
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

TEST(TulvexCliUndo, UndoKilledWhileRewritingALinkedPhotoIsFinishedByTheNext) {
    TempDir dir;
    const ScopedEnv state("XDG_STATE_HOME", dir.qpath() + "/state");
    const QString photos = dir.mkdir("photos");
    const std::string a = (photos + "/a.jpg").toStdString(), b = (photos + "/b.jpg").toStdString();
    ExifSpec one;
    one.orientation = 1;
    const Bytes original = MakeJpegWithExif(1600, 1200, one);
    WriteFile(a, original);
    ASSERT_EQ(::link(a.c_str(), b.c_str()), 0);
    const std::string cli = (QCoreApplication::applicationDirPath() + "/tulvex-cli").toStdString();
    const auto keptCopies = [&photos] {
        return QDir(photos).entryList({"*.tulvex-keep-*"}, QDir::Files | QDir::Hidden);
    };
    int code = -1;

    // One undo left alone: how long it takes here.
    Cli("rotate right " + a, &code);
    ASSERT_EQ(code, 0);
    QElapsedTimer clock;
    clock.start();
    Cli("undo", &code);
    const int undoMicroseconds = int(clock.nsecsElapsed() / 1000);
    ASSERT_EQ(code, 0);
    ASSERT_EQ(ReadFile(b), original);

    std::mt19937 random(29);
    int killedWithCopy = 0;
    for (int round = 0; round < 24; ++round) {
        const std::string turned = Cli("rotate right " + a, &code);
        ASSERT_EQ(code, 0) << turned;
        const pid_t child = ::fork();
        ASSERT_GE(child, 0);
        if (child == 0) {
            const int devnull = ::open("/dev/null", O_WRONLY);
            ::dup2(devnull, 1);
            ::dup2(devnull, 2);
            ::execl(cli.c_str(), cli.c_str(), "undo", static_cast<char*>(nullptr));
            ::_exit(127);
        }
        int status = 0;
        if (round % 2 == 0) {
            // Aimed: killed once the complete old photo stands beside it.
            while (keptCopies().isEmpty() && ::waitpid(child, &status, WNOHANG) == 0) {
            }
        } else {
            ::usleep(useconds_t(
                std::uniform_int_distribution<int>(0, undoMicroseconds * 3 / 2)(random)));
        }
        ::kill(child, SIGKILL);
        ::waitpid(child, &status, 0);
        killedWithCopy += WIFSIGNALED(status) && !keptCopies().isEmpty();

        const std::string report = Cli("undo", &code);
        ASSERT_EQ(ReadFile(a), original) << "round " << round << ": " << report;
        ASSERT_EQ(ReadFile(b), original) << "round " << round;
        EXPECT_TRUE(keptCopies().isEmpty()) << "round " << round;
        EXPECT_EQ(report.find("changed since"), std::string::npos) << report;
        Cli("undo", &code);
        EXPECT_EQ(code, 1) << "round " << round << ": the command is taken back once";
    }
    EXPECT_GT(killedWithCopy, 0) << "no kill landed while the photo was being rewritten";
}

TEST(TulvexCliUndo, EveryLineNamesItsPhotoOrTheRecordOfAnUnknownOne) {
    TempDir dir;
    const ScopedEnv state("XDG_STATE_HOME", dir.qpath() + "/state");
    const QString photos = dir.mkdir("photos");
    const std::string a = (photos + "/a.jpg").toStdString(), b = (photos + "/b.jpg").toStdString();
    WriteFile(a, MakeJpeg(64, 48));
    WriteFile(b, MakeJpeg(64, 48));
    int code = -1;
    Cli("rotate right " + a + " " + b, &code);
    ASSERT_EQ(code, 0);
    const QString stack = session::DefaultUndoFolder() + "/cli";
    const QString command =
        stack + "/" + QDir(stack).entryList(QDir::Dirs | QDir::NoDotAndDotDot).last();
    const std::string record = (command + "/000002.undo").toStdString();
    Bytes kept = ReadFile(record);
    kept[12] ^= 0x40; // in the photo's path: the header no longer tells whose it is
    WriteFile(record, kept);

    const std::string report = Cli("undo", &code);
    EXPECT_EQ(code, 1);
    EXPECT_EQ(report.find(record + ": undo record of an unknown photo"), 0u) << report;
    EXPECT_NE(report.find(": restored\n"), std::string::npos) << report;
    std::size_t lines = 0;
    for (std::size_t at = 0; (at = report.find('\n', at)) != std::string::npos; ++at)
        ++lines;
    EXPECT_EQ(lines, 2u) << report;
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
