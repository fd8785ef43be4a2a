// SPDX-License-Identifier: GPL-3.0-or-later
// Options take effect when chosen, and the keys a desktop user tries do what they say.
#include "session/settings_store.h"
#include "thumbs/thumbnail_cache.h"
#include "ui/support/window_fixture.h"
#include "ui/thumbs_per_row_dialog.h"

#include <QAction>
#include <QContextMenuEvent>
#include <QCursor>
#include <QMenu>
#include <QPushButton>
#include <QWheelEvent>

using namespace testing_support;

TEST_F(WindowTest, ChoosingAQualityReloadsTheThumbnailsFromTheCache) {
    MakePhotos(photos.qpath(), {1, 1, 1, 1}, 320, 240);
    Start(photos.qpath());
    ASSERT_TRUE(Action("pmiHiQuality")->isChecked());
    const QImage fine = window->thumbList()[0].thumbnail;
    window->thumbnailCache()->Flush();
    const int misses = window->thumbnailCache()->counts().misses;
    const int loads = window->loadCount();

    Action("pmiLowQuality")->trigger();
    EXPECT_EQ(window->loadCount(), loads + 1);
    ASSERT_EQ(window->thumbList().size(), 4u);
    const QImage low = window->thumbList()[0].thumbnail;
    EXPECT_NE(low, fine) << "made anew at the lower quality";
    EXPECT_EQ(window->thumbnailCache()->counts().misses, misses) << "scaled from the cache";

    Action("pmiHiQuality")->trigger();
    EXPECT_EQ(window->loadCount(), loads + 2);
    EXPECT_NE(window->thumbList()[0].thumbnail, low);
}

TEST_F(WindowTest, F5RefreshesAndTheOptionsMenuShowsIt) {
    MakePhotos(photos.qpath(), {1, 1});
    Start(photos.qpath());
    const int loads = window->loadCount();
    Grid()->setFocus();
    QTest::keyClick(Grid(), Qt::Key_F5);
    EXPECT_EQ(window->loadCount(), loads + 1);
    window->activateWindow(); // the progress window of the load had the focus
    ASSERT_TRUE(QTest::qWaitForWindowActive(window.get()));
    PathBox()->setFocus();
    QTest::keyClick(PathBox(), Qt::Key_F5);
    EXPECT_EQ(window->loadCount(), loads + 2) << "also while typing a path";

    Control<QMenu>(QStringLiteral("pmOptions"))->aboutToShow();
    EXPECT_TRUE(Action("pmiRefresh")->text().endsWith(QStringLiteral("\tF5")))
        << Action("pmiRefresh")->text().toStdString();
    Control<QMenu>(QStringLiteral("pmOptions"))->aboutToShow();
    EXPECT_EQ(Action("pmiRefresh")->text().count(u'\t'), 1) << "shown once, however often";
}

TEST_F(WindowTest, TheMenuKeyOpensThePopupAtTheSelectedPhoto) {
    MakePhotos(photos.qpath(), std::vector<int>(15, 1));
    Start(photos.qpath(), "\"ThumbsInRow\"=dword:0000000a\n");
    TDrawGrid* grid = Grid();
    auto* popup = Control<QMenu>(QStringLiteral("PopupMenu"));
    ClickCell(2, 1); // the 13th photo
    const QPoint atPhoto = grid->viewport()->mapToGlobal(grid->CellRect(12).center());
    const QPoint mouse = grid->viewport()->mapToGlobal(grid->CellRect(0).topLeft());
    QCursor::setPos(mouse);
    grid->setFocus();

    QTest::keyClick(grid, Qt::Key_Menu);
    ASSERT_TRUE(popup->isVisible());
    EXPECT_EQ(popup->pos(), atPhoto);
    popup->hide();

    QTest::keyClick(grid, Qt::Key_F10, Qt::ShiftModifier);
    ASSERT_TRUE(popup->isVisible());
    EXPECT_EQ(popup->pos(), atPhoto);
    popup->hide();

    // The window system's own keyboard request comes with the mouse's place.
    QContextMenuEvent request(QContextMenuEvent::Keyboard, grid->viewport()->mapFromGlobal(mouse),
                              mouse);
    QApplication::sendEvent(grid->viewport(), &request);
    ASSERT_TRUE(popup->isVisible());
    EXPECT_EQ(popup->pos(), atPhoto);
    popup->hide();

    QContextMenuEvent click(QContextMenuEvent::Mouse, grid->viewport()->mapFromGlobal(mouse),
                            mouse);
    QApplication::sendEvent(grid->viewport(), &click);
    ASSERT_TRUE(popup->isVisible());
    EXPECT_EQ(popup->pos(), mouse) << "a right click's menu stays at the mouse";
    popup->hide();
}

TEST_F(WindowTest, CtrlQClosesTheWindowAndKeepsTheSettings) {
    MakePhotos(photos.qpath(), {1, 1});
    Start(photos.qpath());
    Grid()->setColCount(7);
    PathBox()->setFocus(); // also while typing a path
    QTest::keyClick(PathBox(), Qt::Key_Q, Qt::ControlModifier);
    EXPECT_FALSE(window->isVisible());
    window.reset();
    session::SettingsStore store;
    ASSERT_TRUE(store.load(session::SettingsStore::DefaultPath()));
    EXPECT_EQ(store.readInteger("ThumbsInRow", 0), 7);
}

TEST_F(WindowTest, ShortcutsAreNamedInTheChosenLanguage) {
    Start(photos.qpath());
    QAction* deutsch = nullptr;
    for (QAction* a : Control<QMenu>("pmOptions")->actions())
        if (a->text().remove(u'&') == "Deutsch") deutsch = a;
    ASSERT_TRUE(deutsch);
    deutsch->trigger();
    EXPECT_TRUE(Action("ActionDelete")->toolTip().endsWith("(Strg+Entf)"))
        << Action("ActionDelete")->toolTip().toStdString();
    auto* popup = Control<QMenu>(QStringLiteral("PopupMenu"));
    popup->aboutToShow();
    QString deleteItem;
    for (QAction* item : popup->actions())
        if (item->objectName() == "pmiDelete") deleteItem = item->text();
    EXPECT_TRUE(deleteItem.endsWith("\tStrg+Entf")) << deleteItem.toStdString();
}

TEST(ThumbForm, ArrowKeysAndTheWheelChangeTheNumberAndOkStaysNotTheDefault) {
    TThumbForm form(nullptr, QString());
    form.udQty->setPosition(5);
    QTest::keyClick(form.leQty, Qt::Key_Up);
    EXPECT_EQ(form.udQty->position(), 6);
    QTest::keyClick(form.leQty, Qt::Key_Down);
    QTest::keyClick(form.leQty, Qt::Key_Down);
    EXPECT_EQ(form.leQty->text(), "4");
    const auto wheel = [&form](int delta) {
        QWheelEvent event(QPointF(5, 5), form.leQty->mapToGlobal(QPointF(5, 5)), {},
                          QPoint(0, delta), Qt::NoButton, Qt::NoModifier, Qt::NoScrollPhase, false);
        QApplication::sendEvent(form.leQty, &event);
    };
    wheel(120);
    EXPECT_EQ(form.udQty->position(), 5);
    wheel(-240);
    EXPECT_EQ(form.udQty->position(), 3);
    form.udQty->setPosition(20);
    QTest::keyClick(form.leQty, Qt::Key_Up);
    EXPECT_EQ(form.udQty->position(), 20) << "no more than 20";
    EXPECT_FALSE(form.btnOk->isDefault());
    EXPECT_FALSE(form.btnOk->autoDefault());
}
