// SPDX-License-Identifier: GPL-3.0-or-later
#include "session/loaded_folder.h"
#include "support/jpeg_factory.h"
#include "support/temp_dir.h"

#include <cstdio>
#include <gtest/gtest.h>

using session::LeftoverNews;
using namespace testing_support;

TEST(LoadedFolder, ALoadStartsEmptyAndEndsInPathOrder) {
    session::LoadedFolder loaded;
    loaded.thumbs.push_back({"/old/x.jpg", {}});
    loaded.autoList.push_back({"/old/x.jpg", 6});
    loaded.Begin("/photos/");
    EXPECT_EQ(loaded.folder, "/photos");
    EXPECT_TRUE(loaded.thumbs.empty());
    EXPECT_TRUE(loaded.autoList.empty());

    for (const char* name : {"/photos/c.jpg", "/photos/B.jpg", "/photos/a.jpg"}) {
        loaded.thumbs.push_back({name, {}});
        loaded.autoList.push_back({name, 8});
    }
    loaded.SortLists();
    QStringList thumbs, autos;
    for (const auto& entry : loaded.thumbs)
        thumbs << entry.path;
    for (const auto& entry : loaded.autoList)
        autos << entry.path;
    const QStringList expected{"/photos/a.jpg", "/photos/B.jpg", "/photos/c.jpg"};
    EXPECT_EQ(thumbs, expected) << "case does not decide the order";
    EXPECT_EQ(autos, expected);
}

TEST(LoadedFolder, MadeThumbnailsAreListedAndThoseStoredTurnedNoted) {
    using Kind = platform::Result::Kind;
    session::LoadedFolder loaded;
    loaded.Begin("/photos");
    const QImage image(4, 3, QImage::Format_RGB32);
    EXPECT_TRUE(loaded.Add("/photos/up.jpg", {image, 1, {}}).ok());
    EXPECT_TRUE(loaded.Add("/photos/left.jpg", {image, 8, {}}).ok());
    EXPECT_EQ(loaded.Add("/photos/gone.jpg", {{}, 6}).kind(), Kind::NotFound);
    EXPECT_EQ(loaded.Add("/photos/bad.jpg", {{}, 6, thumbs::Undecodable()}).kind(), Kind::Damaged);
    ASSERT_EQ(loaded.thumbs.size(), 2u);
    EXPECT_EQ(loaded.thumbs[0].path, "/photos/up.jpg");
    EXPECT_EQ(loaded.thumbs[1].path, "/photos/left.jpg");
    EXPECT_EQ(loaded.thumbs[1].thumbnail.size(), QSize(4, 3));
    ASSERT_EQ(loaded.autoList.size(), 1u);
    EXPECT_EQ(loaded.autoList[0].path, "/photos/left.jpg");
    EXPECT_EQ(loaded.autoList[0].value, 8);
}

TEST(LoadedFolder, AForeignLeftoverIsToldOncePerRunAndAgainWhenReplaced) {
    TempDir dir;
    WriteFile(dir.file("a.jpg"), MakeJpeg(16, 16, Subsampling::S444));
    const std::string junk = dir.file(".notes.txt.tulvex-keep-ABCDEF");
    WriteFile(junk, {'j', 'u', 'n', 'k'});
    const session::FolderScan scan = session::ScanForLoad(dir.qpath(), false);
    EXPECT_EQ(scan.photos, QStringList{dir.qfile("a.jpg")});
    ASSERT_EQ(scan.leftovers, QStringList{QString::fromStdString(junk)});

    session::LeftoverResolver resolver;
    const LeftoverNews first = resolver.Resolve(scan.leftovers[0]);
    EXPECT_EQ(first.kind, LeftoverNews::Kind::Foreign);
    EXPECT_EQ(first.leftover, scan.leftovers[0]);
    EXPECT_EQ(resolver.Resolve(scan.leftovers[0]).kind, LeftoverNews::Kind::None)
        << "the folder loaded again";
    EXPECT_EQ(ReadFile(junk), (Bytes{'j', 'u', 'n', 'k'})) << "left as it is";

    // Another file under that name is news.
    WriteFile(junk + ".new", {'j', 'u', 'n', 'k', '2'});
    ASSERT_EQ(std::rename((junk + ".new").c_str(), junk.c_str()), 0);
    EXPECT_EQ(resolver.Resolve(scan.leftovers[0]).kind, LeftoverNews::Kind::Foreign);
    EXPECT_EQ(session::LeftoverResolver().Resolve(scan.leftovers[0]).kind,
              LeftoverNews::Kind::Foreign)
        << "a new run remembers nothing";
}
