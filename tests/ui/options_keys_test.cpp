// SPDX-License-Identifier: GPL-3.0-or-later
// Options take effect when chosen, and the keys a desktop user tries do what they say.
#include "thumbs/thumbnail_cache.h"
#include "ui/support/window_fixture.h"

#include <QAction>
#include <QMenu>

using namespace testing_support;

TEST_F(WindowTest, ChoosingAQualityReloadsTheThumbnailsFromTheCache) {
    MakePhotos(photos.qpath(), {1, 1, 1, 1}, 320, 240);
    Start(photos.qpath());
    ASSERT_TRUE(Action("pmiHiQuality")->isChecked());
    const QImage fine = window->thumbList()[0].thumbnail;
    window->thumbnailCache()->Flush();
    const int misses = window->thumbnailCache()->counts().misses;
    const int loads = window->loadCount();

    Action("pmiLowQuality")->trigger();
    EXPECT_EQ(window->loadCount(), loads + 1);
    ASSERT_EQ(window->thumbList().size(), 4u);
    const QImage low = window->thumbList()[0].thumbnail;
    EXPECT_NE(low, fine) << "made anew at the lower quality";
    EXPECT_EQ(window->thumbnailCache()->counts().misses, misses) << "scaled from the cache";

    Action("pmiHiQuality")->trigger();
    EXPECT_EQ(window->loadCount(), loads + 2);
    EXPECT_NE(window->thumbList()[0].thumbnail, low);
}

TEST_F(WindowTest, F5RefreshesAndTheOptionsMenuShowsIt) {
    MakePhotos(photos.qpath(), {1, 1});
    Start(photos.qpath());
    const int loads = window->loadCount();
    Grid()->setFocus();
    QTest::keyClick(Grid(), Qt::Key_F5);
    EXPECT_EQ(window->loadCount(), loads + 1);
    window->activateWindow(); // the progress window of the load had the focus
    ASSERT_TRUE(QTest::qWaitForWindowActive(window.get()));
    PathBox()->setFocus();
    QTest::keyClick(PathBox(), Qt::Key_F5);
    EXPECT_EQ(window->loadCount(), loads + 2) << "also while typing a path";

    Control<QMenu>(QStringLiteral("pmOptions"))->aboutToShow();
    EXPECT_TRUE(Action("pmiRefresh")->text().endsWith(QStringLiteral("\tF5")))
        << Action("pmiRefresh")->text().toStdString();
    Control<QMenu>(QStringLiteral("pmOptions"))->aboutToShow();
    EXPECT_EQ(Action("pmiRefresh")->text().count(u'\t'), 1) << "shown once, however often";
}
