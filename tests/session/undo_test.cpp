// SPDX-License-Identifier: GPL-3.0-or-later
// Undo of turns and automatic passes, its folder and its bound, and the desktop's shared
// thumbnails of a changed photo.
#include "session/photo_turn.h"
#include "session/undo.h"
#include "support/english.h"
#include "support/jpeg_factory.h"
#include "support/kept_copy.h"
#include "support/own_folders.h"
#include "support/temp_dir.h"
#include "thumbs/image_codec.h"

#include <QCryptographicHash>
#include <QDir>
#include <QDirIterator>
#include <QFile>
#include <QFileInfo>

#include <fcntl.h>
#include <unistd.h>

#include <future>
#include <gtest/gtest.h>
#include <map>
#include <sys/file.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <thread>

#include "platform/desktop_thumbnails.h"
#include "platform/file_io.h"
#include "platform/leftovers.h"
#include "platform/photo_lock.h"

using namespace testing_support;
using rotate::RotationCode;
using session::UndoCapture;
using session::UndoPhoto;

namespace {

class UndoTest : public ::testing::Test {
protected:
    TempDir home;
    QString folder = home.mkdir("photos");
    ScopedEnv state{"XDG_STATE_HOME", home.qpath() + "/state"};
    ScopedEnv cache{"XDG_CACHE_HOME", home.qpath() + "/cache"};

    QString MakePhoto(const QString& name, int orientation, int w = 64, int h = 48) {
        ExifSpec spec;
        spec.orientation = orientation;
        const QString path = folder + "/" + name;
        WriteFile(path.toStdString(), MakeJpegWithExif(w, h, spec));
        platform::FileTimes old;
        old.access = {1000000000, 123};
        old.modification = {1100000000, 456789};
        EXPECT_TRUE(platform::SetFileTimes(path.toStdString(), old).ok());
        return path;
    }
    static Bytes Read(const QString& path) { return ReadFile(path.toStdString()); }
    static platform::FileTimes Times(const QString& path) {
        platform::FileTimes times;
        EXPECT_TRUE(platform::GetFileTimes(path.toStdString(), times).ok());
        return times;
    }
    static void ExpectSameTimes(const platform::FileTimes& a, const platform::FileTimes& b) {
        EXPECT_EQ(a.modification.tv_sec, b.modification.tv_sec);
        EXPECT_EQ(a.modification.tv_nsec, b.modification.tv_nsec);
        EXPECT_EQ(a.access.tv_sec, b.access.tv_sec);
        EXPECT_EQ(a.access.tv_nsec, b.access.tv_nsec);
    }
    session::UndoStore Store(std::uint64_t bound = session::kUndoBound,
                             platform::ReplaceCalls calls = {}) {
        return session::UndoStore(session::DefaultUndoFolder(), "test", bound, std::move(calls));
    }
    static session::PhotoTurnResult Turn(const QString& path, RotationCode code,
                                         session::UndoCommand* undo, bool trim = false) {
        session::TurnOptions options;
        options.askCrop = !trim;
        options.undo = undo;
        return session::TurnOne(path, code, options, {}, nullptr);
    }
    // Turns each of `photos` right as one command of `store`, all of it kept for undo.
    static void TurnAsOneCommand(session::UndoStore& store, const QStringList& photos) {
        auto command = store.Begin();
        ASSERT_TRUE(command);
        for (const QString& photo : photos) {
            const session::PhotoTurnResult outcome =
                Turn(photo, RotationCode::Right, command.get());
            ASSERT_TRUE(outcome.turned()) << photo.toStdString();
            EXPECT_TRUE(outcome.undo.ok()) << English(outcome.undo);
        }
    }
    static QString Stack(const char* name = "test") {
        return session::DefaultUndoFolder() + "/" + name;
    }
};

QString NewestCommand(const QString& stack) {
    return stack + "/" + QDir(stack).entryList(QDir::Dirs | QDir::NoDotAndDotDot).last();
}

std::uint64_t LargestOf(const QStringList& photos) {
    std::uint64_t largest = 0;
    for (const QString& photo : photos)
        largest = std::max<std::uint64_t>(largest, QFileInfo(photo).size());
    return largest;
}

void FlipBit(const QString& file, std::size_t at) {
    Bytes bytes = ReadFile(file.toStdString());
    ASSERT_LT(at, bytes.size());
    bytes[at] ^= 0x40;
    WriteFile(file.toStdString(), bytes);
}

// A record as the first release wrote it: checked with Blake2b-256, its header unchecked.
Bytes FirstReleaseRecord(const std::string& path, const Bytes& old,
                         const platform::FileTimes& oldTimes, const Bytes& now,
                         const struct timespec& nowModification) {
    const auto blake2b = [](const Bytes& bytes) {
        const QByteArray hash = QCryptographicHash::hash(
            QByteArrayView(reinterpret_cast<const char*>(bytes.data()), qsizetype(bytes.size())),
            QCryptographicHash::Blake2b_256);
        return Bytes(hash.begin(), hash.end());
    };
    Bytes out = {'T', 'U', 'L', 'V', 'X', 'U', 'N', '1'};
    const auto put = [&out](std::uint64_t value, int bytes) {
        for (int i = 0; i < bytes; ++i)
            out.push_back(std::uint8_t(value >> (8 * i)));
    };
    const auto append = [&out](const Bytes& bytes) {
        out.insert(out.end(), bytes.begin(), bytes.end());
    };
    put(path.size(), 4);
    out.insert(out.end(), path.begin(), path.end());
    put(old.size(), 8);
    const auto putTime = [&put](const struct timespec& t) {
        put(std::uint64_t(t.tv_sec), 8);
        put(std::uint64_t(t.tv_nsec), 8);
    };
    putTime(oldTimes.access);
    putTime(oldTimes.modification);
    put(now.size(), 8);
    putTime(nowModification);
    append(blake2b(now));
    append(blake2b(old));
    append(old);
    return out;
}

} // namespace

