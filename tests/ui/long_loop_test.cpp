// SPDX-License-Identifier: GPL-3.0-or-later
// What the window lets happen while a folder load or the automatic pass runs, and how the pass
// ends when something around a turn goes wrong.
#include "collection/scan.h"
#include "exif/exif_reader.h"
#include "rotate/turn.h"
#include "ui/progress_window.h"
#include "ui/support/window_fixture.h"

#include <QAction>
#include <QPushButton>
#include <QToolButton>

#include <cerrno>

#include "platform/file_io.h"

using namespace testing_support;

namespace {

std::uint16_t OrientationOnDisk(const QString& path) {
    return exif::OrientationOf(exif::ReadJpegExif(ReadFile(path.toStdString())));
}

int CountUpright(const QStringList& paths) {
    int upright = 0;
    for (const QString& p : paths)
        upright += OrientationOnDisk(p) == 1;
    return upright;
}

} // namespace

TEST_F(WindowTest, KeysAndCommandsDuringALoadChangeNoFileAndCancelStillWorks) {
    const QStringList made = MakePhotos(photos.qpath(), std::vector<int>(30, 6));
    std::vector<Bytes> before;
    for (const QString& path : made)
        before.push_back(ReadFile(path.toStdString()));
    Start(photos.qpath(), "\"ThumbsInRow\"=dword:00000003\n");
    shell.shown.clear();

    bool reached = false;
    bool disabledDuringLoad = false;
    WhenIdle([&] {
        if (window->thumbList().size() < 10) return false;
        reached = true;
        window->UpdateActions();
        disabledDuringLoad =
            !Action("ActionRotateLeft")->isEnabled() && !Action("ActionRotateRight")->isEnabled() &&
            !Action("ActionRotate180")->isEnabled() && !Action("ActionDelete")->isEnabled() &&
            !Control<QToolButton>("tbAuto")->isEnabled() && !Action("pmiThumbsInRow")->isEnabled();
        // Keys that reach the main window while the progress window is up (typed before it
        // took the activation, or while a click on the main window had it for a moment).
        QApplication::setActiveWindow(window.get());
        Grid()->setFocus();
        for (int i = 0; i < 3; ++i)
            QTest::keyClick(Grid(), Qt::Key_R);
        QTest::keyClick(Grid(), Qt::Key_L);
        QTest::keyClick(Grid(), Qt::Key_H);
        QTest::keyClick(Grid(), Qt::Key_Delete, Qt::ControlModifier);
        Control<QToolButton>("tbAuto")->click();
        // A command that reached its handler anyway (queued before the load) does nothing.
        window->ActionRotate(Action("ActionRotateRight"));
        window->ActionDeleteExecute();
        window->tbAutoClick();
        if (auto* wait = window->findChild<TfrmWait*>()) wait->btnCancel->click();
        return true;
    });
    Action("pmiRefresh")->trigger();

    EXPECT_TRUE(reached);
    EXPECT_TRUE(disabledDuringLoad);
    for (std::size_t i = 0; i < made.size(); ++i)
        EXPECT_EQ(ReadFile(made[i].toStdString()), before[i]) << made[i].toStdString();
    EXPECT_TRUE(shell.shown.empty()) << shell.shown.front().text.toStdString();
    EXPECT_GE(window->thumbList().size(), 10u);
    EXPECT_LT(window->thumbList().size(), made.size()) << "Cancel ended the load";

    // Once the load is over the commands are back.
    window->UpdateActions();
    EXPECT_TRUE(Action("ActionRotateRight")->isEnabled());
    EXPECT_TRUE(Control<QToolButton>("tbAuto")->isEnabled());
    EXPECT_TRUE(Action("pmiThumbsInRow")->isEnabled());
    window->activateWindow();
    ASSERT_TRUE(QTest::qWaitForWindowActive(window.get()));
    Grid()->setFocus();
    QTest::keyClick(Grid(), Qt::Key_R);
    EXPECT_NE(ReadFile(made[0].toStdString()), before[0]);
}

