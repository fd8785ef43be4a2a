// SPDX-License-Identifier: GPL-3.0-or-later
// What a desktop user expects of the window: a first start in the desktop's Pictures folder and
// language, notes of the grid, favorites that can be removed, the EXIF dialog's copy and the
// licence About names.
#include "support/own_folders.h"
#include "ui/desktop_commands.h"
#include "ui/desktop_start.h"
#include "ui/exif_dialog.h"
#include "ui/support/window_fixture.h"

#include <QActionGroup>
#include <QCheckBox>
#include <QClipboard>
#include <QDir>
#include <QGuiApplication>
#include <QHelpEvent>
#include <QMenu>
#include <QToolTip>
#include <QTreeWidget>

using namespace testing_support;

TEST(About, NamesTheLicenceFileThePackageInstalls) {
    // cmake/Install.cmake puts resources/debian/copyright into share/doc/tulvex.
    EXPECT_EQ(ui::LicenseFileOf("/usr/bin"), "/usr/share/doc/tulvex/copyright");
    EXPECT_EQ(ui::LicenseFileOf("/opt/tulvex/bin/"), "/opt/tulvex/share/doc/tulvex/copyright");
}

TEST_F(WindowTest, ExifDialogNamesThePhotoGrowsAndCopiesValues) {
    ExifSpec spec;
    spec.ifd0.push_back({0x0110, 2, 8, Ascii("DMC-FZ8")});
    spec.exif.push_back({0x829A, 5, 1, Rational(1, 250, jpeg::ByteOrder::Little)});
    WriteFile(photos.file("a.jpg"), MakeJpegWithExif(32, 32, spec));
    Start(photos.qpath());
    QGuiApplication::clipboard()->setText("before");

    QString title, values, menuItem;
    bool resizable = false;
    AnswerNextDialog<TFormExif>([&](TFormExif* d) {
        title = d->windowTitle();
        resizable = d->minimumSize() != d->maximumSize();
        const QSize before = d->ListView->size();
        d->resize(d->width() + 200, d->height() + 100);
        resizable &= d->ListView->width() > before.width();
        d->ListView->topLevelItem(0)->setSelected(true);
        d->ListView->topLevelItem(2)->setSelected(true);
        d->ListView->setFocus();
        QTest::keyClick(d->ListView, Qt::Key_C, Qt::ControlModifier);
        values = QGuiApplication::clipboard()->text();
        if (!d->ListView->actions().isEmpty()) menuItem = d->ListView->actions().first()->text();
        QTest::keyClick(d, Qt::Key_Escape);
    });
    Action("ActionDisplayExif")->trigger();
    EXPECT_EQ(title, "a.jpg - EXIF Properties");
    EXPECT_TRUE(resizable) << "the list grows with the dialog";
    EXPECT_EQ(values, "Horizontal (normal)\n1/250") << "the selected rows' values, in list order";
    EXPECT_EQ(menuItem, "Copy") << "the list's context menu";
}

namespace {

QAction* ItemNamed(QMenu* menu, const QString& text) {
    for (QAction* a : menu->actions())
        if (a->text() == text) return a;
    return nullptr;
}

} // namespace

TEST_F(WindowTest, FavoritesShowTheirPathAndCanBeRemovedAlsoWhenGone) {
    MakePhotos(photos.qpath(), {1});
    const QString rnd = photos.mkdir("a/R&D");
    const QString alike = photos.mkdir("b/2019");
    const QString gone = photos.mkdir("c/2019");
    Start(photos.qpath(), "\"MRU0\"=\"" + rnd + "\"\n\"MRU1\"=\"" + alike + "\"\n\"MRU2\"=\"" +
                              gone + "\"\n\"MRU3\"=\"" + photos.qpath() + "\"\n");
    QDir(gone).removeRecursively();
    auto* menu = Control<QMenu>("pmMru");
    QAction* shown = ItemNamed(menu, "R&&D");
    ASSERT_TRUE(shown) << "a & is shown as itself, not as a shortcut letter";
    EXPECT_EQ(shown->toolTip(), rnd);
    EXPECT_TRUE(menu->toolTipsVisible());
    EXPECT_EQ(menu->actions().at(2)->toolTip(), alike) << "two 2019 told apart by their path";
    EXPECT_EQ(menu->actions().at(3)->toolTip(), gone);

    auto* remove = Control<QMenu>("pmRemoveFavorite");
    ASSERT_EQ(remove->actions().size(), 4);
    EXPECT_EQ(remove->actions().at(0)->text(), "R&&D");
    remove->actions().at(1)->trigger();
    EXPECT_EQ(window->favorites(), QStringList({rnd, gone, photos.qpath()}));

    QAction* missing = Action("pmiRemoveMissingFolders");
    EXPECT_TRUE(missing->isEnabled());
    missing->trigger();
    EXPECT_EQ(window->favorites(), QStringList({rnd, photos.qpath()}));
    EXPECT_FALSE(Action("pmiRemoveMissingFolders")->isEnabled()) << "none left to remove";
    EXPECT_EQ(Control<QMenu>("pmRemoveFavorite")->actions().size(), 2);

    window.reset(); // the store keeps its format: MRU0, MRU1, and no MRU2 left behind
    session::SettingsStore store;
    static_cast<void>(store.load(session::SettingsStore::DefaultPath()));
    EXPECT_EQ(store.readString("MRU0", {}), rnd);
    EXPECT_EQ(store.readString("MRU1", {}), photos.qpath());
    EXPECT_FALSE(store.exists("MRU2"));
    EXPECT_FALSE(store.exists("MRU3"));
}