TEST_F(UndoTest, RecordOfTheFirstReleaseIsStillTakenBackAndRefusedWhenDamaged) {
    const QString a = MakePhoto("a.jpg", 1);
    const platform::FileTimes beforeTimes = Times(a); // before a read of ours moves the access time
    const Bytes before = Read(a);
    ASSERT_TRUE(Turn(a, RotationCode::Right, nullptr).turned());
    const Bytes turned = Read(a);
    struct stat st {};
    ASSERT_EQ(::stat(a.toStdString().c_str(), &st), 0);
    const Bytes record =
        FirstReleaseRecord(a.toStdString(), before, beforeTimes, turned, st.st_mtim);
    const QString stack = session::DefaultUndoFolder() + "/test";
    const auto plant = [&](const std::string& command, const Bytes& bytes) {
        const QString folder = stack + "/" + QString::fromStdString(command);
        ASSERT_TRUE(QDir().mkpath(folder));
        WriteFile((folder + "/000001.undo").toStdString(), bytes);
    };
    session::UndoStore store = Store();

    Bytes damaged = record;
    damaged[damaged.size() - 7] ^= 0x10;
    plant("00000000010000000000-1", damaged);
    session::UndoResult undone = store.UndoLast();
    ASSERT_EQ(undone.photos.size(), 1u);
    EXPECT_EQ(undone.photos[0].status, UndoPhoto::Status::Failed);
    EXPECT_EQ(Read(a), turned) << "damaged kept bytes are never written back";

    plant("00000000020000000000-1", record);
    undone = store.UndoLast();
    ASSERT_EQ(undone.photos.size(), 1u);
    EXPECT_EQ(undone.photos[0].status, UndoPhoto::Status::Restored);
    ExpectSameTimes(Times(a), beforeTimes);
    EXPECT_EQ(Read(a), before);
    EXPECT_FALSE(store.CanUndo());
}

TEST_F(UndoTest, RecordWithADamagedHeaderIsRefused) {
    const QString a = MakePhoto("a.jpg", 1);
    session::UndoStore store = Store();
    {
        auto command = store.Begin();
        ASSERT_TRUE(Turn(a, RotationCode::Right, command.get()).turned());
    }
    const Bytes turned = Read(a);
    const QString record = NewestCommand(Stack()) + "/000001.undo";
    Bytes kept = ReadFile(record.toStdString());
    ASSERT_EQ(std::string(kept.begin(), kept.begin() + 8), "TULVXUN3");
    // The old modification time's seconds, just past the path and the command: every length
    // still agrees.
    const std::size_t pathLength = kept[8] | kept[9] << 8 | kept[10] << 16;
    const std::size_t commandAt = 8 + 4 + pathLength;
    const std::size_t commandLength = kept[commandAt] | kept[commandAt + 1] << 8;
    kept[commandAt + 2 + commandLength + 8 + 16] ^= 0x01;
    WriteFile(record.toStdString(), kept);
    const session::UndoResult undone = store.UndoLast();
    ASSERT_EQ(undone.photos.size(), 1u);
    EXPECT_EQ(undone.photos[0].status, UndoPhoto::Status::Failed);
    EXPECT_EQ(Read(a), turned);
}

TEST_F(UndoTest, SharedThumbnailsOfATurnedOrRestoredPhotoAreRemovedAlsoWithKeptTimes) {
    const QString photo = MakePhoto("a b.jpg", 6);
    // Known independently of our own escaping and hashing.
    const std::string uri = "file://" + folder.toStdString() + "/a%20b.jpg";
    const std::string md5 = RunCommand("printf '%s' '" + uri + "' | md5sum").substr(0, 32);
    ASSERT_EQ(md5.size(), 32u);
    const QString name = QString::fromStdString(md5) + ".png";
    const QString root = home.qpath() + "/cache/thumbnails";
    const QStringList holders = {"normal",        "large",       "x-large",
                                 "xx-large",      "custom-size", "fail/gnome-thumbnail-factory",
                                 "fail/other-app"};
    for (const QString& holder : holders) {
        QDir().mkpath(root + "/" + holder);
        WriteFile((root + "/" + holder + "/" + name).toStdString(), {1, 2, 3});
        WriteFile((root + "/" + holder + "/unrelated.png").toStdString(), {1, 2, 3});
    }
    const auto makeEntries = [&] {
        for (const QString& holder : holders)
            WriteFile((root + "/" + holder + "/" + name).toStdString(), {1, 2, 3});
    };
    const auto expectEntriesGone = [&](const char* after) {
        for (const QString& holder : holders) {
            EXPECT_FALSE(QFile::exists(root + "/" + holder + "/" + name))
                << holder.toStdString() << " after " << after;
            EXPECT_TRUE(QFile::exists(root + "/" + holder + "/unrelated.png"))
                << "only that photo's";
        }
    };
    session::UndoStore store = Store();
    {
        auto command = store.Begin();
        session::TurnOptions options;
        options.keepTimes = true;
        options.undo = command.get();
        ASSERT_TRUE(session::TurnOne(photo, RotationCode::Right, options, {}, nullptr).turned());
    }
    expectEntriesGone("the turn");
    makeEntries();
    ASSERT_EQ(store.UndoLast().photos.at(0).status, UndoPhoto::Status::Restored);
    expectEntriesGone("the undo");
    EXPECT_EQ(platform::DesktopThumbnailName(platform::DesktopThumbnailUris(photo).front()), name);
}

TEST_F(UndoTest, UndoAfterTurnsGivesBackBytesAndTimesNewestCommandFirst) {
    const QString a = MakePhoto("a.jpg", 1), b = MakePhoto("b.jpg", 1);
    const Bytes aBefore = Read(a), bBefore = Read(b);
    const platform::FileTimes aTimes = Times(a);
    session::UndoStore store = Store();
    {
        auto first = store.Begin();
        ASSERT_TRUE(first);
        ASSERT_TRUE(Turn(a, RotationCode::Right, first.get()).turned());
        ASSERT_TRUE(Turn(b, RotationCode::Left, first.get()).turned());
        EXPECT_EQ(first->keptCount(), 2u);
    }
    const Bytes aTurnedOnce = Read(a);
    {
        auto second = store.Begin();
        ASSERT_TRUE(Turn(a, RotationCode::Half, second.get()).turned());
    }
    ASSERT_NE(Read(a), aTurnedOnce);

    session::UndoResult undone = store.UndoLast();
    ASSERT_EQ(undone.photos.size(), 1u);
    EXPECT_EQ(undone.photos[0].status, UndoPhoto::Status::Restored);
    EXPECT_EQ(Read(a), aTurnedOnce) << "only the newest command is taken back";

    undone = store.UndoLast();
    ASSERT_EQ(undone.photos.size(), 2u);
    ExpectSameTimes(Times(a), aTimes); // before a read of ours moves the access time
    EXPECT_EQ(Read(a), aBefore);
    EXPECT_EQ(Read(b), bBefore);
    EXPECT_TRUE(undone.changedSince().empty());
    EXPECT_FALSE(store.CanUndo());
    EXPECT_TRUE(store.UndoLast().nothing);
}

