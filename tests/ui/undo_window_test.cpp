// SPDX-License-Identifier: GPL-3.0-or-later
// Undo in the window: Ctrl+Z and the grid's pop-up item take back the last turn or automatic
// pass, the list and the thumbnails follow, and photos changed since are named.
#include "support/own_folders.h"
#include "ui/progress_window.h"
#include "ui/support/window_fixture.h"

#include <QAction>
#include <QDir>
#include <QMenu>
#include <QTimer>
#include <QToolButton>

#include "platform/file_io.h"

using namespace testing_support;

namespace {

class UndoWindowTest : public WindowTest {
protected:
    TempDir state;
    ScopedEnv stateHome{"XDG_STATE_HOME", state.qpath()};
    QAction* PopupUndo() const {
        for (QAction* item : Control<QMenu>(QStringLiteral("PopupMenu"))->actions())
            if (item->objectName() == "pmiUndo") return item;
        return nullptr;
    }
    void PressUndo() {
        Grid()->setFocus();
        QTest::keyClick(Grid(), Qt::Key_Z, Qt::ControlModifier);
    }
};

} // namespace

TEST_F(UndoWindowTest, CtrlZTakesBackATurnAndThePopupItemFollows) {
    const QStringList made = MakePhotos(photos.qpath(), {1}, 64, 32);
    const Bytes before = ReadFile(made[0].toStdString());
    Start(photos.qpath());
    ASSERT_NE(PopupUndo(), nullptr);
    window->UpdateActions();
    EXPECT_FALSE(Action("ActionUndo")->isEnabled()) << "nothing to take back yet";

    Grid()->setFocus();
    QTest::keyClick(Grid(), Qt::Key_R);
    ASSERT_NE(ReadFile(made[0].toStdString()), before);
    ASSERT_GT(window->thumbList()[0].thumbnail.height(), window->thumbList()[0].thumbnail.width());
    window->UpdateActions();
    EXPECT_TRUE(Action("ActionUndo")->isEnabled());

    PressUndo();
    EXPECT_EQ(ReadFile(made[0].toStdString()), before);
    EXPECT_LT(window->thumbList()[0].thumbnail.height(), window->thumbList()[0].thumbnail.width())
        << "the thumbnail shows the photo as it is again";
    window->UpdateActions();
    EXPECT_FALSE(Action("ActionUndo")->isEnabled());
    EXPECT_TRUE(shell.shown.empty());
}

TEST_F(UndoWindowTest, ATurnThatCannotBeKeptForUndoSaysSoOncePerCommand) {
    const QStringList made = MakePhotos(photos.qpath(), {1, 1}, 64, 32);
    WriteFile(state.file("file"), {1}); // no folder can be made below a file
    const ScopedEnv noState("XDG_STATE_HOME", state.qfile("file"));
    const Bytes before = ReadFile(made[1].toStdString());
    Start(photos.qpath());
    ClickCell(0, 0);
    ClickCell(1, 0, Qt::ShiftModifier);
    QTest::keyClick(Grid(), Qt::Key_R);
    EXPECT_NE(ReadFile(made[1].toStdString()), before) << "both turned all the same";
    ASSERT_EQ(shell.shown.size(), 1u) << "one message for the command, not one per photo";
    EXPECT_TRUE(shell.shown[0].text.startsWith("The turns cannot be undone: "))
        << shell.shown[0].text.toStdString();
}

TEST_F(UndoWindowTest, UndoOfTheAutomaticPassListsThePhotosAgainAndNamesOnesChangedSince) {
    const QStringList made = MakePhotos(photos.qpath(), {3, 6, 8});
    std::vector<Bytes> before;
    for (const QString& path : made)
        before.push_back(ReadFile(path.toStdString()));
    Start(photos.qpath());
    shell.yesNoAnswers = {true};
    Control<QToolButton>(QStringLiteral("tbAuto"))->click();
    ASSERT_TRUE(window->autoList().empty());
    // Another program changes one of them since.
    WriteFile(made[1].toStdString(), ReadFile(made[0].toStdString()));
    const Bytes changed = ReadFile(made[1].toStdString());
    shell.shown.clear();

    Control<QMenu>(QStringLiteral("PopupMenu"))->aboutToShow();
    ASSERT_TRUE(PopupUndo()->isEnabled());
    PopupUndo()->trigger();
    EXPECT_EQ(ReadFile(made[0].toStdString()), before[0]);
    EXPECT_EQ(ReadFile(made[1].toStdString()), changed);
    EXPECT_EQ(ReadFile(made[2].toStdString()), before[2]);
    ASSERT_EQ(window->autoList().size(), 2u);
    EXPECT_EQ(window->autoList()[window->autoList().IndexOf(made[0])].value, 3);
    EXPECT_EQ(window->autoList()[window->autoList().IndexOf(made[2])].value, 8);
    ASSERT_EQ(shell.shown.size(), 1u);
    EXPECT_TRUE(shell.shown[0].text.contains("img01.jpg")) << shell.shown[0].text.toStdString();
    EXPECT_FALSE(shell.shown[0].text.contains("img00.jpg"));
}

