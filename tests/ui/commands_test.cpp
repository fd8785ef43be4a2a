// SPDX-License-Identifier: GPL-3.0-or-later
#include "support/small_disk.h"
#include "ui/Lang.h"
#include "ui/support/window_fixture.h"
#include "ui/thumbs_per_row_dialog.h"

#include <QAction>
#include <QDir>
#include <QLineEdit>
#include <QMenu>
#include <QPushButton>
#include <QSignalSpy>
#include <QToolButton>

using namespace testing_support;

namespace {

QString TrashFolder() {
    return qEnvironmentVariable("XDG_DATA_HOME") + "/Trash";
}

// Code outside the window reaches a control by its name, never as a member.
// clang-format off
template <typename W>
concept AnyControlIsAMember =
    requires(W& w) { w.ToolBar; } ||
    requires(W& w) { w.Panel1; } ||
    requires(W& w) { w.edPath; } ||
    requires(W& w) { w.btnBrowse; } ||
    requires(W& w) { w.cbSubFolders; } ||
    requires(W& w) { w.DrawGrid; } ||
    requires(W& w) { w.ActionUndo; } ||
    requires(W& w) { w.StatusPanel0; } ||
    requires(W& w) { w.StatusPanel1; } ||
    requires(W& w) { w.ActionOpen; } ||
    requires(W& w) { w.ActionRotateLeft; } ||
    requires(W& w) { w.ActionRotateRight; } ||
    requires(W& w) { w.ActionRotate180; } ||
    requires(W& w) { w.ActionDisplayExif; } ||
    requires(W& w) { w.ActionDelete; } ||
    requires(W& w) { w.tbFavorites; } ||
    requires(W& w) { w.tbAuto; } ||
    requires(W& w) { w.tbOptions; } ||
    requires(W& w) { w.PopupMenu; } ||
    requires(W& w) { w.pmOptions; } ||
    requires(W& w) { w.pmMru; } ||
    requires(W& w) { w.pmiRefresh; } ||
    requires(W& w) { w.pmiThumbsInRow; } ||
    requires(W& w) { w.pmiEnlargeSmall; } ||
    requires(W& w) { w.pmiKeepTimestamp; } ||
    requires(W& w) { w.pmiDeleteConfirm; } ||
    requires(W& w) { w.pmiWebsite; } ||
    requires(W& w) { w.pmiAbout; } ||
    requires(W& w) { w.pmiHiQuality; } ||
    requires(W& w) { w.pmiLowQuality; } ||
    requires(W& w) { w.QualityGroup; } ||
    requires(W& w) { w.LanguageGroup; };
// clang-format on

// The controls, each under the name of its member.
const char* const kControlNames =
    "ToolBar Panel1 edPath btnBrowse cbSubFolders DrawGrid StatusPanel0 StatusPanel1 "
    "ActionOpen ActionRotateLeft ActionRotateRight ActionRotate180 ActionDisplayExif "
    "ActionDelete ActionUndo tbFavorites tbAuto tbOptions PopupMenu pmOptions pmMru pmiRefresh "
    "pmiThumbsInRow pmiEnlargeSmall pmiKeepTimestamp pmiDeleteConfirm pmiWebsite "
    "pmiAbout pmiHiQuality pmiLowQuality QualityGroup LanguageGroup";

} // namespace

TEST_F(WindowTest, EveryControlIsPrivateAndFoundUnderItsOwnName) {
    EXPECT_FALSE(AnyControlIsAMember<TFormTulvex>);
    Start(photos.qpath());
    for (const QString& name : QString::fromLatin1(kControlNames).split(u' '))
        EXPECT_EQ(window->findChildren<QObject*>(name).size(), 1) << name.toStdString();
}

TEST_F(WindowTest, CommandsFollowTheSelection) {
    WriteSettings("\"LastFolder\"=\"" + photos.qfile("nowhere") + "\"\n");
    window = std::make_unique<TFormTulvex>();
    QSignalSpy settled(window->findChild<ui::WindowPlacement*>(), &ui::WindowPlacement::settled);
    window->show();
    ASSERT_TRUE(settled.wait()) << "the first showing settles into its one load";
    EXPECT_EQ(window->loadCount(), 0);
    window->UpdateActions();
    for (QAction* a :
         {Action("ActionOpen"), Action("ActionRotateLeft"), Action("ActionRotateRight"),
          Action("ActionRotate180"), Action("ActionDisplayExif"), Action("ActionDelete")})
        EXPECT_FALSE(a->isEnabled()) << a->objectName().toStdString();
    EXPECT_FALSE(Control<QToolButton>("tbRotateLeft")->isEnabled());
    EXPECT_TRUE(Control<QToolButton>("tbAuto")->isEnabled());
    EXPECT_TRUE(Control<QToolButton>("tbOptions")->isEnabled());
    Grid()->setFocus();
    QTest::keyClick(Grid(), Qt::Key_Delete, Qt::ControlModifier);
    EXPECT_TRUE(shell.shown.empty());

    MakePhotos(photos.qpath(), {1, 1});
    window->LoadFolder(photos.qpath());
    window->UpdateActions();
    EXPECT_TRUE(Action("ActionRotateLeft")->isEnabled());
    EXPECT_TRUE(Control<QToolButton>("tbRotateLeft")->isEnabled());
}