TEST_F(UndoTest, UndoAfterTrimmedTurnBringsTheLostPixelsBack) {
    const QString a = MakePhoto("a.jpg", 1, 40, 24); // 40 is no multiple of 16: trimmed
    const Bytes before = Read(a);
    session::UndoStore store = Store();
    {
        auto command = store.Begin();
        ASSERT_TRUE(Turn(a, RotationCode::Right, command.get(), true).turned());
    }
    int w = 0, h = 0;
    DecodeRgb(Read(a), w, h);
    ASSERT_LT(w * h, 40 * 24) << "trimmed to whole blocks";
    ASSERT_EQ(store.UndoLast().photos.at(0).status, UndoPhoto::Status::Restored);
    EXPECT_EQ(Read(a), before);
    int w0 = 0, h0 = 0, w1 = 0, h1 = 0;
    EXPECT_EQ(DecodeRgb(Read(a), w1, h1), DecodeRgb(before, w0, h0));
    EXPECT_EQ(w1, 40);
}

TEST_F(UndoTest, UndoAfterAutomaticPassListsThePhotosAgain) {
    const QString a = MakePhoto("a.jpg", 6), b = MakePhoto("b.jpg", 3), c = MakePhoto("c.jpg", 8);
    const Bytes aBefore = Read(a), bBefore = Read(b), cBefore = Read(c);
    session::AutoList list;
    for (const auto& [path, value] : {std::pair{a, 6}, {b, 3}, {c, 8}})
        list.push_back({path, value});
    session::UndoStore store = Store();
    {
        auto command = store.Begin();
        session::TurnOptions options;
        options.undo = command.get();
        const session::PassResult pass = session::RunAutomaticPass(list, options, {}, {});
        ASSERT_EQ(pass.end, session::PassResult::End::Complete);
    }
    ASSERT_TRUE(list.empty());
    const session::UndoResult undone = store.UndoLast();
    ASSERT_EQ(undone.photos.size(), 3u);
    EXPECT_EQ(Read(a), aBefore);
    EXPECT_EQ(Read(b), bBefore);
    EXPECT_EQ(Read(c), cBefore);

    session::FollowUndo(list, folder + "/", undone);
    ASSERT_EQ(list.size(), 3u);
    for (const auto& [path, value] : {std::pair{a, 6}, {b, 3}, {c, 8}}) {
        const int i = list.IndexOf(path);
        ASSERT_GE(i, 0);
        EXPECT_EQ(list[std::size_t(i)].value, value);
    }
    session::AutoList other;
    session::FollowUndo(other, home.mkdir("elsewhere"), undone);
    EXPECT_TRUE(other.empty()) << "another folder's list stays as it is";
}

TEST_F(UndoTest, PhotoChangedSinceIsLeftAloneAndNamed) {
    const QString a = MakePhoto("a.jpg", 1), b = MakePhoto("b.jpg", 1), c = MakePhoto("c.jpg", 1);
    const Bytes bBefore = Read(b);
    session::UndoStore store = Store();
    {
        auto command = store.Begin();
        for (const QString& path : {a, b, c})
            ASSERT_TRUE(Turn(path, RotationCode::Right, command.get()).turned());
    }
    // Same size and times, one byte different: only the contents tell.
    Bytes changed = Read(a);
    const platform::FileTimes aTimes = Times(a);
    changed[changed.size() - 3] ^= 0x01;
    WriteFile(a.toStdString(), changed);
    ASSERT_TRUE(platform::SetFileTimes(a.toStdString(), aTimes).ok());
    // Turned again by us since.
    ASSERT_TRUE(Turn(c, RotationCode::Left, nullptr).turned());
    const Bytes cNow = Read(c);

    const session::UndoResult undone = store.UndoLast();
    EXPECT_EQ(undone.changedSince(), (std::vector<QString>{c, a}));
    EXPECT_EQ(Read(a), changed);
    EXPECT_EQ(Read(c), cNow);
    EXPECT_EQ(Read(b), bBefore);
}

TEST_F(UndoTest, BoundDropsTheOldestCommands) {
    const QString a = MakePhoto("a.jpg", 1, 320, 240), b = MakePhoto("b.jpg", 1, 320, 240),
                  c = MakePhoto("c.jpg", 1, 320, 240);
    const Bytes bBefore = Read(b), cBefore = Read(c);
    // Room for two records, not three.
    const std::uint64_t size = Read(a).size();
    ASSERT_GT(size, 4000u);
    const std::uint64_t bound = 2 * size + size / 2;
    session::UndoStore store = Store(bound);
    for (const QString& path : {a, b, c}) {
        auto command = store.Begin();
        ASSERT_TRUE(Turn(path, RotationCode::Right, command.get()).turned());
        EXPECT_EQ(command->keptCount(), 1u);
    }
    const Bytes aTurned = Read(a);
    ASSERT_EQ(store.UndoLast().photos.size(), 1u);
    EXPECT_EQ(Read(c), cBefore);
    ASSERT_EQ(store.UndoLast().photos.size(), 1u);
    EXPECT_EQ(Read(b), bBefore);
    const session::UndoResult dropped = store.UndoLast();
    ASSERT_EQ(dropped.photos.size(), 1u);
    EXPECT_EQ(dropped.photos[0].status, UndoPhoto::Status::Lost) << "the oldest was dropped";
    EXPECT_EQ(dropped.photos[0].path, a);
    EXPECT_EQ(Read(a), aTurned);
    EXPECT_TRUE(store.UndoLast().nothing);

    // A command larger than the bound keeps what fits and says so for the rest.
    session::UndoStore small = Store(size + size / 2);
    auto big = small.Begin();
    ASSERT_TRUE(Turn(a, RotationCode::Right, big.get()).undo.ok());
    const session::PhotoTurnResult second = Turn(b, RotationCode::Right, big.get());
    EXPECT_TRUE(second.turned());
    EXPECT_FALSE(second.undo.ok());
}

