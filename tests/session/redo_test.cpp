// SPDX-License-Identifier: GPL-3.0-or-later
// Redo of an undone command: byte-exact, refused where the photo changed since, dropped by a new
// turn, and undone again.
#include "session/photo_turn.h"
#include "session/undo_redo.h"
#include "support/jpeg_factory.h"
#include "support/own_folders.h"
#include "support/temp_dir.h"

#include <QDir>

#include <algorithm>
#include <gtest/gtest.h>

#include "platform/file_io.h"

using namespace testing_support;
using rotate::RotationCode;
using session::UndoPhoto;

namespace {

class RedoTest : public ::testing::Test {
protected:
    TempDir home;
    QString folder = home.mkdir("photos");
    ScopedEnv state{"XDG_STATE_HOME", home.qpath() + "/state"};
    ScopedEnv cache{"XDG_CACHE_HOME", home.qpath() + "/cache"};
    session::UndoRedo stacks{session::DefaultUndoFolder(), "test"};

    QString MakePhoto(const QString& name, int w = 64, int h = 48) {
        ExifSpec spec;
        spec.orientation = 1;
        const QString path = folder + "/" + name;
        WriteFile(path.toStdString(), MakeJpegWithExif(w, h, spec));
        return path;
    }
    static Bytes Read(const QString& path) { return ReadFile(path.toStdString()); }
    // Turns each of `photos` right as one command.
    void TurnRight(const QStringList& photos) {
        const auto command = stacks.Begin();
        ASSERT_TRUE(command);
        session::TurnOptions options;
        options.undo = command.get();
        for (const QString& photo : photos)
            ASSERT_TRUE(
                session::TurnOne(photo, RotationCode::Right, options, {}, nullptr).turned());
    }
    static std::size_t Restored(const session::UndoResult& result) {
        return std::size_t(
            std::count_if(result.photos.begin(), result.photos.end(), [](const UndoPhoto& p) {
                return p.status == UndoPhoto::Status::Restored;
            }));
    }
};

TEST_F(RedoTest, RedoPutsBackExactlyWhatTheUndoneCommandWroteAndItsTimes) {
    const QStringList photos = {MakePhoto("a.jpg"), MakePhoto("b.jpg", 64, 32)};
    const Bytes oldA = Read(photos[0]), oldB = Read(photos[1]);
    TurnRight(photos);
    const Bytes turnedA = Read(photos[0]), turnedB = Read(photos[1]);
    platform::FileTimes turnedTimes;
    ASSERT_TRUE(platform::GetFileTimes(photos[0].toStdString(), turnedTimes).ok());
    EXPECT_FALSE(stacks.CanRedo()) << "nothing undone yet";

    QStringList told;
    const session::UndoResult undone =
        stacks.Undo([&told](const UndoPhoto& photo) { told << photo.path; });
    EXPECT_EQ(Restored(undone), 2u);
    EXPECT_EQ(told.size(), 2) << "each photo is told of as it comes back";
    EXPECT_EQ(Read(photos[0]), oldA);
    EXPECT_EQ(Read(photos[1]), oldB);
    EXPECT_FALSE(stacks.CanUndo());
    ASSERT_TRUE(stacks.CanRedo());

    const session::UndoResult redone = stacks.Redo();
    EXPECT_EQ(Restored(redone), 2u);
    EXPECT_EQ(Read(photos[0]), turnedA);
    EXPECT_EQ(Read(photos[1]), turnedB);
    platform::FileTimes times;
    ASSERT_TRUE(platform::GetFileTimes(photos[0].toStdString(), times).ok());
    EXPECT_EQ(times.modification.tv_sec, turnedTimes.modification.tv_sec);
    EXPECT_EQ(times.modification.tv_nsec, turnedTimes.modification.tv_nsec);
    EXPECT_FALSE(stacks.CanRedo());
    EXPECT_TRUE(stacks.Redo().nothing);
}

TEST_F(RedoTest, APhotoChangedSinceTheUndoIsLeftAloneAndTheOthersAreRedone) {
    const QStringList photos = {MakePhoto("a.jpg"), MakePhoto("b.jpg")};
    TurnRight(photos);
    const Bytes turnedB = Read(photos[1]);
    stacks.Undo();
    const Bytes other = Read(MakePhoto("a.jpg", 32, 32));
    const session::UndoResult redone = stacks.Redo();
    ASSERT_EQ(redone.photos.size(), 2u);
    ASSERT_EQ(redone.changedSince().size(), 1u);
    EXPECT_EQ(QDir::cleanPath(redone.changedSince()[0]), QDir::cleanPath(photos[0]));
    EXPECT_EQ(Read(photos[0]), other) << "the other program's bytes stay";
    EXPECT_EQ(Read(photos[1]), turnedB);
}

TEST_F(RedoTest, ANewTurnDropsWhatCouldBeRedone) {
    const QStringList photos = {MakePhoto("a.jpg")};
    TurnRight(photos);
    stacks.Undo();
    ASSERT_TRUE(stacks.CanRedo());
    const QStringList another = {MakePhoto("c.jpg")};
    TurnRight(another);
    EXPECT_FALSE(stacks.CanRedo());
    EXPECT_TRUE(stacks.Redo().nothing);
    EXPECT_TRUE(QDir(session::DefaultUndoFolder() + "/test-redo")
                    .entryList(QDir::AllEntries | QDir::NoDotAndDotDot | QDir::Hidden)
                    .isEmpty())
        << "no record of the dropped redo stays on disk";
}

TEST_F(RedoTest, UndoRedoUndoRedoGoesBackAndForthByteForByte) {
    const QStringList photos = {MakePhoto("a.jpg")};
    const Bytes old = Read(photos[0]);
    TurnRight(photos);
    const Bytes turned = Read(photos[0]);
    for (int round = 0; round < 2; ++round) {
        EXPECT_EQ(Restored(stacks.Undo()), 1u) << round;
        EXPECT_EQ(Read(photos[0]), old) << round;
        EXPECT_EQ(Restored(stacks.Redo()), 1u) << round;
        EXPECT_EQ(Read(photos[0]), turned) << round;
    }
    EXPECT_TRUE(stacks.CanUndo());
    EXPECT_FALSE(stacks.CanRedo());
}

} // namespace
