// SPDX-License-Identifier: GPL-3.0-or-later
// The rooms behind the main window, without a window: the folder and its load, the turns, the
// placement.
#include "support/own_folders.h"
#include "ui/folder_room.h"
#include "ui/language_room.h"
#include "ui/placement.h"
#include "ui/support/window_fixture.h"
#include "ui/turn_room.h"
#include "ui/window_placement.h"

#include <QSignalSpy>
#include <QWidget>

#include <utility>

using namespace testing_support;

namespace {

class RoomsTest : public WindowTest {
protected:
    static session::LoadOptions Options() { return {false, {64, 84, true, true, 1.0}}; }

    static QStringList PathsOf(const session::ThumbList& list) {
        QStringList paths;
        for (const session::ThumbEntry& entry : list)
            paths << entry.path;
        return paths;
    }

    QWidget owner; // stands for the window, never shown
    ui::LanguageRoom language{&owner};
    ui::FolderRoom folder{&owner, language, nullptr};
};

using Loop = ui::FolderRoom::LongLoop;

} // namespace

TEST_F(RoomsTest, ALoadAskedForDuringTheAutomaticPassRunsAtItsEnd) {
    MakePhotos(photos.qpath(), {1, 6});
    QSignalSpy wanted(&folder, &ui::FolderRoom::reloadWanted);
    QSignalSpy busy(&folder, &ui::FolderRoom::busyChanged);
    {
        const Loop pass(folder, Loop::Kind::AutomaticPass);
        folder.Load(photos.qpath(), Options());
        EXPECT_EQ(folder.loadCount(), 0) << "the load waits for the pass";
        EXPECT_TRUE(folder.InLongLoop());
    }
    EXPECT_FALSE(folder.InLongLoop());
    EXPECT_EQ(busy.count(), 2) << "the window hears when the pass begins and ends";
    ASSERT_TRUE(wanted.wait()) << "the owed load is asked for once the pass has ended";
    EXPECT_EQ(wanted.takeFirst().at(0).toString(), photos.qpath());

    // Closing drops what is owed.
    {
        const Loop pass(folder, Loop::Kind::AutomaticPass);
        folder.Load(photos.qpath(), Options());
        folder.Close();
    }
    QCoreApplication::sendPostedEvents();
    folder.RunDeferredLoad();
    EXPECT_EQ(wanted.count(), 0);
}

TEST_F(RoomsTest, ANewerLoadSupersedesTheOneRunning) {
    const QString first = photos.mkdir("first");
    const QString second = photos.mkdir("second");
    MakePhotos(first, {1, 1, 1});
    const QStringList wanted = MakePhotos(second, {1, 6});
    QSignalSpy loaded(&folder, &ui::FolderRoom::loaded);
    bool nested = false;
    QObject::connect(&folder, &ui::FolderRoom::folderBegun, &owner, [&] {
        if (!std::exchange(nested, true)) folder.Load(second, Options()); // as a resize does
    });
    folder.Load(first, Options());
    EXPECT_EQ(folder.loadCount(), 2);
    EXPECT_EQ(folder.loadsFinished(), 1);
    EXPECT_EQ(loaded.count(), 1) << "the superseded load leaves the lists to the newer one";
    EXPECT_EQ(folder.folder(), second);
    EXPECT_EQ(PathsOf(folder.thumbs()), wanted);
    EXPECT_EQ(folder.autoList().size(), 1u);
    EXPECT_FALSE(folder.InLongLoop());
}

TEST_F(RoomsTest, FavoritesHoldTheNewestTenFoldersOnce) {
    QStringList folders;
    for (int i = 0; i < 12; ++i)
        folders << photos.mkdir(QStringLiteral("f%1").arg(i));
    for (const QString& each : folders) {
        folder.SetFolder(each);
        EXPECT_TRUE(folder.AddCurrentFolder());
    }
    folder.SetFolder(folders[5]);
    EXPECT_FALSE(folder.AddCurrentFolder()) << "already a favorite";
    folder.SetFolder(photos.qfile("gone"));
    EXPECT_FALSE(folder.AddCurrentFolder());
    ASSERT_EQ(folder.favorites().size(), 10);
    EXPECT_EQ(folder.favorites().first(), folders[11]);
    EXPECT_EQ(folder.favorites().last(), folders[2]);
}

TEST_F(RoomsTest, ACommandOverSeveralPhotosIsOneUndoAndNamesEachPhotoAsItTurns) {
    const ScopedEnv state("XDG_STATE_HOME", photos.mkdir("state")); // an empty undo store
    const QStringList made = MakePhotos(photos.qpath(), {1, 1});
    const Bytes before = ReadFile(made[0].toStdString());
    folder.Load(photos.qpath(), Options());
    ui::TurnRoom turns(&owner, folder, language,
                       {[] { return true; }, [] { return Options().thumbnails; }});
    QSignalSpy turning(&turns, &ui::TurnRoom::turning);
    EXPECT_FALSE(turns.CanUndo());

    {
        const Loop pass(folder, Loop::Kind::AutomaticPass);
        turns.Rotate(made, rotate::RotationCode::Right);
    }
    EXPECT_EQ(turning.count(), 0) << "nothing turns while a long loop runs";
    EXPECT_EQ(ReadFile(made[0].toStdString()), before);

    turns.Rotate(made, rotate::RotationCode::Right);
    ASSERT_EQ(turning.count(), 2);
    EXPECT_EQ(turning[0].at(0).toString(), made[0]);
    EXPECT_EQ(turning[1].at(0).toString(), made[1]);
    EXPECT_NE(ReadFile(made[0].toStdString()), before);
    EXPECT_TRUE(turns.CanUndo());

    turns.Undo();
    EXPECT_EQ(ReadFile(made[0].toStdString()), before) << "one undo takes back the whole command";
    EXPECT_FALSE(turns.CanUndo());
    EXPECT_TRUE(shell.shown.empty());
}

TEST(WindowPlacementRoom, AWindowAskedOffEveryScreenComesBackOnTheFirst) {
    QWidget window;
    ui::WindowPlacement placement(window);
    const QRect area = ui::PrimaryScreenArea();
    ASSERT_FALSE(area.isEmpty());
    placement.Place(QRect(area.right() + 5000, area.bottom() + 5000, 900, 700));
    EXPECT_TRUE(area.contains(window.geometry()));
    EXPECT_EQ(window.size(), QSize(900, 700));
    EXPECT_EQ(placement.OuterToKeep(), window.geometry()) << "hidden: kept as placed";

    placement.Place(QRect(area.left() + 10, area.top() + 10, 300, 200));
    EXPECT_EQ(window.size(), ui::WindowPlacement::kMinimumOuter) << "no smaller than the minimum";
}

TEST_F(WindowTest, SelectedPathsAreTheRangesPhotosOnDiskInListOrder) {
    const QStringList made = MakePhotos(photos.qpath(), std::vector<int>(8, 1));
    Start(photos.qpath(), "\"ThumbsInRow\"=dword:00000003\n");
    ClickCell(0, 1);
    ClickCell(2, 2, Qt::ShiftModifier); // cells 3 to 7 and one past the last photo
    ASSERT_TRUE(QFile::remove(made[5]));
    EXPECT_EQ(window->SelectedPaths(), QStringList({made[3], made[4], made[6], made[7]}));
    EXPECT_EQ(window->selectedFile(), made[3]) << "reading the selection selects nothing";
}