TEST_F(WindowTest, TooltipsNameTheShortcut) {
    Start(photos.qpath());
    EXPECT_EQ(Control<QToolButton>("tbRotateLeft")->toolTip(), "Hotkey (L)");
    EXPECT_EQ(Action("ActionOpen")->toolTip(), "Hotkey (Enter)");
    EXPECT_EQ(Action("ActionDisplayExif")->toolTip(), "Display EXIF (E)");
    EXPECT_EQ(Action("ActionDelete")->toolTip(), "Delete image (Ctrl+Del)");
    window->language()->TranslateProperty("FormTulvex.ActionRotateLeft.Hint", "Taste");
    EXPECT_EQ(Action("ActionRotateLeft")->toolTip(), "Taste (L)");
}

TEST_F(WindowTest, DeleteMovesToTheTrashAndDelists) {
    const QStringList made = MakePhotos(photos.qpath(), {1, 6, 1, 1, 1});
    Start(photos.qpath(), "\"ThumbsInRow\"=dword:00000004\n");
    ASSERT_EQ(Grid()->RowCount(), 2);

    shell.yesNoAnswers = {false}; // declined: nothing changes
    ClickCell(1, 0);
    Action("ActionDelete")->trigger();
    EXPECT_TRUE(QFile::exists(made[1]));
    EXPECT_EQ(window->thumbList().size(), 5u);
    EXPECT_EQ(window->autoList().size(), 1u);

    shell.yesNoAnswers = {true};
    Action("ActionDelete")->trigger();
    EXPECT_FALSE(QFile::exists(made[1]));
    EXPECT_TRUE(QFile::exists(TrashFolder() + "/files/img01.jpg"));
    EXPECT_TRUE(QFile::exists(TrashFolder() + "/info/img01.jpg.trashinfo"));
    EXPECT_EQ(window->thumbList().size(), 4u);
    EXPECT_EQ(window->thumbList()[1].path, made[2]) << "the next photo moves up";
    EXPECT_TRUE(window->autoList().empty()) << "a deleted photo leaves the automatic list";
    EXPECT_EQ(Grid()->RowCount(), 1);

    Action("pmiDeleteConfirm")->setChecked(false);
    const std::size_t asked = shell.shown.size();
    Action("ActionDelete")->trigger();
    EXPECT_EQ(shell.shown.size(), asked) << "no question while the option is off";
    EXPECT_FALSE(QFile::exists(made[2]));
}

TEST_F(WindowTest, APhotoTheTrashCannotTakeStaysAndTheUserIsToldWhy) {
    const QString mountPoint = photos.mkdir("stick");
    SmallDisk disk(mountPoint.toStdString(), 1024);
    if (!disk.mounted()) GTEST_SKIP() << "cannot mount a small file system here (needs root)";
    const QStringList made = MakePhotos(mountPoint, {1});
    ASSERT_TRUE(disk.makeReadOnly());
    Start(mountPoint);
    Action("pmiDeleteConfirm")->setChecked(false);
    Action("ActionDelete")->trigger();
    EXPECT_TRUE(QFile::exists(made[0])) << "never deleted outright";
    EXPECT_EQ(window->thumbList().size(), 1u);
    ASSERT_FALSE(shell.shown.empty());
    EXPECT_TRUE(shell.shown.back().text.startsWith("Unable to move \"img00.jpg\" to the trash: "));
}

TEST_F(WindowTest, OpenAboutAndWebSite) {
    const QStringList made = MakePhotos(photos.qpath(), {1});
    Start(photos.qpath());
    Grid()->setFocus();
    QTest::keyClick(Grid(), Qt::Key_Return);
    ASSERT_EQ(shell.opened.size(), 1u);
    EXPECT_EQ(shell.opened[0], QUrl::fromLocalFile(made[0]));
    Action("pmiWebsite")->trigger();
    EXPECT_EQ(shell.opened.back().host(), "tulvex.example.org");
    Action("pmiAbout")->trigger();
    EXPECT_EQ(shell.shown.back().caption, "About");
    EXPECT_TRUE(shell.shown.back().text.startsWith("Tulvex\nVersion "));
    EXPECT_TRUE(shell.shown.back().text.contains("LICENSE"));
}

TEST(ThumbForm, RangeAndTypedValues) {
    TThumbForm form(nullptr, QString());
    form.udQty->setPosition(5);
    EXPECT_EQ(form.leQty->text(), "5");
    form.udQty->setPosition(25);
    EXPECT_EQ(form.udQty->position(), 20);
    form.udQty->setPosition(0);
    EXPECT_EQ(form.udQty->position(), 1);
    form.udQty->setPosition(7);
    form.leQty->setText("25");
    EXPECT_EQ(form.udQty->position(), 7) << "a typed value out of range keeps the last valid one";
    form.leQty->setText("12");
    EXPECT_EQ(form.udQty->position(), 12);
    EXPECT_EQ(form.leQtyLabel->text(), form.windowTitle());
}

TEST_F(WindowTest, ThumbsInRowDialogSetsColumnsAndReloads) {
    MakePhotos(photos.qpath(), {1, 1, 1});
    Start(photos.qpath());
    const int loads = window->loadCount();
    AnswerNextDialog<TThumbForm>([](TThumbForm* form) {
        form->leQty->setText("2");
        form->btnOk->click();
    });
    Action("pmiThumbsInRow")->trigger();
    EXPECT_EQ(Grid()->ColCount(), 2);
    EXPECT_EQ(Grid()->RowCount(), 2);
    EXPECT_EQ(window->loadCount(), loads + 1);

    AnswerNextDialog<TThumbForm>([](TThumbForm* form) {
        form->leQty->setText("9");
        QTest::keyClick(form, Qt::Key_Escape);
    });
    Action("pmiThumbsInRow")->trigger();
    EXPECT_EQ(Grid()->ColCount(), 2);
    EXPECT_EQ(window->loadCount(), loads + 1);
}