TEST_F(UndoTest, OneCommandDropsOlderOnesOnlyAsItsOwnRecordsNeedTheRoom) {
    QStringList photos;
    for (const char* name : {"a.jpg", "b.jpg", "c.jpg", "d.jpg", "e.jpg", "f.jpg"})
        photos << MakePhoto(name, 1, 320, 240);
    const std::uint64_t largest = LargestOf(photos);
    const QString root = session::DefaultUndoFolder();
    const auto bytesKept = [&root] {
        std::uint64_t total = 0;
        QDirIterator it(root, {"*.undo"}, QDir::Files, QDirIterator::Subdirectories);
        while (it.hasNext())
            total += std::uint64_t(QFileInfo(it.next()).size());
        return total;
    };
    const auto recordsOf = [&root](int command) {
        const QDir stack(root + "/test");
        const QString name = stack.entryList(QDir::Dirs | QDir::NoDotAndDotDot).value(command);
        return QDir(stack.filePath(name)).entryList({"*.undo"}, QDir::Files).size();
    };
    // Room for three records and a half; a record is its photo and a header of under 1000 bytes.
    const std::uint64_t bound = 3 * (largest + 1000) + largest / 2;
    session::UndoStore store = Store(bound);
    {
        auto first = store.Begin();
        ASSERT_TRUE(Turn(photos[0], RotationCode::Right, first.get()).undo.ok());
        ASSERT_TRUE(Turn(photos[1], RotationCode::Right, first.get()).undo.ok());
    }
    auto second = store.Begin();
    ASSERT_TRUE(Turn(photos[2], RotationCode::Right, second.get()).undo.ok());
    EXPECT_EQ(recordsOf(0), 2) << "three records fit: the first command stays";
    ASSERT_TRUE(Turn(photos[3], RotationCode::Right, second.get()).undo.ok());
    EXPECT_EQ(recordsOf(0), 0) << "the fourth record needs the first command's room";
    EXPECT_LE(bytesKept(), bound);
    ASSERT_TRUE(Turn(photos[4], RotationCode::Right, second.get()).undo.ok());
    EXPECT_LE(bytesKept(), bound);
    const session::PhotoTurnResult sixth = Turn(photos[5], RotationCode::Right, second.get());
    EXPECT_TRUE(sixth.turned());
    EXPECT_FALSE(sixth.undo.ok()) << "its own records fill the bound";
    EXPECT_LE(bytesKept(), bound);
    EXPECT_EQ(second->keptCount(), 3u);
    second.reset();
    session::UndoResult undone = store.UndoLast();
    ASSERT_EQ(undone.photos.size(), 4u);
    EXPECT_EQ(undone.photos[3].path, photos[5]);
    EXPECT_EQ(undone.photos[3].status, UndoPhoto::Status::Lost);
    undone = store.UndoLast();
    ASSERT_EQ(undone.photos.size(), 2u) << "the first command's photos, named";
    EXPECT_EQ(undone.photos[0].status, UndoPhoto::Status::Lost);
    EXPECT_TRUE(store.UndoLast().nothing);
}

TEST_F(UndoTest, FoldersArePrivate) {
    const QString root = session::DefaultUndoFolder();
    QDir().mkpath(root);
    ASSERT_EQ(::chmod(QFile::encodeName(root).constData(), 0755), 0);
    session::UndoStore store = Store();
    auto command = store.Begin();
    ASSERT_TRUE(Turn(MakePhoto("a.jpg", 1), RotationCode::Right, command.get()).turned());
    const auto mode = [](const QString& path) {
        struct stat st {};
        EXPECT_EQ(::stat(QFile::encodeName(path).constData(), &st), 0) << path.toStdString();
        return st.st_mode & 07777;
    };
    EXPECT_EQ(root, home.qpath() + "/state/tulvex/undo");
    EXPECT_EQ(mode(root), 0700u) << "made private also when it was not";
    EXPECT_EQ(mode(root + "/test"), 0700u);
    const QStringList commands = QDir(root + "/test").entryList(QDir::Dirs | QDir::NoDotAndDotDot);
    ASSERT_EQ(commands.size(), 1);
    const QString commandFolder = root + "/test/" + commands[0];
    EXPECT_EQ(mode(commandFolder), 0700u);
    for (const QString& record : QDir(commandFolder).entryList(QDir::Files))
        EXPECT_EQ(mode(commandFolder + "/" + record) & 077, 0u);
}

TEST_F(UndoTest, KilledWriteOrDamagedRecordNeverReadsAsARecord) {
    const QString a = MakePhoto("a.jpg", 1);
    const pid_t child = ::fork();
    ASSERT_GE(child, 0);
    if (child == 0) {
        platform::ReplaceCalls dying;
        dying.beforeReplace = [] { ::_exit(9); }; // complete and flushed, not yet renamed
        session::UndoStore store = Store(session::kUndoBound, dying);
        auto command = store.Begin();
        Turn(a, RotationCode::Right, command.get());
        ::_exit(0);
    }
    int status = 0;
    ASSERT_EQ(::waitpid(child, &status, 0), child);
    ASSERT_TRUE(WIFEXITED(status) && WEXITSTATUS(status) == 9);
    const QString stack = session::DefaultUndoFolder() + "/test";
    session::UndoStore store = Store();
    EXPECT_FALSE(store.CanUndo());
    EXPECT_TRUE(
        QDir(stack).entryList(QDir::AllEntries | QDir::Hidden | QDir::NoDotAndDotDot).isEmpty())
        << "the killed write's temporary is swept";

    // A record cut short is never written over the photo.
    {
        auto command = store.Begin();
        ASSERT_TRUE(Turn(a, RotationCode::Right, command.get()).turned());
    }
    const Bytes turned = Read(a);
    const QStringList commands = QDir(stack).entryList(QDir::Dirs | QDir::NoDotAndDotDot);
    ASSERT_EQ(commands.size(), 1);
    const QString record = stack + "/" + commands[0] + "/000001.undo";
    ASSERT_TRUE(QFile::resize(record, QFileInfo(record).size() - 1));
    session::UndoResult undone = store.UndoLast();
    ASSERT_EQ(undone.photos.size(), 1u);
    EXPECT_EQ(undone.photos[0].status, UndoPhoto::Status::Failed);
    EXPECT_EQ(Read(a), turned);

    // So is one whose old bytes changed, whatever its length says.
    {
        auto command = store.Begin();
        ASSERT_TRUE(Turn(a, RotationCode::Right, command.get()).turned());
    }
    const Bytes turnedAgain = Read(a);
    const QString newest = NewestCommand(stack);
    FlipBit(newest + "/000001.undo", std::size_t(QFileInfo(newest + "/000001.undo").size()) - 5);
    undone = store.UndoLast();
    ASSERT_EQ(undone.photos.size(), 1u);
    EXPECT_EQ(undone.photos[0].status, UndoPhoto::Status::Failed);
    EXPECT_EQ(Read(a), turnedAgain);
}

