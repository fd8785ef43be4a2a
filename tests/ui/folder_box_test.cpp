// SPDX-License-Identifier: GPL-3.0-or-later
#include "ui/support/window_fixture.h"

#include <QAction>
#include <QDir>
#include <QLineEdit>
#include <QMenu>

using namespace testing_support;

namespace {

QString MissingFolderText(const QString& path) {
    return "Cannot open \"" + path + "\". The file or folder has been moved or deleted.";
}

// The window shows what the path box names, and a refused folder is neither shown nor kept.
class FolderBoxTest : public WindowTest {
protected:
    // Closes the window (which writes the settings) and reads the folder it kept.
    QString SavedLastFolder() {
        window.reset();
        session::SettingsStore store;
        store.load(session::SettingsStore::DefaultPath());
        return store.readString("LastFolder", QStringLiteral("(none)"));
    }

    void PressEnterIn(const QString& typed) {
        window->activateWindow();
        PathBox()->setFocus();
        PathBox()->setText(typed);
        QTest::keyClick(PathBox(), Qt::Key_Return);
    }
};

} // namespace

TEST_F(FolderBoxTest, RefreshOnAFolderRenamedAwayTellsAndShowsNoneOfItsPhotos) {
    const QString shown = photos.mkdir("trip");
    MakePhotos(shown, {1, 1, 1});
    Start(shown);
    ASSERT_EQ(window->thumbList().size(), 3u);
    ASSERT_TRUE(QDir(photos.qpath()).rename("trip", "trip 2019"));

    Action("pmiRefresh")->trigger();
    ASSERT_FALSE(shell.shown.empty()) << "the user is told";
    EXPECT_EQ(shell.shown.back().text, MissingFolderText(shown));
    EXPECT_TRUE(window->thumbList().empty()) << "the old photos are not shown as if there";
    EXPECT_EQ(Grid()->ItemCount(), 0);
    EXPECT_EQ(PathBox()->text(), window->folder()) << "the box names what is shown";
    EXPECT_TRUE(window->folder().isEmpty());
    EXPECT_FALSE(Action("ActionRotateLeft")->isEnabled());

    // Loading again from the box works as before.
    const QString renamed = photos.qfile("trip 2019");
    PressEnterIn(renamed);
    WaitForLoads(2);
    EXPECT_EQ(window->folder(), renamed);
    EXPECT_EQ(window->thumbList().size(), 3u);
}

TEST_F(FolderBoxTest, AFolderGoneBeforeRefreshIsNotKeptAsTheLastFolder) {
    const QString shown = photos.mkdir("gone");
    MakePhotos(shown, {1});
    Start(shown);
    ASSERT_TRUE(QDir(shown).removeRecursively());
    Action("pmiRefresh")->trigger();
    EXPECT_EQ(SavedLastFolder(), QString());
}

TEST_F(FolderBoxTest, EnterOnAMissingPathTellsWhyAndPutsTheShownFolderBack) {
    MakePhotos(photos.qpath(), {1, 1});
    Start(photos.qpath());
    const int loads = window->loadCount();
    const QString nowhere = photos.qfile("nowhere");

    PressEnterIn(nowhere);
    ASSERT_FALSE(shell.shown.empty()) << "the user is told";
    EXPECT_EQ(shell.shown.back().text, MissingFolderText(nowhere));
    EXPECT_EQ(PathBox()->text(), photos.qpath()) << "the old photos are not left under it";
    EXPECT_EQ(window->folder(), photos.qpath());
    EXPECT_EQ(window->thumbList().size(), 2u);
    EXPECT_EQ(window->loadCount(), loads);

    const QString photo = window->thumbList().front().path;
    PressEnterIn(photo);
    EXPECT_EQ(shell.shown.back().text, "Cannot open \"" + photo + "\": it is not a folder.");
    EXPECT_EQ(PathBox()->text(), photos.qpath());

    PressEnterIn(nowhere);
    QTest::keyClicks(PathBox(), "/half typed"); // never entered: the loaded folder is kept
    EXPECT_EQ(SavedLastFolder(), photos.qpath());
}

TEST_F(FolderBoxTest, ADeadFavoriteWarnsAndTheShownFolderStaysTheLastOne) {
    MakePhotos(photos.qpath(), {1});
    const QString dead = photos.mkdir("dead");
    Start(photos.qpath(), "\"MRU0\"=\"" + dead + "\"\n");
    ASSERT_TRUE(QDir(dead).removeRecursively());

    Control<QMenu>("pmMru")->actions().at(1)->trigger();
    ASSERT_FALSE(shell.shown.empty());
    EXPECT_EQ(shell.shown.back().text, MissingFolderText(dead));
    EXPECT_EQ(PathBox()->text(), photos.qpath());
    EXPECT_EQ(window->thumbList().size(), 1u);
    EXPECT_EQ(SavedLastFolder(), photos.qpath()) << "not the dead path";
}
