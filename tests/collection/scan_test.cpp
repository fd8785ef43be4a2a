// SPDX-License-Identifier: GPL-3.0-or-later
#include "collection/scan.h"
#include "support/temp_dir.h"

#include <QFile>

#include <unistd.h>

#include <gtest/gtest.h>

using namespace collection;

namespace {

void Touch(const QString& path) {
    QFile f(path);
    f.open(QIODevice::WriteOnly);
}

QStringList Sorted(QStringList paths, const QString& prefix) {
    std::sort(paths.begin(), paths.end(), PathLess);
    for (QString& p : paths)
        p.remove(0, prefix.size() + 1);
    return paths;
}

} // namespace

TEST(Scan, ExtensionRule) {
    for (const char* yes : {"a.JPG", "b.jpeg", "c.Jpg", ".jpg", "x.y.JpEg"})
        EXPECT_TRUE(HasJpegExtension(yes)) << yes;
    for (const char* no : {"d.jpe", "e.jfif", "f.jpg.bak", "g", "jpg", "h.jpgx"})
        EXPECT_FALSE(HasJpegExtension(no)) << no;
}

TEST(Scan, HiddenFilesSubfoldersAndSortOrder) {
    testing_support::TempDir dir;
    const QString root = dir.qpath();
    for (const char* name : {"z.jpg", "a.JPG", ".hidden.jpg", "d.jpe", "notes.txt"})
        Touch(root + "/" + name);
    dir.mkdir("Sub/Deeper");
    Touch(root + "/Sub/b.jpeg");
    Touch(root + "/Sub/Deeper/c.jpg");
    dir.mkdir("Holiday.jpg"); // a folder named like a photo is listed like a file

    QStringList flat;
    ScanFolder(root, false, flat);
    EXPECT_EQ(Sorted(flat, root), QStringList({".hidden.jpg", "a.JPG", "Holiday.jpg", "z.jpg"}));

    QStringList deep;
    ScanFolder(root, true, deep);
    EXPECT_EQ(Sorted(deep, root), QStringList({".hidden.jpg", "a.JPG", "Holiday.jpg", "Sub/b.jpeg",
                                               "Sub/Deeper/c.jpg", "z.jpg"}));

    // A link back up the tree is not walked round and round.
    ASSERT_EQ(::symlink(root.toUtf8().constData(), (root + "/Sub/loop").toUtf8().constData()), 0);
    QStringList looped;
    ScanFolder(root, true, looped);
    EXPECT_EQ(looped.size(), deep.size());

    QStringList none;
    ScanFolder(root + "/does-not-exist", true, none);
    EXPECT_TRUE(none.isEmpty());
}

TEST(Scan, PathsAndComparison) {
    EXPECT_EQ(WithoutTrailingDelimiter("/photos/"), "/photos");
    EXPECT_EQ(WithoutTrailingDelimiter("/"), "/");
    EXPECT_FALSE(SamePath("/P/Photos", "/p/photos"));
    EXPECT_TRUE(SamePath("/P/Photos", "/P/Photos"));
    EXPECT_TRUE(PathLess("/P/a.jpg", "/P/Sub/b.jpg"));
    EXPECT_TRUE(PathLess("/P/Sub/b.jpg", "/P/z.jpg"));
    // Names equal but for case keep one order whichever comes first, and stay next to each
    // other between their case-insensitive neighbours.
    EXPECT_NE(PathLess("/P/a.jpg", "/P/A.jpg"), PathLess("/P/A.jpg", "/P/a.jpg"));
    EXPECT_FALSE(PathLess("/P/a.jpg", "/P/a.jpg"));
    QStringList mixed{"/P/b.jpg", "/P/a.jpg", "/P/B.jpg", "/P/A.jpg", "/P/c.jpg"};
    std::sort(mixed.begin(), mixed.end(), PathLess);
    EXPECT_EQ(mixed, (QStringList{"/P/A.jpg", "/P/a.jpg", "/P/B.jpg", "/P/b.jpg", "/P/c.jpg"}));
    EXPECT_EQ(FileNameOf("/a/b/IMG_0042.JPG"), "IMG_0042.JPG");
}