// Undo sets the old times before the restored photo takes its place, under the photo's lock: a
// turn waiting for that lock then turns the restored photo.
TEST_F(UndoTest, ATurnWaitingForAnUndoGoesThrough) {
    const QString a = MakePhoto("a.jpg", 1);
    const Bytes before = Read(a);
    const platform::FileTimes old = Times(a);
    session::UndoStore store = Store();
    TurnAsOneCommand(store, {a});
    std::promise<void> turnWaits, undoDone;
    std::shared_future<void> done = undoDone.get_future().share();
    rotate::TurnCalls waiting;
    waiting.replace.lockWait.total = std::chrono::seconds(30);
    waiting.replace.lockWait.step = std::chrono::milliseconds(1);
    waiting.replace.lockWait.onBusy = [&] { turnWaits.set_value(); };
    waiting.replace.beforeReplace = [done] { done.wait(); };
    session::PhotoTurnResult turn;
    std::thread turning;
    platform::ReplaceCalls calls;
    calls.beforeReplace = [&] {
        turning = std::thread(
            [&] { turn = session::TurnOne(a, RotationCode::Left, {}, {}, nullptr, waiting); });
        turnWaits.get_future().wait();
    };
    struct timespec atClose {}; // of the restored photo, closed while the undo holds the lock
    calls.closeFile = [&atClose](int fd) {
        struct stat st {};
        if (::fstat(fd, &st) == 0) atClose = st.st_mtim;
        return ::close(fd);
    };
    const session::UndoResult undone = Store(session::kUndoBound, calls).UndoLast();
    undoDone.set_value();
    if (turning.joinable()) turning.join();
    ASSERT_EQ(undone.photos.size(), 1u);
    EXPECT_EQ(undone.photos[0].status, UndoPhoto::Status::Restored);
    EXPECT_EQ(atClose.tv_sec, old.modification.tv_sec) << "the times come before the lock goes";
    EXPECT_EQ(atClose.tv_nsec, old.modification.tv_nsec);
    EXPECT_TRUE(turn.turned()) << English(turn.result);
    EXPECT_NE(Read(a), before) << "the waiting turn applied to the restored photo";
}

TEST_F(UndoTest, PhotoBusyDuringUndoKeepsItsRecordForAnotherTry) {
    const QString a = MakePhoto("a.jpg", 1);
    const Bytes before = Read(a);
    platform::ReplaceCalls impatient;
    impatient.lockWait.total = std::chrono::milliseconds(30);
    session::UndoStore store = Store(session::kUndoBound, impatient);
    {
        auto command = store.Begin();
        ASSERT_TRUE(Turn(a, RotationCode::Right, command.get()).turned());
    }
    {
        platform::LockedPhoto held; // another Tulvex process turning it right now
        ASSERT_TRUE(platform::LockPhoto(a.toStdString(), O_RDONLY, {}, held).ok());
        const session::UndoResult busy = store.UndoLast();
        ASSERT_EQ(busy.photos.size(), 1u);
        EXPECT_EQ(busy.photos[0].status, UndoPhoto::Status::Failed);
        EXPECT_NE(Read(a), before);
    }
    ASSERT_TRUE(store.CanUndo());
    EXPECT_EQ(store.UndoLast().photos.at(0).status, UndoPhoto::Status::Restored);
    EXPECT_EQ(Read(a), before);
}

namespace {

// Every entry below `folder` with its size.
std::vector<std::string> TreeOf(const QString& folder) {
    std::vector<std::string> entries;
    QDirIterator it(folder, QDir::AllEntries | QDir::Hidden | QDir::System | QDir::NoDotAndDotDot,
                    QDirIterator::Subdirectories);
    while (it.hasNext()) {
        const QString path = it.next();
        entries.push_back(path.mid(folder.size()).toStdString() + " " +
                          std::to_string(QFileInfo(path).size()));
    }
    std::sort(entries.begin(), entries.end());
    return entries;
}

// Temporaries and records where a followed link would put them: a root, a stack, a command.
void MakeDecoys(const QString& folder) {
    const QString command = "/00000000010000000000-1";
    for (const QString& dir :
         {folder, folder + command, folder + "/test" + command, folder + "/other" + command}) {
        QDir().mkpath(dir);
        for (const char* name : {".x.tulvex-tmp-AAAAAA", "000001.undo"})
            WriteFile((dir + "/" + name).toStdString(), Bytes(5000, 7));
    }
}

} // namespace

TEST_F(UndoTest, LinkWhereAFolderOfTheStoreShouldBeIsRefusedAndNothingIsRemovedThrough) {
    const QString decoys = home.mkdir("decoys");
    MakeDecoys(decoys);
    const std::vector<std::string> before = TreeOf(decoys);
    struct Case {
        const char* linked;  // below the root
        bool refusedAtBegin; // else passed over while turning, and named at undo if the newest
        bool namedAtUndo;
    };
    const Case cases[] = {
        {"", true, true},                              // the root itself
        {"/test", true, true},                         // this store's stack
        {"/other", false, false},                      // another stack
        {"/test/99999999990000000000-1", false, true}, // the newest command
    };
    int n = 0;
    for (const Case& c : cases) {
        SCOPED_TRACE(c.linked);
        const QString root = home.qpath() + "/state" + QString::number(++n) + "/tulvex/undo";
        QDir().mkpath(QFileInfo(root + c.linked).path());
        ASSERT_EQ(::symlink(QFile::encodeName(decoys).constData(),
                            QFile::encodeName(root + c.linked).constData()),
                  0);
        const QString photo = MakePhoto(QString("p%1.jpg").arg(n), 1);
        // Room for this record only: whatever the store counted beside it would be dropped.
        session::UndoStore store(root, "test", QFileInfo(photo).size() + 1500);
        if (c.refusedAtBegin) {
            platform::Result why;
            EXPECT_FALSE(store.Begin(&why));
            EXPECT_NE(English(why).find("symbolic link"), std::string::npos) << English(why);
        } else {
            TurnAsOneCommand(store, {photo});
        }
        const session::UndoResult undone = store.UndoLast();
        if (c.namedAtUndo) {
            EXPECT_NE(English(undone.error).find("symbolic link"), std::string::npos)
                << English(undone.error);
            EXPECT_TRUE(undone.photos.empty());
        } else {
            EXPECT_TRUE(undone.error.ok()) << English(undone.error);
            ASSERT_EQ(undone.photos.size(), 1u);
            EXPECT_EQ(undone.photos[0].status, UndoPhoto::Status::Restored);
        }
        EXPECT_EQ(TreeOf(decoys), before);
    }
}

