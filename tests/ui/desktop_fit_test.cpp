// SPDX-License-Identifier: GPL-3.0-or-later
// What a desktop user expects of the window: the EXIF dialog's copy, the licence About names.
#include "ui/desktop_commands.h"
#include "ui/exif_dialog.h"
#include "ui/support/window_fixture.h"

#include <QClipboard>
#include <QDir>
#include <QGuiApplication>
#include <QMenu>
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
    store.load(session::SettingsStore::DefaultPath());
    EXPECT_EQ(store.readString("MRU0", {}), rnd);
    EXPECT_EQ(store.readString("MRU1", {}), photos.qpath());
    EXPECT_FALSE(store.exists("MRU2"));
    EXPECT_FALSE(store.exists("MRU3"));
}
