// SPDX-License-Identifier: GPL-3.0-or-later
// The folder load without a window: the lists it fills, cancel, a newer load that supersedes it,
// and the leftovers of killed turns.
#include "session/folder_load.h"
#include "support/jpeg_factory.h"
#include "support/kept_copy.h"
#include "support/temp_dir.h"

#include <QFile>

#include <unistd.h>

#include <gtest/gtest.h>
#include <map>

using namespace testing_support;
using End = session::LoadResult::End;

namespace {

class FolderLoadTest : public ::testing::Test {
protected:
    TempDir photos;
    session::LoadedFolder loaded;
    session::LeftoverResolver leftovers;
    session::LoadGeneration generation;
    session::LoadOptions options{false, {64, 84, false, true}};

    // Photos named img00.jpg ... with the given orientations (0: none).
    static QStringList MakePhotos(const QString& folder, const std::vector<int>& orientations) {
        QStringList paths;
        for (std::size_t i = 0; i < orientations.size(); ++i) {
            ExifSpec spec;
            spec.orientation = orientations[i];
            const QString path = folder + QStringLiteral("/img%1.jpg").arg(i, 2, 10, QChar(u'0'));
            WriteFile(path.toStdString(), MakeJpegWithExif(64, 48, spec));
            paths << path;
        }
        return paths;
    }
    session::LoadResult Load(const QString& folder, const session::LoadCalls& calls = {}) {
        return session::LoadFolder(loaded, folder, options, leftovers, generation.Begin(), calls);
    }
    QStringList ListedPaths() const {
        QStringList paths;
        for (const session::ThumbEntry& entry : loaded.thumbs)
            paths << entry.path;
        return paths;
    }
};

} // namespace

TEST_F(FolderLoadTest, ListsThePhotosSortedAndTellsEachOutcome) {
    const QStringList made = MakePhotos(photos.qpath(), {1, 6, 1, 3, 8, 2, 1});
    WriteFile(photos.file("notes.jpg"), Bytes{'t', 'e', 'x', 't'});
    photos.mkdir("Holiday.jpg");
    loaded.thumbs.push_back({"/old/x.jpg", {}});
    QString begunWith;
    qsizetype scanned = -1;
    int waits = 0;
    std::vector<session::LoadedPhoto> taken;
    session::LoadCalls calls;
    calls.begun = [&] { begunWith = loaded.folder; };
    calls.scanned = [&](qsizetype count) { scanned = count; };
    calls.wait = [&](QFuture<thumbs::Thumbnail> made) {
        made.waitForFinished();
        ++waits;
    };
    calls.taken = [&](const session::LoadedPhoto& photo) { taken.push_back(photo); };

    const session::LoadResult result = Load(photos.qpath() + "/", calls);
    EXPECT_EQ(result.end, End::Complete);
    EXPECT_EQ(begunWith, photos.qpath()) << "without its trailing delimiter";
    EXPECT_EQ(ListedPaths(), made) << "the old list is gone; the new one in path order";
    ASSERT_EQ(loaded.autoList.size(), 3u) << "orientations 3, 6, 8; never the mirrored 2";
    EXPECT_EQ(loaded.autoList[0].value, 6);
    EXPECT_EQ(loaded.autoList[1].value, 3);
    EXPECT_EQ(loaded.autoList[2].value, 8);

    EXPECT_EQ(scanned, 9) << "everything named like a photo";
    EXPECT_EQ(waits, 9);
    ASSERT_EQ(result.photos.size(), 9u);
    ASSERT_EQ(taken.size(), 9u);
    std::map<QString, platform::Result> thumbnailOf;
    for (std::size_t i = 0; i < taken.size(); ++i) {
        EXPECT_EQ(taken[i].path, result.photos[i].path);
        thumbnailOf[taken[i].path.mid(photos.qpath().size() + 1)] = taken[i].thumbnail;
    }
    EXPECT_TRUE(thumbs::IsUnreadable(thumbnailOf.at("notes.jpg")));
    EXPECT_FALSE(thumbnailOf.at("Holiday.jpg").ok());
    EXPECT_TRUE(thumbnailOf.at("img05.jpg").ok());
}

TEST_F(FolderLoadTest, SubfoldersOnAndOff) {
    MakePhotos(photos.qpath(), {1, 1});
    MakePhotos(photos.mkdir("Sub"), {1, 1, 1});
    Load(photos.qpath());
    EXPECT_EQ(loaded.thumbs.size(), 2u);
    options.subfolders = true;
    Load(photos.qpath());
    ASSERT_EQ(loaded.thumbs.size(), 5u);
    EXPECT_TRUE(loaded.thumbs[2].path.contains("/Sub/"));
    options.subfolders = false;
    Load(photos.qpath());
    EXPECT_EQ(loaded.thumbs.size(), 2u);
}

TEST_F(FolderLoadTest, CancelKeepsThePhotosTakenSoFarInOrder) {
    MakePhotos(photos.qpath(), std::vector<int>(12, 1));
    session::LoadCalls calls;
    calls.cancelled = [this] { return loaded.thumbs.size() >= 5; };
    const session::LoadResult result = Load(photos.qpath(), calls);
    EXPECT_EQ(result.end, End::Cancelled);
    EXPECT_EQ(result.photos.size(), 5u);
    ASSERT_EQ(loaded.thumbs.size(), 5u);
    for (std::size_t i = 1; i < loaded.thumbs.size(); ++i)
        EXPECT_LT(loaded.thumbs[i - 1].path, loaded.thumbs[i].path) << "sorted also when cancelled";
}