TEST_F(UndoTest, CommandStillBeingWrittenIsNeverDroppedAndDroppedPhotosAreNamedAtUndo) {
    QStringList photos;
    for (const char* name : {"a.jpg", "b.jpg", "c.jpg", "d.jpg"})
        photos << MakePhoto(name, 1, 320, 240);
    // Two records and a half; two stores on one root, as two processes would have.
    const std::uint64_t bound = 2 * (LargestOf(photos) + 1000) + LargestOf(photos) / 2;
    session::UndoStore window = Store(bound);
    session::UndoStore cli(session::DefaultUndoFolder(), "other", bound);
    auto writing = window.Begin();
    for (int i : {0, 1})
        ASSERT_TRUE(Turn(photos[i], RotationCode::Right, writing.get()).undo.ok());
    auto second = cli.Begin();
    EXPECT_FALSE(Turn(photos[2], RotationCode::Right, second.get()).undo.ok())
        << "the command being written keeps its room";
    writing.reset(); // its turns are done: its room may be taken now
    const Bytes dBefore = Read(photos[3]);
    EXPECT_TRUE(Turn(photos[3], RotationCode::Right, second.get()).undo.ok());
    second.reset();

    using Status = UndoPhoto::Status;
    session::UndoResult undone = cli.UndoLast();
    ASSERT_EQ(undone.photos.size(), 2u);
    EXPECT_EQ(undone.photos[0].status, Status::Restored);
    EXPECT_EQ(Read(photos[3]), dBefore);
    EXPECT_EQ(undone.photos[1].path, photos[2]);
    EXPECT_EQ(undone.photos[1].status, Status::Lost);
    EXPECT_NE(English(undone.photos[1].result).find("did not fit"), std::string::npos);

    undone = window.UndoLast();
    std::vector<QString> lost;
    for (const UndoPhoto& photo : undone.photos) {
        EXPECT_EQ(photo.status, Status::Lost);
        EXPECT_NE(English(photo.result).find("dropped"), std::string::npos);
        lost.push_back(photo.path);
    }
    std::sort(lost.begin(), lost.end());
    EXPECT_EQ(lost, (std::vector<QString>{photos[0], photos[1]})) << "every photo it lost";
    EXPECT_TRUE(window.UndoLast().nothing) << "told once, the command is gone";
}

TEST_F(UndoTest, RecordBeingWrittenCountsTowardsTheBoundOfAnotherStore) {
    const QString a = MakePhoto("a.jpg", 1, 320, 240), b = MakePhoto("b.jpg", 1, 320, 240);
    const std::uint64_t size = LargestOf({a, b});
    const std::uint64_t bound = size + 1000 + size / 2; // room for one record
    std::promise<void> written, goOn;
    std::shared_future<void> mayGoOn = goOn.get_future().share();
    platform::ReplaceCalls held;
    held.beforeReplace = [&written, mayGoOn] {
        written.set_value(); // complete, not yet renamed
        mayGoOn.wait();
    };
    session::UndoStore first(session::DefaultUndoFolder(), "first", bound, held);
    auto writing = first.Begin();
    std::thread turn([&] { Turn(a, RotationCode::Right, writing.get()); });
    written.get_future().wait();
    auto second = Store(bound).Begin();
    const session::PhotoTurnResult other = Turn(b, RotationCode::Right, second.get());
    goOn.set_value();
    turn.join();
    EXPECT_TRUE(other.turned());
    EXPECT_FALSE(other.undo.ok()) << "the first command's record takes the room";
    EXPECT_EQ(writing->keptCount(), 1u);
}

namespace {

// Bytes of records and temporaries below `root`, each file once, read under the store's lock so
// that no process makes room meanwhile.
std::uint64_t BytesHeld(const QString& root) {
    const platform::UniqueFd lock(
        ::open(QFile::encodeName(root + "/.lock").constData(), O_RDWR | O_CREAT | O_CLOEXEC, 0600));
    EXPECT_TRUE(lock.valid());
    EXPECT_EQ(::flock(lock.get(), LOCK_EX), 0);
    std::map<ino_t, std::uint64_t> files; // a temporary renamed while listing counts once
    QDirIterator it(root, QDir::Files | QDir::Hidden, QDirIterator::Subdirectories);
    while (it.hasNext()) {
        const QString path = it.next();
        struct stat st {};
        const QString name = QFileInfo(path).fileName();
        if (name != ".lock" && name != "lost" &&
            ::lstat(QFile::encodeName(path).constData(), &st) == 0)
            files[st.st_ino] = std::uint64_t(st.st_size);
    }
    std::uint64_t total = 0;
    for (const auto& [inode, size] : files)
        total += size;
    return total;
}

} // namespace

