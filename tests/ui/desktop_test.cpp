// SPDX-License-Identifier: GPL-3.0-or-later
// The window on a Linux desktop: names that differ only in case, keys, text, the captions of
// every shipped language and the activation of the progress window.
#include "thumbs/image_codec.h"
#include "ui/Lang.h"
#include "ui/exif_dialog.h"
#include "ui/progress_window.h"
#include "ui/support/window_fixture.h"

#include <QAction>
#include <QActionGroup>
#include <QCoreApplication>
#include <QDir>
#include <QLineEdit>
#include <QStyle>
#include <QToolBar>
#include <QToolButton>
#include <QTreeWidget>

using namespace testing_support;

namespace {

QString TrashFolder() {
    return qEnvironmentVariable("XDG_DATA_HOME") + "/Trash";
}

void WriteTurnedPhoto(const QString& path) {
    ExifSpec spec;
    spec.orientation = 6;
    WriteFile(path.toStdString(), MakeJpegWithExif(64, 48, spec)); // 64x48: no crop question
}

} // namespace

class CaseTest : public WindowTest {
protected:
    void SelectPath(const QString& path) {
        const QStringList paths = GridPaths();
        const int index = int(paths.indexOf(path));
        ASSERT_GE(index, 0) << path.toStdString();
        const int columns = Grid()->ColCount();
        ClickCell(index % columns, index / columns);
        ASSERT_EQ(window->selectedFile(), path);
    }
};

TEST_F(CaseTest, NamesEqualButForCaseAreTwoPhotos) {
    const QString lower = photos.qfile("a.jpg");
    const QString upper = photos.qfile("A.jpg");
    WriteTurnedPhoto(lower);
    WriteTurnedPhoto(upper);
    Start(photos.qpath());
    ASSERT_EQ(window->autoList().size(), 2u);
    EXPECT_EQ(GridPaths(), (QStringList{upper, lower}))
        << "one fixed order: by bytes after the locale";

    // Turned right by hand, the second is upright and leaves the automatic list; the first's
    // entry stays as it was.
    const QString first = window->autoList()[0].path;
    const QString second = window->autoList()[1].path;
    SelectPath(second);
    Grid()->setFocus();
    QTest::keyClick(Grid(), Qt::Key_R);
    ASSERT_EQ(window->autoList().size(), 1u);
    EXPECT_EQ(window->autoList()[0].path, first);
    EXPECT_EQ(window->autoList()[0].value, 6);

    shell.yesNoAnswers = {true};
    Control<QToolButton>("tbAuto")->click();
    // Each turned exactly once, a quarter turn: upright and portrait. Twice would be landscape
    // again, and so would never.
    for (const QString& path : {first, second}) {
        const thumbs::ImageHeader onDisk = thumbs::ReadImageHeader(path);
        EXPECT_EQ(onDisk.orientation, 1) << path.toStdString();
        EXPECT_EQ(QSize(onDisk.width, onDisk.height), QSize(48, 64)) << path.toStdString();
    }

    // Delete the second: exactly its entries leave the lists.
    WriteTurnedPhoto(lower);
    WriteTurnedPhoto(upper);
    window->LoadFolder(photos.qpath());
    ASSERT_EQ(window->autoList().size(), 2u);
    Action("pmiDeleteConfirm")->setChecked(false);
    SelectPath(second);
    Action("ActionDelete")->trigger();
    EXPECT_FALSE(QFile::exists(second));
    EXPECT_TRUE(QFile::exists(first));
    EXPECT_EQ(GridPaths(), QStringList{first});
    ASSERT_EQ(window->autoList().size(), 1u);
    EXPECT_EQ(window->autoList()[0].path, first);
    EXPECT_TRUE(QFile::exists(TrashFolder() + "/files/" + QFileInfo(second).fileName()));
}

TEST_F(CaseTest, FavoritesTellFoldersApartByCase) {
    const QString lower = photos.mkdir("photos");
    const QString upper = photos.mkdir("Photos");
    Start(lower);
    Action("pmiAddCurrentFolder")->trigger();
    Action("pmiAddCurrentFolder")->trigger(); // the same folder again: refused
    window->LoadFolder(upper);
    Action("pmiAddCurrentFolder")->trigger();
    EXPECT_EQ(window->favorites(), (QStringList{upper, lower}));
}

