// SPDX-License-Identifier: GPL-3.0-or-later
#include "ui/support/window_fixture.h"

#include <QAction>
#include <QCheckBox>
#include <QLineEdit>
#include <QMenu>
#include <QPushButton>
#include <QToolButton>

using namespace testing_support;

namespace {

session::SettingsStore Stored() {
    session::SettingsStore store;
    static_cast<void>(store.load(session::SettingsStore::DefaultPath()));
    return store;
}

// The captions down to the first separator: "Add Current Folder" and the favorites.
QStringList MenuCaptions(QMenu* menu) {
    QStringList out;
    for (QAction* a : menu->actions()) {
        if (a->isSeparator()) break;
        out << a->text();
    }
    return out;
}

} // namespace

TEST_F(WindowTest, ASecondStartRestoresWhatTheFirstLeft) {
    MakePhotos(photos.qpath(), {1});
    Start(photos.qpath(), "\"ThumbsInRow\"=dword:00000004\n\"WinWidth\"=\"900\"\n");
    EXPECT_EQ(Grid()->ColCount(), 4);
    Action("pmiKeepTimestamp")->setChecked(false);
    Action("pmiLowQuality")->setChecked(true);
    Action("pmiAddCurrentFolder")->trigger();
    window->move(40, 30);
    window.reset(); // writes the settings

    const session::SettingsStore store = Stored();
    EXPECT_EQ(store.readString("LastFolder", {}), photos.qpath());
    EXPECT_EQ(store.find("KeepTimestamp")->text, "0");
    EXPECT_EQ(store.find("HighQuality")->text, "0");
    EXPECT_EQ(store.find("WinWidth")->kind, session::SettingsStore::Kind::Text)
        << "stored as text, written as text";
    EXPECT_EQ(store.find("ThumbsInRow")->kind, session::SettingsStore::Kind::Number);
    EXPECT_EQ(store.readString("MRU0", {}), photos.qpath());
    EXPECT_EQ(store.readInteger("WinLeft", 0), 40);
    EXPECT_EQ(store.readInteger("WinTop", 0), 30);

    window = std::make_unique<TFormTulvex>();
    window->show();
    WaitForLoads(1);
    EXPECT_EQ(window->folder(), photos.qpath());
    EXPECT_EQ(Grid()->ColCount(), 4);
    EXPECT_FALSE(Action("pmiKeepTimestamp")->isChecked());
    EXPECT_TRUE(Action("pmiLowQuality")->isChecked());
    EXPECT_EQ(window->favorites(), QStringList{photos.qpath()});
    EXPECT_EQ(window->frameGeometry().topLeft(), QPoint(40, 30));
    EXPECT_EQ(window->frameGeometry().width(), 900);
    EXPECT_EQ(window->loadCount(), 1) << "the start folder is loaded once";
}

TEST_F(WindowTest, ThumbsInRowOutOfRangeGivesThreeMissingGivesFive) {
    for (const char* stored : {"dword:00000000", "dword:00000015", "\"-1\""}) {
        WriteSettings(QStringLiteral("\"ThumbsInRow\"=%1\n").arg(stored));
        window = std::make_unique<TFormTulvex>();
        window->show();
        ASSERT_TRUE(QTest::qWaitForWindowExposed(window.get()));
        EXPECT_EQ(Grid()->ColCount(), 3) << stored;
        window.reset();
    }
    QFile::remove(session::SettingsStore::DefaultPath());
    window = std::make_unique<TFormTulvex>();
    window->show();
    ASSERT_TRUE(QTest::qWaitForWindowExposed(window.get()));
    EXPECT_EQ(Grid()->ColCount(), 5);
}

TEST_F(WindowTest, MaximizedAtExitKeepsTheStoredGeometry) {
    Start(photos.qpath(), "\"WinWidth\"=dword:00000384\n\"WinLeft\"=dword:00000011\n");
    window->showMaximized();
    QTest::qWait(50);
    window.reset();
    const session::SettingsStore store = Stored();
    EXPECT_EQ(store.find("WinMax")->text, "1");
    EXPECT_EQ(store.readInteger("WinWidth", 0), 900);
    EXPECT_EQ(store.readInteger("WinLeft", 0), 17);
}