TEST_F(UndoTest, TwoProcessesFillingTheStoreKeepItsBoundAndDropNothingTheOtherWrites) {
    const QString photo = MakePhoto("a.jpg", 1);
    UndoCapture capture;
    capture.oldBytes.assign(20000, 0x5a);
    const std::uint64_t bound = 10 * 20500;
    const QString root = session::DefaultUndoFolder();
    // Each process keeps on past the bound; returns its command and the largest total it saw.
    const auto fill = [&](const char* stack, int go) {
        session::UndoStore store(root, stack, bound);
        auto command = store.Begin();
        char byte = 0;
        EXPECT_EQ(::read(go, &byte, 1), 1);
        std::uint64_t most = 0;
        for (int i = 0; i < 40; ++i) {
            (void)command->Keep(photo, capture);
            most = std::max(most, BytesHeld(root));
        }
        return std::make_pair(std::move(command), most);
    };
    int go[2], done[2], quit[2];
    ASSERT_EQ(::pipe(go), 0);
    ASSERT_EQ(::pipe(done), 0);
    ASSERT_EQ(::pipe(quit), 0);
    const pid_t child = ::fork();
    ASSERT_GE(child, 0);
    if (child == 0) {
        ::close(done[0]);
        ::close(quit[1]);
        auto [command, most] = fill("other", go[0]);
        const std::uint8_t report[2] = {std::uint8_t(command->keptCount()), most <= bound};
        (void)!::write(done[1], report, 2);
        char byte = 0;
        (void)!::read(quit[0], &byte, 1); // alive until the parent has counted
        ::_exit(0);
    }
    ::close(done[1]); // a child that died reads as an end, not a wait
    ::close(quit[0]);
    ASSERT_EQ(::write(go[1], "gg", 2), 2); // both start together
    auto [command, most] = fill("test", go[0]);
    std::uint8_t report[2] = {};
    ASSERT_EQ(::read(done[0], report, 2), 2);
    std::size_t records = 0;
    for (QDirIterator it(root, {"*.undo"}, QDir::Files, QDirIterator::Subdirectories); it.hasNext();
         it.next())
        ++records;
    ASSERT_EQ(::write(quit[1], "q", 1), 1);
    int status = 0;
    ASSERT_EQ(::waitpid(child, &status, 0), child);
    for (int fd : {go[0], go[1], done[0], quit[1]})
        ::close(fd);
    EXPECT_LE(most, bound);
    EXPECT_TRUE(report[1]) << "the other process saw more than the bound";
    EXPECT_EQ(command->keptCount() + report[0], 10u) << "the bound is used, and no more";
    EXPECT_EQ(records, command->keptCount() + report[0]) << "nothing either one kept was dropped";
}

TEST_F(UndoTest, DefaultBoundKeepsAGibibyteAndNoMore) {
    // Sparse records of ended commands: the bound counts their sizes, not their blocks.
    const auto fake = [](const char* command, std::uint64_t mebibytes) {
        const QString folder = Stack("other") + "/" + command;
        QDir().mkpath(folder);
        const QString record = folder + "/000001.undo";
        WriteFile(record.toStdString(), {});
        EXPECT_EQ(::truncate(QFile::encodeName(record).constData(), off_t(mebibytes << 20)), 0);
        return record;
    };
    const QString oldest = fake("00000000010000000000-1", 600);
    const QString older = fake("00000000020000000000-1", 300);
    session::UndoStore store = Store();
    TurnAsOneCommand(store, {MakePhoto("a.jpg", 1)});
    EXPECT_TRUE(QFileInfo::exists(oldest)) << "900 MiB and a photo fit in the bound";

    const QString newer = fake("00000000030000000000-1", 200);
    TurnAsOneCommand(store, {MakePhoto("b.jpg", 1)});
    EXPECT_FALSE(QFileInfo::exists(oldest)) << "1100 MiB do not fit: the oldest goes";
    EXPECT_TRUE(QFileInfo::exists(older));
    EXPECT_TRUE(QFileInfo::exists(newer));
}

// An undo of a hard-linked photo killed in its rewrite leaves the photo torn under both names and
// the complete old photo kept beside it: the next undo finishes it; until then the record stays.
TEST_F(UndoTest, KilledUndoOfALinkedPhotoIsFinishedByTheNextAndKeepsItsRecordUntilThen) {
    const QString a = MakePhoto("a.jpg", 1, 320, 240), b = folder + "/b.jpg";
    ASSERT_EQ(::link(a.toStdString().c_str(), b.toStdString().c_str()), 0);
    const Bytes before = Read(a);
    const platform::FileTimes beforeTimes = Times(a); // as the turn reads them
    session::UndoStore store = Store();
    TurnAsOneCommand(store, {a});
    const Bytes turned = Read(a);
    const std::string kept = InterruptedLinkedTurn(a.toStdString(), before);
    ASSERT_FALSE(kept.empty());
    WriteFile(a.toStdString(), TornRewrite(turned, before));
    using Leftover = platform::LeftoverResult::Status;

    platform::ReplaceCalls full;
    full.reserve = [](int, off_t) {
        errno = ENOSPC;
        return -1;
    };
    session::UndoResult undone = Store(session::kUndoBound, full).UndoLast();
    ASSERT_EQ(undone.photos.size(), 1u);
    EXPECT_EQ(undone.photos[0].status, UndoPhoto::Status::Failed);
    EXPECT_NE(English(undone.photos[0].result).find(kept), std::string::npos)
        << English(undone.photos[0].result);
    ASSERT_EQ(undone.leftovers.size(), 1u);
    EXPECT_EQ(undone.leftovers[0].status, Leftover::Failed);
    EXPECT_TRUE(store.CanUndo()) << "a torn photo keeps its record";

    undone = store.UndoLast();
    ASSERT_EQ(undone.photos.size(), 1u);
    EXPECT_EQ(undone.photos[0].status, UndoPhoto::Status::Restored);
    ASSERT_EQ(undone.leftovers.size(), 1u);
    EXPECT_EQ(undone.leftovers[0].status, Leftover::Finished);
    ExpectSameTimes(Times(b), beforeTimes); // before a read of ours moves the access time
    EXPECT_EQ(Read(a), before);
    EXPECT_EQ(Read(b), before);
    EXPECT_FALSE(QFile::exists(QString::fromStdString(kept)));
    EXPECT_FALSE(store.CanUndo());

    // Killed after the photo was restored, before its record was removed.
    TurnAsOneCommand(store, {a});
    const QString record = NewestCommand(Stack()) + "/000001.undo";
    const Bytes recordBytes = ReadFile(record.toStdString());
    ASSERT_EQ(store.UndoLast().photos.at(0).status, UndoPhoto::Status::Restored);
    ASSERT_TRUE(QDir().mkpath(QFileInfo(record).path()));
    WriteFile(record.toStdString(), recordBytes);
    undone = store.UndoLast();
    ASSERT_EQ(undone.photos.size(), 1u);
    EXPECT_EQ(undone.photos[0].status, UndoPhoto::Status::Restored);
    EXPECT_EQ(Read(b), before);
    EXPECT_FALSE(store.CanUndo());
}

