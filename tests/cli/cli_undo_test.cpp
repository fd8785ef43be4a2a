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

#include <algorithm>
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

namespace {

// A home of its own for the command line's state, and a folder of photos.
struct CliHome {
    TempDir dir;
    ScopedEnv state{"XDG_STATE_HOME", dir.qpath() + "/state"};
    QString photos = dir.mkdir("photos");

    std::string Photo(const char* name, const Bytes& bytes) {
        const std::string path = (photos + "/" + name).toStdString();
        WriteFile(path, bytes);
        return path;
    }
};

QString NewestCommand(const QString& stack) {
    return stack + "/" + QDir(stack).entryList(QDir::Dirs | QDir::NoDotAndDotDot).last();
}

} // namespace

// A script on a small disk lowers the bound, never above the default; a value that is no amount
// turns nothing at all.
TEST(TulvexCliUndo, TheBoundOfTheVariableHoldsWhatDidNotFitIsNamedAndAnUnreadableOneTurnsNothing) {
    EXPECT_EQ(session::UndoBoundOf("512M").bytes, 512ull << 20);
    EXPECT_EQ(session::UndoBoundOf("4G").bytes, session::kUndoBound);
    EXPECT_FALSE(session::UndoBoundOf("4G").unreadable);
    EXPECT_EQ(session::UndoBoundOf("0x10").unreadable, "0x10");
    EXPECT_EQ(session::UndoBoundOf(nullptr).bytes, session::kUndoBound);

    CliHome home;
    const std::string a = home.Photo("a.jpg", MakeJpeg(320, 240));
    const std::string b = home.Photo("b.jpg", MakeJpeg(320, 240));
    const Bytes before = ReadFile(a);
    int code = -1;
    {
        const ScopedEnv bound(session::kUndoBoundVariable, "lots");
        const std::string refused = Cli("rotate left " + a, &code);
        EXPECT_EQ(code, 2) << refused;
        EXPECT_NE(refused.find("TULVEX_UNDO_BOUND=\"lots\" is no amount"), std::string::npos)
            << refused;
        EXPECT_EQ(ReadFile(a), before);
    }
    // Room for one photo's record: the second is turned all the same, and named at undo.
    const std::string room = std::to_string((before.size() * 3 / 2 + 1023) / 1024) + "K";
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
    EXPECT_NE(aRestored, report.find(b + ": restored") != std::string::npos) << report;
    const std::string& restored = aRestored ? a : b;
    const std::string& lost = aRestored ? b : a;
    EXPECT_NE(report.find(lost + ": not restored: its undo data did not fit"), std::string::npos)
        << report;
    EXPECT_EQ(ReadFile(restored), before);
    EXPECT_NE(ReadFile(lost), before);
    Cli("undo", &code);
    EXPECT_EQ(code, 1) << "nothing left to undo";
}