TEST_F(WindowTest, FavoritesMenuRules) {
    const QString a = photos.mkdir("Photos/2019");
    MakePhotos(a, {1});
    Start(a, "\"MRU0\"=\"/\"\n\"MRU2\"=\"" + photos.qfile("gone") + "\"\n");
    EXPECT_EQ(MenuCaptions(Control<QMenu>("pmMru")),
              QStringList({"Add Current Folder", "/", "gone"}))
        << "MRU0 and MRU2 without MRU1 give two favorites";

    Action("pmiAddCurrentFolder")->trigger();
    Action("pmiAddCurrentFolder")->trigger();
    EXPECT_EQ(MenuCaptions(Control<QMenu>("pmMru")),
              QStringList({"Add Current Folder", "2019", "/", "gone"}));

    for (int i = 0; i < 9; ++i) {
        window->LoadFolder(photos.mkdir(QStringLiteral("f%1").arg(i)));
        Action("pmiAddCurrentFolder")->trigger();
    }
    EXPECT_EQ(window->favorites().size(), 10);
    EXPECT_EQ(window->favorites().first(), photos.qfile("f8"));
    EXPECT_EQ(window->favorites().last(), a) << "the oldest ones are dropped";
    EXPECT_FALSE(window->favorites().contains("/"));

    window->LoadFolder(photos.qfile("f0"));
    Control<QMenu>("pmMru")->actions().at(10)->trigger(); // the last favorite
    EXPECT_EQ(window->folder(), a);
}

TEST_F(WindowTest, AVanishedFavoriteWarnsAndKeepsTheGrid) {
    MakePhotos(photos.qpath(), {1});
    const QString gone = photos.mkdir("gone");
    Start(photos.qpath(), "\"MRU0\"=\"" + gone + "\"\n");
    QDir(gone).removeRecursively();
    Control<QMenu>("pmMru")->actions().at(1)->trigger();
    EXPECT_EQ(shell.shown.back().text,
              "Cannot open \"" + gone + "\". The file or folder has been moved or deleted.");
    EXPECT_EQ(window->thumbList().size(), 1u);
    EXPECT_EQ(PathBox()->text(), photos.qpath()) << "the box names the folder still shown";
    EXPECT_EQ(window->favorites().size(), 1);
}

TEST_F(WindowTest, PathBoxTypesLettersAndEnterLoads) {
    const QStringList made = MakePhotos(photos.qpath(), {1});
    const QString other = photos.mkdir("other");
    const QStringList otherPhotos = MakePhotos(other, {1, 1});
    Start(photos.qpath());
    const Bytes before = ReadFile(made[0].toStdString());
    window->activateWindow();
    PathBox()->setFocus();
    QApplication::processEvents();
    PathBox()->clear();
    QTest::keyClicks(PathBox(), "lrhe");
    EXPECT_EQ(PathBox()->text(), "lrhe");
    Control<QToolButton>("tbRotateLeft")->click();
    EXPECT_EQ(ReadFile(made[0].toStdString()), before)
        << "nothing turned while the path box has the focus";

    PathBox()->setText(other + "/");
    QTest::keyClick(PathBox(), Qt::Key_Return);
    EXPECT_EQ(window->folder(), other);
    EXPECT_EQ(PathBox()->text(), other);
    EXPECT_TRUE(shell.opened.empty()) << "Enter loaded the folder instead of opening a photo";

    PathBox()->setText(photos.qfile("nowhere"));
    QTest::keyClick(PathBox(), Qt::Key_Return);
    EXPECT_EQ(window->folder(), other);
    ASSERT_EQ(shell.shown.size(), 1u) << "told why nothing was loaded";
    shell.shown.clear();

    // Ctrl+Del stays a command while the path box has the focus.
    Action("pmiDeleteConfirm")->setChecked(false);
    window->activateWindow();
    ASSERT_TRUE(QTest::qWaitForWindowActive(window.get()));
    PathBox()->setFocus();
    QTest::keyClick(PathBox(), Qt::Key_Delete, Qt::ControlModifier);
    EXPECT_FALSE(QFile::exists(otherPhotos[0]));
    EXPECT_EQ(window->thumbList().size(), 1u);
}

TEST_F(WindowTest, BrowseOpensAtThePathBoxFolder) {
    const QString other = photos.mkdir("other");
    MakePhotos(other, {1});
    Start(photos.qpath());
    shell.browseResult = other;
    Control<QPushButton>("btnBrowse")->click();
    EXPECT_EQ(shell.browseStart, photos.qpath());
    EXPECT_EQ(window->folder(), other);
    EXPECT_EQ(window->thumbList().size(), 1u);
}