TEST(DesktopStart, ReadsThePicturesFolderAsTheDesktopWritesIt) {
    const QString home = "/home/ann";
    EXPECT_EQ(ui::UserDirFromText("# written by xdg-user-dirs-update\n"
                                  "XDG_DESKTOP_DIR=\"$HOME/Schreibtisch\"\n"
                                  "XDG_PICTURES_DIR=\"$HOME/Bilder\"\n",
                                  "PICTURES", home),
              "/home/ann/Bilder");
    EXPECT_EQ(ui::UserDirFromText("XDG_PICTURES_DIR=\"/srv/photos/\"\n", "PICTURES", home),
              "/srv/photos");
    EXPECT_EQ(ui::UserDirFromText("XDG_PICTURES_DIR=\"$HOME/My \\\"Pics\\\"\"", "PICTURES", home),
              "/home/ann/My \"Pics\"");
    EXPECT_EQ(ui::UserDirFromText("XDG_PICTURES_DIR=\"$HOME/\"\n", "PICTURES", home), "")
        << "the home folder itself switches it off";
    EXPECT_EQ(ui::UserDirFromText("XDG_PICTURES_DIR=\"Bilder\"\n", "PICTURES", home), "");
    EXPECT_EQ(ui::UserDirFromText("# XDG_PICTURES_DIR=\"$HOME/Bilder\"\n", "PICTURES", home), "");
    EXPECT_EQ(ui::UserDirFromText(QByteArray(1000, '\0'), "PICTURES", home), "");
}

TEST(DesktopStart, TheDesktopsLanguageGivesTheFileShippedForIt) {
    const QStringList files{"/l/English.lng", "/l/Deutsch.lng", "/l/Español.lng",
                            "/l/Français.lng"};
    EXPECT_EQ(ui::LanguageFileFor({"de"}, files), "/l/Deutsch.lng");
    EXPECT_EQ(ui::LanguageFileFor({"fr"}, files), "/l/Français.lng");
    EXPECT_EQ(ui::LanguageFileFor({"es"}, files), "/l/Español.lng");
    EXPECT_EQ(ui::LanguageFileFor({"pt", "es"}, files), "/l/Español.lng") << "the first shipped";
    EXPECT_EQ(ui::LanguageFileFor({"pt"}, files), "");
    EXPECT_EQ(ui::LanguageFileFor({"de"}, {"/l/German.lng"}), "/l/German.lng");

    ScopedEnv lang("LANG", "de_DE.UTF-8");
    EXPECT_EQ(ui::DesktopLanguages(), QStringList{"de"});
    {
        ScopedEnv messages("LC_MESSAGES", "fr_CA.UTF-8@euro");
        ScopedEnv list("LANGUAGE", "es:en_GB");
        EXPECT_EQ(ui::DesktopLanguages(), QStringList({"es", "en", "fr"}));
        ScopedEnv all("LC_ALL", "C.UTF-8");
        EXPECT_TRUE(ui::DesktopLanguages().isEmpty()) << "the C locale asks for no language";
    }
}

namespace {

class FirstStartTest : public WindowTest {
protected:
    // Starts the window with the settings there are (none unless written) and waits for its load.
    void StartWithoutLastFolder() {
        window = std::make_unique<TFormTulvex>();
        window->show();
        WaitForLoads(1);
    }
    QStringList CheckedLanguages() const {
        QStringList checked;
        for (QAction* a : Control<QActionGroup>("LanguageGroup")->actions())
            if (a->isChecked()) checked << a->text();
        return checked;
    }
};

} // namespace