TEST_F(WindowTest, AReloadAskedForDuringTheAutomaticPassRunsAfterIt) {
    const QStringList made = MakePhotos(photos.qpath(), {6, 6, 6, 6, 6});
    Start(photos.qpath());
    const int loads = window->loadCount();
    shell.yesNoAnswers = {true};
    int loadsDuringPass = -1;
    WhenIdle([&] {
        if (CountUpright(made) < 2) return false;
        Action("pmiRefresh")->trigger();
        window->FormResize(window.get()); // what the settle timer of a resize runs
        loadsDuringPass = window->loadCount();
        return true;
    });
    Control<QToolButton>("tbAuto")->click();

    EXPECT_EQ(loadsDuringPass, loads) << "no load ran inside the pass";
    EXPECT_EQ(CountUpright(made), 5) << "the pass went on to its end";
    EXPECT_EQ(window->loadCount(), loads + 1) << "one reload, after the pass";
    EXPECT_EQ(window->loadsFinished(), window->loadCount());
    EXPECT_EQ(window->thumbList().size(), 5u);
    EXPECT_TRUE(window->autoList().empty());
}

TEST_F(WindowTest, TimesThatCannotBeRestoredAreAWarningAndTheTurnsGoOn) {
    const QStringList made = MakePhotos(photos.qpath(), {6, 6, 6});
    Start(photos.qpath());
    ASSERT_TRUE(Action("pmiKeepTimestamp")->isChecked());
    rotate::TurnCalls failing;
    failing.replace.setTimes = [](int, const struct timespec*) {
        errno = EPERM;
        return -1;
    };
    window->SetTurnCalls(failing);
    const auto warnsAboutEveryPhoto = [&](const FakeShell::Shown& shown) {
        EXPECT_EQ(shown.icon, ui::Shell::Icon::Warning);
        for (const QString& path : made)
            EXPECT_TRUE(shown.text.contains(collection::FileNameOf(path) +
                                            " was turned, but its file times could not be "
                                            "restored: "))
                << shown.text.toStdString();
    };

    shell.shown.clear();
    shell.yesNoAnswers = {true};
    Control<QToolButton>("tbAuto")->click();
    EXPECT_EQ(CountUpright(made), 3);
    EXPECT_TRUE(window->autoList().empty());
    ASSERT_EQ(shell.shown.size(), 2u) << "the question, then one warning after the pass";
    warnsAboutEveryPhoto(shell.shown[1]);

    // A selection's turns: each photo turned, one warning at the end.
    std::vector<Bytes> before;
    for (const QString& path : made)
        before.push_back(ReadFile(path.toStdString()));
    ClickCell(0, 0);
    ClickCell(2, 0, Qt::ShiftModifier);
    Action("ActionRotateRight")->trigger();
    for (std::size_t i = 0; i < made.size(); ++i)
        EXPECT_NE(ReadFile(made[i].toStdString()), before[i]) << made[i].toStdString();
    ASSERT_EQ(shell.shown.size(), 3u);
    warnsAboutEveryPhoto(shell.shown[2]);
}

TEST_F(WindowTest, FlushWarningsOfACommandComeInOneBoxAndASingleTurnsAsTheyCome) {
    const QStringList made = MakePhotos(photos.qpath(), {1, 1});
    Start(photos.qpath());
    rotate::TurnCalls failing;
    failing.replace.fsyncFolder = [](int) {
        errno = EIO;
        return -1;
    };
    window->SetTurnCalls(failing);
    shell.shown.clear();
    ClickCell(0, 0);
    ClickCell(1, 0, Qt::ShiftModifier);
    Action("ActionRotateRight")->trigger();
    ASSERT_EQ(shell.shown.size(), 1u) << "one warning after the command";
    EXPECT_EQ(shell.shown[0].icon, ui::Shell::Icon::Warning);
    const QStringList lines = shell.shown[0].text.split(u'\n');
    ASSERT_EQ(lines.size(), 2) << shell.shown[0].text.toStdString();
    for (int i = 0; i < 2; ++i)
        EXPECT_TRUE(lines[i].startsWith(made[i] + " was turned, but is not yet safely on disk"))
            << lines[i].toStdString();

    // A turn outside a command, whose times cannot be set either: each warning in its own box.
    failing.replace.setTimes = [](int, const struct timespec*) {
        errno = EPERM;
        return -1;
    };
    window->SetTurnCalls(failing);
    ASSERT_TRUE(Action("pmiKeepTimestamp")->isChecked());
    window->RotateImage(made[0], rotate::RotationCode::Left, true);
    ASSERT_EQ(shell.shown.size(), 3u);
    EXPECT_TRUE(
        shell.shown[1].text.startsWith(made[0] + " was turned, but is not yet safely on disk"));
    EXPECT_TRUE(shell.shown[2].text.startsWith(
        "img00.jpg was turned, but its file times could not be restored: "))
        << shell.shown[2].text.toStdString();
}