TEST_F(WindowTest, KeypadEnterOpensLikeEnter) {
    const QStringList made = MakePhotos(photos.qpath(), {1, 1});
    Start(photos.qpath());
    Grid()->setFocus();
    QTest::keyClick(Grid(), Qt::Key_Enter, Qt::KeypadModifier);
    ASSERT_EQ(shell.opened.size(), 1u);
    EXPECT_EQ(shell.opened[0], QUrl::fromLocalFile(made[0]));
    EXPECT_EQ(Action("ActionOpen")->toolTip(), "Hotkey (Enter)");

    // In the path box the keypad Enter loads the typed folder and opens nothing.
    PathBox()->setFocus();
    PathBox()->setText(photos.qpath());
    const int loads = window->loadCount();
    QTest::keyClick(PathBox(), Qt::Key_Enter, Qt::KeypadModifier);
    EXPECT_EQ(window->loadCount(), loads + 1);
    EXPECT_EQ(shell.opened.size(), 1u);
}

TEST_F(WindowTest, EveryToolButtonCaptionFitsInEveryShippedLanguage) {
    Start(photos.qpath());
    const QList<QAction*> languages = Control<QActionGroup>("LanguageGroup")->actions();
    ASSERT_GE(languages.size(), 4);
    for (QAction* item : languages) {
        item->trigger();
        QCoreApplication::processEvents();
        const QString name = item->text();
        int buttons = 0;
        for (QToolButton* button : Control<QToolBar>("ToolBar")->findChildren<QToolButton*>()) {
            if (button->objectName().startsWith("qt_")) continue; // the bar's own overflow button
            EXPECT_TRUE(button->isVisible())
                << name.toStdString() << ": " << button->objectName().toStdString()
                << " pushed off the bar";
            const QString caption = QString(button->text()).remove(u'&');
            const int needed = button->fontMetrics().horizontalAdvance(caption);
            // The caption with room for the style's margins on both sides.
            const int margins =
                2 * button->style()->pixelMetric(QStyle::PM_ButtonMargin, nullptr, button);
            EXPECT_LE(needed + margins, button->width())
                << name.toStdString() << ": " << caption.toStdString();
            EXPECT_GE(button->width(), 67);
            EXPECT_EQ(button->height(), 44);
            ++buttons;
        }
        EXPECT_EQ(buttons, 9) << name.toStdString();
    }
}

TEST_F(WindowTest, ExifTextInEitherEncodingAndTheWindowsFont) {
    ExifSpec spec;
    spec.ifd0.push_back({0x010F, 2, 5, Ascii("Caf\xE9")});     // Make, Latin-1
    spec.ifd0.push_back({0x0110, 2, 6, Ascii("Caf\xC3\xA9")}); // Model, UTF-8
    WriteFile(photos.file("a.jpg"), MakeJpegWithExif(32, 32, spec));
    Start(photos.qpath());

    QStringList values;
    QFont font;
    QTimer::singleShot(50, [&] {
        auto* dialog = qobject_cast<TFormExif*>(QApplication::activeModalWidget());
        if (!dialog) return;
        font = dialog->ListView->font();
        for (int i = 0; i < dialog->rowCount(); ++i)
            values << dialog->ListView->topLevelItem(i)->text(1);
        QTest::keyClick(dialog, Qt::Key_Escape);
    });
    Action("ActionDisplayExif")->trigger();
    const QString cafe = QString::fromUtf16(u"Caf\u00E9");
    EXPECT_EQ(values.count(cafe), 2) << values.join(" | ").toStdString();
    EXPECT_EQ(font.pixelSize(), window->font().pixelSize())
        << "the dialog is not set in a larger font";

    TProgressWindow progress(window.get());
    EXPECT_EQ(progress.window()->font(), window->font());
}

TEST_F(WindowTest, AFolderWithALineBreakSurvivesTheSettings) {
    const QString folder = photos.mkdir("line\nbreak \"quoted\" \\ tab\t");
    ASSERT_TRUE(QFileInfo(folder).isDir());
    MakePhotos(folder, {1});
    session::SettingsStore store;
    store.writeString("LastFolder", folder);
    ASSERT_TRUE(store.save(session::SettingsStore::DefaultPath()).ok());
    window = std::make_unique<TFormTulvex>();
    window->show();
    WaitForLoads(1);
    ASSERT_EQ(window->folder(), folder);
    Action("pmiAddCurrentFolder")->trigger();
    window.reset(); // writes the settings

    window = std::make_unique<TFormTulvex>();
    window->show();
    WaitForLoads(1);
    EXPECT_EQ(window->folder(), folder);
    EXPECT_EQ(window->favorites(), QStringList{folder});
    EXPECT_EQ(window->thumbList().size(), 1u);
}

TEST_F(WindowTest, ProgressWindowTakesActivationBackFromTheMainWindow) {
    // The switch to another program is tested under a real window manager (geometry test).
    Start(photos.qpath());
    TProgressWindow progress(window.get());
    progress.window()->activateWindow();
    ASSERT_TRUE(QTest::qWaitForWindowActive(progress.window()));
    window->activateWindow();
    EXPECT_TRUE(QTest::qWaitFor([&] { return progress.window()->isActiveWindow(); }, 1000));
}