TEST_F(FirstStartTest, OpensThePicturesFolderTheDesktopNames) {
    ScopedEnv home("HOME", photos.qpath());
    const QString pictures = photos.mkdir("Bilder");
    const QStringList made = MakePhotos(pictures, {1, 1});
    QFile dirs(config.qfile("user-dirs.dirs"));
    ASSERT_TRUE(dirs.open(QIODevice::WriteOnly));
    dirs.write("XDG_PICTURES_DIR=\"$HOME/Bilder\"\n");
    dirs.close();
    StartWithoutLastFolder();
    EXPECT_EQ(window->folder(), pictures);
    EXPECT_EQ(GridPaths(), made);
    EXPECT_EQ(PathBox()->text(), pictures);
}

TEST_F(FirstStartTest, SpeaksTheDesktopsLanguageUnlessOneIsStored) {
    ScopedEnv lang("LANG", "de_DE.UTF-8");
    MakePhotos(photos.qpath(), {1});
    WriteSettings("\"LastFolder\"=\"" + photos.qpath() + "\"\n");
    StartWithoutLastFolder();
    EXPECT_EQ(Action("ActionRotateLeft")->text(), "Links drehen");
    EXPECT_EQ(CheckedLanguages(), QStringList{"Deutsch"});

    QString english;
    for (const QString& file : window->languageFiles())
        if (file.endsWith("/English.lng")) english = file;
    ASSERT_FALSE(english.isEmpty());
    window.reset();
    WriteSettings("\"LastFolder\"=\"" + photos.qpath() + "\"\n\"Language\"=\"" + english + "\"\n");
    StartWithoutLastFolder();
    EXPECT_EQ(Action("ActionRotateLeft")->text(), "Rotate Left") << "a stored choice wins";
    EXPECT_EQ(CheckedLanguages(), QStringList{"English"});
}

TEST_F(WindowTest, AnEmptyFolderSaysSoInTheGrid) {
    const QString empty = photos.mkdir("empty");
    const QString full = photos.mkdir("full");
    MakePhotos(full, {1});
    Start(empty);
    auto* note = Control<QLabel>("lblEmptyFolder");
    EXPECT_TRUE(note->isVisible());
    EXPECT_EQ(note->text(), "This folder contains no photos.");
    EXPECT_TRUE(Grid()->viewport()->rect().contains(note->geometry().center()));

    window->LoadFolder(full);
    EXPECT_FALSE(note->isVisible());
    window->LoadFolder(empty);
    EXPECT_TRUE(note->isVisible());
}

TEST_F(WindowTest, IncludeSubfoldersIsRememberedAndSameNamesAreToldApart) {
    const QStringList top = MakePhotos(photos.qpath(), {1});
    const QStringList a = MakePhotos(photos.mkdir("a"), {1});
    const QStringList b = MakePhotos(photos.mkdir("b"), {1, 1});
    Start(photos.qpath());
    EXPECT_EQ(GridPaths(), top);
    Control<QCheckBox>("cbSubFolders")->setChecked(true);
    WaitForLoads(2);
    window.reset();

    window = std::make_unique<TFormTulvex>();
    window->show();
    WaitForLoads(1);
    EXPECT_TRUE(Control<QCheckBox>("cbSubFolders")->isChecked()) << "remembered";
    ASSERT_EQ(GridPaths().size(), 4);
    const auto* notes = window->findChild<ui::GridNotes*>();
    ASSERT_TRUE(notes);
    EXPECT_EQ(notes->Caption(a[0]), "a/img00.jpg") << "img00.jpg is in three folders";
    EXPECT_EQ(notes->Caption(top[0]), "img00.jpg");
    EXPECT_EQ(notes->Caption(b[1]), "img01.jpg") << "a name of its own";

    // The cell's tooltip is the photo's whole path.
    const int index = int(GridPaths().indexOf(b[0]));
    ASSERT_GE(index, 0);
    const QPoint cell((index % Grid()->ColCount()) * Grid()->DefaultColWidth() + 5,
                      (index / Grid()->ColCount()) * Grid()->DefaultRowHeight() + 5);
    QHelpEvent help(QEvent::ToolTip, cell, Grid()->viewport()->mapToGlobal(cell));
    QApplication::sendEvent(Grid()->viewport(), &help);
    EXPECT_EQ(QToolTip::text(), b[0]);
}

TEST_F(WindowTest, ASecondCopyDoesNotOpenOnTopOfTheFirst) {
    MakePhotos(photos.qpath(), {1});
    WriteSettings("\"LastFolder\"=\"" + photos.qpath() +
                  "\"\n\"WinLeft\"=dword:00000064\n\"WinTop\"=dword:00000050\n");
    window = std::make_unique<TFormTulvex>();
    window->CascadeFromAnother();
    window->show();
    WaitForLoads(1);
    EXPECT_EQ(window->frameGeometry().topLeft(), QPoint(100 + 32, 80 + 32));
}