TEST_F(UndoWindowTest, AnUndoRecordTooDamagedToNameItsPhotoIsNamedItself) {
    const QStringList made = MakePhotos(photos.qpath(), {1}, 64, 32);
    Start(photos.qpath());
    Grid()->setFocus();
    QTest::keyClick(Grid(), Qt::Key_R);
    const QString stack = state.qpath() + "/tulvex/undo/window";
    const QStringList commands = QDir(stack).entryList(QDir::Dirs | QDir::NoDotAndDotDot);
    ASSERT_EQ(commands.size(), 1);
    const QString record = stack + "/" + commands[0] + "/000001.undo";
    WriteFile(record.toStdString(), {'T', 'U', 'L', 'V', 'X', 'U', 'N', '3', 9});
    shell.shown.clear();

    window->UpdateActions();
    PressUndo();
    ASSERT_EQ(shell.shown.size(), 1u);
    EXPECT_TRUE(shell.shown[0].text.contains("an unknown photo (undo record " + record + "): "))
        << shell.shown[0].text.toStdString();
}

namespace {

TEST_F(UndoWindowTest, UndoAndRedoSitInTheOptionsMenuAndTheStatusBarSaysWhatTheyDid) {
    const QStringList made = MakePhotos(photos.qpath(), {1}, 64, 32);
    const Bytes before = ReadFile(made[0].toStdString());
    Start(photos.qpath());
    window->activateWindow();
    ASSERT_TRUE(QTest::qWaitForWindowActive(window.get()));
    window->UpdateActions();
    PressUndo();
    EXPECT_EQ(StatusText(0), QStringLiteral("Nothing to undo"));

    QTest::keyClick(Grid(), Qt::Key_R);
    const Bytes turned = ReadFile(made[0].toStdString());
    ASSERT_NE(turned, before);
    window->UpdateActions();
    PressUndo();
    EXPECT_EQ(ReadFile(made[0].toStdString()), before);
    EXPECT_EQ(StatusText(0), QStringLiteral("Undo: 1 photo(s) restored"));

    auto* options = Control<QMenu>(QStringLiteral("pmOptions"));
    emit options->aboutToShow();
    EXPECT_EQ(options->actions().value(0), Action("pmiOptionsUndo"));
    EXPECT_TRUE(Action("pmiOptionsUndo")->text().endsWith(QStringLiteral("\tCtrl+Z")))
        << Action("pmiOptionsUndo")->text().toStdString();
    EXPECT_FALSE(Action("pmiOptionsUndo")->isEnabled()) << "the one command was undone";
    EXPECT_TRUE(Action("pmiOptionsRedo")->text().contains(QStringLiteral("\tCtrl+Shift+Z")))
        << Action("pmiOptionsRedo")->text().toStdString();
    EXPECT_TRUE(Action("pmiOptionsRedo")->isEnabled());

    QTest::keyClick(Grid(), Qt::Key_Y, Qt::ControlModifier);
    EXPECT_EQ(ReadFile(made[0].toStdString()), turned) << "redo is byte-exact";
    EXPECT_EQ(StatusText(0), QStringLiteral("Redo: 1 photo(s) turned again"));
    window->UpdateActions();
    QTest::keyClick(Grid(), Qt::Key_Z, Qt::ControlModifier | Qt::ShiftModifier);
    EXPECT_EQ(StatusText(0), QStringLiteral("Nothing to redo"));
    EXPECT_EQ(ReadFile(made[0].toStdString()), turned);
    EXPECT_TRUE(shell.shown.empty());
}

} // namespace

namespace {

TEST_F(UndoWindowTest, ALongUndoShowsProgressAndEachThumbnailAsItsPhotoComesBack) {
    const int count = 12;
    MakePhotos(photos.qpath(), std::vector<int>(count, 1), 64, 32);
    Start(photos.qpath());
    Grid()->setFocus();
    QTest::keyClick(Grid(), Qt::Key_A, Qt::ControlModifier);
    QTest::keyClick(Grid(), Qt::Key_R);
    const auto wide = [this] {
        int n = 0;
        for (const auto& item : window->thumbList())
            n += item.thumbnail.width() > item.thumbnail.height();
        return n;
    };
    ASSERT_EQ(wide(), 0) << "all turned";
    // Looked at whenever the undo lets events through.
    std::vector<int> seen;
    bool progressShown = false;
    QTimer look;
    QObject::connect(&look, &QTimer::timeout, [&] {
        seen.push_back(wide());
        for (QWidget* top : QApplication::topLevelWidgets())
            progressShown = progressShown || (qobject_cast<TfrmWait*>(top) && top->isVisible());
    });
    look.start(0);
    window->UpdateActions();
    PressUndo();
    look.stop();
    EXPECT_EQ(wide(), count);
    EXPECT_EQ(StatusText(0), QStringLiteral("Undo: 12 photo(s) restored"));
    EXPECT_TRUE(progressShown);
    EXPECT_TRUE(std::any_of(seen.begin(), seen.end(), [](int n) { return n > 0 && n < count; }))
        << "some thumbnails showed their photo back while others were still being undone";
}

} // namespace
