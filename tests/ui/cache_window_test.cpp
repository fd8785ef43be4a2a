// SPDX-License-Identifier: GPL-3.0-or-later
#include "thumbs/thumbnail_cache.h"
#include "ui/support/window_fixture.h"

#include <QAction>

#include <unistd.h>

#include <sys/stat.h>

using namespace testing_support;

namespace {

// The factory's gradients: dark red and bright green at the bottom left of the stored picture.
bool Upright(const QImage& thumbnail) {
    const QColor c = thumbnail.pixelColor(2, thumbnail.height() - 3);
    return c.red() < 100 && c.green() > 150;
}

struct stat StatOf(const QString& path) {
    struct stat st {};
    ::stat(path.toStdString().c_str(), &st);
    return st;
}

} // namespace

TEST_F(WindowTest, ATurnedPhotoNeverShowsItsOldPicture) {
    const QStringList made = MakePhotos(photos.qpath(), {1, 1}, 256, 192);
    TempDir elsewhere;
    ASSERT_EQ(::link(made[0].toStdString().c_str(), elsewhere.file("linked.jpg").c_str()), 0);
    Start(photos.qpath());
    ASSERT_TRUE(window->thumbnailCache());
    ASSERT_EQ(window->thumbList().size(), 2u);
    ASSERT_TRUE(Upright(window->thumbList()[0].thumbnail));
    window->thumbnailCache()->Flush(); // the masters the load left for idle cores

    // Half a turn of a hard-linked photo with its times kept: rewritten in place, same inode,
    // same modification time.
    const struct stat before = StatOf(made[0]);
    Action("pmiKeepTimestamp")->setChecked(true);
    Grid()->setFocus();
    QTest::keyClick(Grid(), Qt::Key_H);
    const struct stat after = StatOf(made[0]);
    ASSERT_EQ(after.st_ino, before.st_ino);
    ASSERT_EQ(after.st_mtim.tv_nsec, before.st_mtim.tv_nsec);
    EXPECT_FALSE(Upright(window->thumbList()[0].thumbnail));

    Action("pmiRefresh")->trigger(); // a reload, from the cache
    ASSERT_EQ(window->thumbList().size(), 2u);
    EXPECT_FALSE(Upright(window->thumbList()[0].thumbnail));
    EXPECT_TRUE(Upright(window->thumbList()[1].thumbnail));
    const auto counts = window->thumbnailCache()->counts();
    EXPECT_GE(counts.memoryHits, 2)
        << "the turned photo's new master was put in the cache by the refresh";

    // The next run: a new window, its cache fresh from the disk.
    window.reset();
    Start(photos.qpath());
    ASSERT_EQ(window->thumbList().size(), 2u);
    EXPECT_FALSE(Upright(window->thumbList()[0].thumbnail));
}

TEST_F(WindowTest, AReloadAtAnotherCellSizeComesFromTheCacheAndNeverMixesLoads) {
    const QStringList made =
        MakePhotos(photos.qpath(), {1, 6, 1, 8, 1, 3, 1, 1, 1, 6, 1, 1}, 320, 240);
    Start(photos.qpath());
    ASSERT_EQ(GridPaths(), made);
    const int firstWidth = Grid()->DefaultColWidth();
    window->thumbnailCache()->Flush();
    const int missesAfterFirstLoad = window->thumbnailCache()->counts().misses;

    // A resize in the middle of a reload: the reload is superseded by one at the new size.
    bool resized = false;
    WhenIdle([&] {
        if (window->thumbList().size() < 3) return false;
        window->resize(1100, 700);
        window->FormResize(window.get());
        resized = true;
        return true;
    });
    Action("pmiRefresh")->trigger();
    ASSERT_TRUE(resized);
    const int w = Grid()->DefaultColWidth();
    ASSERT_NE(w, firstWidth);
    EXPECT_EQ(GridPaths(), made) << "each photo once, in order";
    for (const ThumbEntry& e : window->thumbList())
        EXPECT_EQ(e.thumbnail.width(), w - 10) << e.path.toStdString();
    ASSERT_EQ(window->autoList().size(), 4u);
    EXPECT_EQ(window->thumbnailCache()->counts().misses, missesAfterFirstLoad)
        << "nothing decoded again";
    EXPECT_EQ(StatusText(1), "12 file(s)");
}
