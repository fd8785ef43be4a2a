// SPDX-License-Identifier: GPL-3.0-or-later
// What a desktop user expects of the window: the EXIF dialog's copy, the licence About names.
#include "ui/desktop_commands.h"
#include "ui/exif_dialog.h"
#include "ui/support/window_fixture.h"

#include <QClipboard>
#include <QGuiApplication>
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