TEST(TulvexCliUndo, ALinkInPlaceOfItsStackIsRefusedAndNothingThereIsTouched) {
    CliHome home;
    const QString command = home.dir.mkdir("elsewhere") + "/00000000010000000000-1";
    ASSERT_TRUE(QDir().mkpath(command));
    for (const QString& name : {"/.x.tulvex-tmp-AAAAAA", "/000001.undo"})
        WriteFile((command + name).toStdString(), Bytes(100, 1));
    const QString root = session::DefaultUndoFolder();
    ASSERT_TRUE(QDir().mkpath(root));
    ASSERT_EQ(::symlink(QFile::encodeName(QFileInfo(command).path()).constData(),
                        QFile::encodeName(root + "/cli").constData()),
              0);
    const std::string a = home.Photo("a.jpg", MakeJpeg(64, 48));
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
    CliHome home;
    ExifSpec one;
    one.orientation = 1;
    const Bytes original = MakeJpegWithExif(1600, 1200, one);
    const std::string a = home.Photo("a.jpg", original);
    const std::string b = (home.photos + "/b.jpg").toStdString();
    ASSERT_EQ(::link(a.c_str(), b.c_str()), 0);
    const std::string cli = (QCoreApplication::applicationDirPath() + "/tulvex-cli").toStdString();
    const auto keptCopies = [&home] {
        return QDir(home.photos).entryList({"*.tulvex-keep-*"}, QDir::Files | QDir::Hidden);
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

    std::mt19937 random(29);
    int killedWithCopy = 0;
    for (int round = 0; round < 24; ++round) {
        SCOPED_TRACE(round);
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
        ASSERT_EQ(ReadFile(a), original) << report;
        ASSERT_EQ(ReadFile(b), original);
        EXPECT_TRUE(keptCopies().isEmpty());
        EXPECT_EQ(report.find("changed since"), std::string::npos) << report;
        Cli("undo", &code);
        EXPECT_EQ(code, 1) << "the command is taken back once";
    }
    EXPECT_GT(killedWithCopy, 0) << "no kill landed while the photo was being rewritten";
}

TEST(TulvexCliUndo, EveryLineNamesItsPhotoOrTheRecordOfAnUnknownOne) {
    CliHome home;
    const std::string a = home.Photo("a.jpg", MakeJpeg(64, 48));
    const std::string b = home.Photo("b.jpg", MakeJpeg(64, 48));
    int code = -1;
    Cli("rotate right " + a + " " + b, &code);
    ASSERT_EQ(code, 0);
    const std::string record =
        (NewestCommand(session::DefaultUndoFolder() + "/cli") + "/000002.undo").toStdString();
    Bytes kept = ReadFile(record);
    kept[12] ^= 0x40; // in the photo's path: the header no longer tells whose it is
    WriteFile(record, kept);

    const std::string report = Cli("undo", &code);
    EXPECT_EQ(code, 1);
    EXPECT_EQ(report.find(record + ": undo record of an unknown photo"), 0u) << report;
    EXPECT_NE(report.find(": restored\n"), std::string::npos) << report;
    EXPECT_EQ(std::count(report.begin(), report.end(), '\n'), 2) << report;
}

// A turned photo whose folder cannot be flushed after the rename is turned but not yet safely on
// disk: exit status 1, the photo named, and the turn undone like any other.
TEST(TulvexCliUndo, ATurnNotYetSafelyOnDiskExitsOneAndCanBeUndone) {
    CliHome home;
    const std::string a = home.Photo("a.jpg", MakeJpegWithExif(64, 48, {}));
    const Bytes before = ReadFile(a);
    std::string report;
    int code = -1;
    // Only the flush of the photo's folder fails.
    if (!CliWithFaults("-P " + home.photos.toStdString() +
                           " -e trace=fsync -e inject=fsync:error=EIO",
                       "rotate right " + a, report, &code))
        GTEST_SKIP() << "no strace";
    EXPECT_EQ(code, 1) << report;
    EXPECT_NE(report.find(a + " was turned, but is not yet safely on disk"), std::string::npos)
        << report;
    EXPECT_NE(ReadFile(a), before) << "turned all the same";

    report = Cli("undo", &code);
    EXPECT_EQ(code, 0) << report;
    EXPECT_EQ(report, a + ": restored\n");
    EXPECT_EQ(ReadFile(a), before);
}

TEST(TulvexCliUndo, RedoTurnsAgainWhatTheUndoTookBackUntilTheNextTurn) {
    TempDir dir;
    const ScopedEnv state("XDG_STATE_HOME", dir.qpath() + "/state");
    const std::string a = (dir.mkdir("photos") + "/a.jpg").toStdString();
    WriteFile(a, MakeJpeg(64, 48));
    const Bytes before = ReadFile(a);
    int code = -1;
    Cli("rotate right " + a, &code);
    ASSERT_EQ(code, 0);
    const Bytes turned = ReadFile(a);
    Cli("undo", &code);
    ASSERT_EQ(ReadFile(a), before);

    std::string report = Cli("redo", &code);
    EXPECT_EQ(code, 0) << report;
    EXPECT_EQ(report, a + ": restored\n");
    EXPECT_EQ(ReadFile(a), turned);
    Cli("undo", &code);
    ASSERT_EQ(ReadFile(a), before) << "a redo is undone again";

    Cli("rotate left " + a, &code);
    ASSERT_EQ(code, 0);
    const Bytes turnedLeft = ReadFile(a);
    report = Cli("redo", &code);
    EXPECT_EQ(code, 1) << "the new turn dropped what could be redone";
    EXPECT_NE(report.find("nothing to redo"), std::string::npos) << report;
    EXPECT_EQ(ReadFile(a), turnedLeft);
}