// A newer load may begin inside any call that handles events; from then on the older one
// leaves the lists alone.
TEST_F(FolderLoadTest, ANewerLoadSupersedesAndTheOlderNeverTouchesItsLists) {
    MakePhotos(photos.qpath(), std::vector<int>(10, 6));
    const QString other = photos.mkdir("other");
    const QStringList otherPhotos = MakePhotos(other, {1, 8, 1});
    const auto newerLoad = [&] {
        const session::LoadResult newer = Load(other);
        EXPECT_EQ(newer.end, End::Complete);
    };
    const auto expectTheNewerLists = [&](const char* where) {
        EXPECT_EQ(ListedPaths(), otherPhotos) << where;
        ASSERT_EQ(loaded.autoList.size(), 1u) << where;
        EXPECT_EQ(loaded.autoList[0].path, otherPhotos[1]) << where;
        EXPECT_EQ(loaded.folder, other) << where;
    };

    session::LoadCalls beforePhoto;
    bool newerBegun = false;
    beforePhoto.cancelled = [&] {
        if (loaded.folder == photos.qpath() && loaded.thumbs.size() == 3) {
            newerLoad();
            newerBegun = true;
        }
        return false;
    };
    beforePhoto.wait = [&](const QFuture<thumbs::Thumbnail>&) {
        EXPECT_FALSE(newerBegun) << "no photo of a superseded load is waited for";
    };
    EXPECT_EQ(Load(photos.qpath(), beforePhoto).end, End::Superseded);
    expectTheNewerLists("before a photo");

    session::LoadCalls whileWaiting;
    int waits = 0;
    whileWaiting.wait = [&](const QFuture<thumbs::Thumbnail>&) {
        if (++waits == 4) newerLoad();
    };
    EXPECT_EQ(Load(photos.qpath(), whileWaiting).end, End::Superseded);
    expectTheNewerLists("while its photo was made");

    session::LoadCalls whileTelling;
    whileTelling.scanned = [&](qsizetype) {
        if (loaded.folder == photos.qpath()) newerLoad();
    };
    EXPECT_EQ(Load(photos.qpath(), whileTelling).end, End::Superseded);
    expectTheNewerLists("before its first photo");
}

TEST_F(FolderLoadTest, ClosingStopsALoadBeforeItsNextPhoto) {
    MakePhotos(photos.qpath(), std::vector<int>(8, 1));
    session::LoadCalls calls;
    calls.taken = [&](const session::LoadedPhoto&) {
        if (loaded.thumbs.size() == 3) generation.SupersedeAll();
    };
    const session::LoadResult result = Load(photos.qpath(), calls);
    EXPECT_EQ(result.end, End::Superseded);
    EXPECT_EQ(result.photos.size(), 3u);
    EXPECT_EQ(loaded.thumbs.size(), 3u);

    const session::LoadGeneration::Stamp watched = generation.Watch();
    EXPECT_FALSE(watched.Superseded());
    generation.Begin();
    EXPECT_TRUE(watched.Superseded()) << "a pass watching the loads ends when one begins";
}

TEST_F(FolderLoadTest, LeftoversAreFinishedOrToldOnce) {
    const QStringList made = MakePhotos(photos.qpath(), {6, 1});
    const std::string photo = made[0].toStdString(), other = photos.file("second-name.jpg");
    ASSERT_EQ(::link(photo.c_str(), other.c_str()), 0);
    const InterruptedTurn left = InterruptLinkedTurn(photo, rotate::QuarterTurns::One);
    ASSERT_FALSE(left.kept.empty());
    const std::string junk = photos.file(".notes.txt.tulvex-keep-ABCDEF");
    WriteFile(junk, {'j', 'u', 'n', 'k'});

    std::vector<session::LeftoverNews> told;
    session::LoadCalls calls;
    calls.leftover = [&](const session::LeftoverNews& news) {
        if (news.kind != session::LeftoverNews::Kind::None) told.push_back(news);
    };
    Load(photos.qpath(), calls);
    EXPECT_EQ(ReadFile(other), left.complete) << "both names hold the complete photo again";
    EXPECT_FALSE(QFile::exists(QString::fromStdString(left.kept)));
    EXPECT_EQ(ReadFile(junk), (Bytes{'j', 'u', 'n', 'k'})) << "not ours: left";
    ASSERT_EQ(told.size(), 2u);
    int finished = 0, foreign = 0;
    for (const session::LeftoverNews& news : told) {
        finished += news.kind == session::LeftoverNews::Kind::Finished && news.target == made[0];
        foreign += news.kind == session::LeftoverNews::Kind::Foreign &&
                   news.leftover == QString::fromStdString(junk);
    }
    EXPECT_EQ(finished, 1);
    EXPECT_EQ(foreign, 1);
    EXPECT_EQ(loaded.thumbs.size(), 3u) << "the finished photo is listed under both names";

    told.clear();
    Load(photos.qpath(), calls);
    EXPECT_TRUE(told.empty()) << "told once, not at every load";
}