TEST_F(UndoTest, PhotoThatBecameAFolderOrAFifoIsChangedSinceAndHoldsNoOlderCommandBack) {
    const QString a = MakePhoto("a.jpg", 1), b = MakePhoto("b.jpg", 1), d = MakePhoto("d.jpg", 1);
    session::UndoStore store = Store();
    TurnAsOneCommand(store, {d});
    TurnAsOneCommand(store, {a, b});
    ASSERT_TRUE(QFile::remove(a));
    ASSERT_TRUE(QDir().mkdir(a));
    ASSERT_TRUE(QFile::remove(b));
    ASSERT_EQ(::mkfifo(b.toStdString().c_str(), 0600), 0);

    EXPECT_EQ(store.UndoLast().changedSince(), (std::vector<QString>{b, a}));
    EXPECT_TRUE(QFileInfo(a).isDir());
    const session::UndoResult undone = store.UndoLast();
    ASSERT_EQ(undone.photos.size(), 1u);
    EXPECT_EQ(undone.photos[0].status, UndoPhoto::Status::Restored);
}

TEST_F(UndoTest, NewestRecordThatIsALinkAFifoOrAFolderIsToldOfInsteadOfUndoingAnOlderCommand) {
    const QString a = MakePhoto("a.jpg", 1), b = MakePhoto("b.jpg", 1), c = MakePhoto("c.jpg", 1);
    session::UndoStore store = Store();
    QStringList commands;
    for (const QString& photo : {a, b, c}) {
        TurnAsOneCommand(store, {photo});
        commands << NewestCommand(Stack());
    }
    const Bytes bTurned = Read(b), cTurned = Read(c);
    // c's record moved out and linked back: following the link would restore c.
    const QString moved = home.qpath() + "/elsewhere.undo";
    ASSERT_TRUE(QFile::rename(commands[2] + "/000001.undo", moved));
    ASSERT_TRUE(QFile::link(moved, commands[2] + "/000001.undo"));
    ASSERT_EQ(::mkfifo((commands[2] + "/000002.undo").toStdString().c_str(), 0600), 0);
    ASSERT_TRUE(QFile::rename(commands[1] + "/000001.undo", home.qpath() + "/b.undo"));
    ASSERT_TRUE(QDir().mkdir(commands[1] + "/000001.undo"));

    session::UndoResult undone = store.UndoLast();
    ASSERT_EQ(undone.photos.size(), 2u);
    for (const UndoPhoto& photo : undone.photos) {
        EXPECT_EQ(photo.status, UndoPhoto::Status::Failed);
        EXPECT_TRUE(photo.path.isEmpty());
        EXPECT_TRUE(photo.record.startsWith(commands[2])) << photo.record.toStdString();
    }
    EXPECT_EQ(Read(c), cTurned) << "never through the link";
    EXPECT_EQ(Read(b), bTurned) << "nor the older command";
    EXPECT_TRUE(QFileInfo(moved).isFile()) << "what the link named is left";
    EXPECT_FALSE(QFileInfo::exists(commands[2]));

    undone = store.UndoLast();
    ASSERT_EQ(undone.photos.size(), 1u);
    EXPECT_EQ(undone.photos[0].record, commands[1] + "/000001.undo");
    EXPECT_NE(English(undone.photos[0].result).find("folder"), std::string::npos);
    EXPECT_EQ(Read(b), bTurned);
    EXPECT_EQ(QDir(Stack()).entryList(QDir::AllDirs | QDir::Hidden | QDir::NoDotAndDotDot).size(),
              2)
        << "the folder is left, set aside with its command";

    EXPECT_EQ(store.UndoLast().photos.at(0).status, UndoPhoto::Status::Restored);
    EXPECT_TRUE(store.UndoLast().nothing);
}

// A record refused is named by its photo where its header tells, and by its file otherwise; the
// rest of the command is undone all the same.
TEST_F(UndoTest, RecordMovedFromAnotherCommandOrDamagedIsRefusedAndNamed) {
    QStringList photos;
    for (const char* name : {"a.jpg", "b.jpg", "c.jpg", "d.jpg", "e.jpg"})
        photos << MakePhoto(name, 1);
    const QString &a = photos[0], &c = photos[2], &d = photos[3];
    session::UndoStore store = Store();
    session::UndoStore other(session::DefaultUndoFolder(), "other");
    TurnAsOneCommand(store, {a});
    const QString older = NewestCommand(Stack());
    TurnAsOneCommand(other, {c});
    TurnAsOneCommand(store, {photos[1], d, photos[4]});
    const QString newest = NewestCommand(Stack());
    const Bytes aTurned = Read(a), cTurned = Read(c);
    const auto record = [&newest](int n) { return newest + QString("/00000%1.undo").arg(n); };
    ASSERT_TRUE(QFile::rename(older + "/000001.undo", record(4)));
    ASSERT_TRUE(QFile::rename(NewestCommand(Stack("other")) + "/000001.undo", record(5)));
    FlipBit(record(2), std::size_t(QFileInfo(record(2)).size()) - 5); // d's old bytes
    FlipBit(record(3), 12);                                           // e's path

    const session::UndoResult undone = store.UndoLast();
    ASSERT_EQ(undone.photos.size(), 5u);
    const std::vector<QString> refused = {c, a, {}, d};
    for (std::size_t i = 0; i < refused.size(); ++i) {
        const UndoPhoto& photo = undone.photos[i];
        EXPECT_EQ(photo.status, UndoPhoto::Status::Failed);
        EXPECT_EQ(photo.path, refused[i]) << i;
        EXPECT_FALSE(QFileInfo::exists(photo.record));
        if (i < 2)
            EXPECT_NE(English(photo.result).find("another command"), std::string::npos)
                << English(photo.result);
    }
    EXPECT_EQ(undone.photos[2].record, record(3));
    EXPECT_EQ(undone.photos[4].status, UndoPhoto::Status::Restored);
    EXPECT_EQ(Read(a), aTurned);
    EXPECT_EQ(Read(c), cTurned);
    EXPECT_FALSE(store.CanUndo());
}
