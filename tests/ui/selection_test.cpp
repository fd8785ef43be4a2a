// SPDX-License-Identifier: GPL-3.0-or-later
// The grid selects as a file manager does: in list order, never a rectangle of rows and
// columns, and the commands act on exactly the photos selected.
#include "ui/grid_selection.h"
#include "ui/support/window_fixture.h"

#include <QAction>

#include "platform/file_io.h"

using namespace testing_support;

namespace {

std::vector<int> Range(int first, int last) {
    std::vector<int> out;
    for (int i = first; i <= last; ++i)
        out.push_back(i);
    return out;
}

class SelectionTest : public WindowTest {
protected:
    // Ten a row, as a user who tried it had them.
    QStringList StartTenARow(int photoCount) {
        const QStringList made = MakePhotos(photos.qpath(), std::vector<int>(photoCount, 1));
        Start(photos.qpath(), "\"ThumbsInRow\"=dword:0000000a\n");
        Grid()->setFocus();
        return made;
    }
    void ClickIndex(int index, Qt::KeyboardModifiers modifiers = Qt::NoModifier) {
        ClickCell(index % Grid()->ColCount(), index / Grid()->ColCount(), modifiers);
    }
    std::vector<int> Selected() const { return Grid()->Selection().Selected(); }
};

} // namespace

TEST(GridSelection, RangesFollowTheListAndCtrlKeepsTheRest) {
    ui::GridSelection selection;
    selection.SetCount(30);
    selection.SelectOnly(8);
    selection.ExtendTo(11, false);
    EXPECT_EQ(selection.Selected(), Range(8, 11));
    selection.ExtendTo(6, false); // the range turns round its anchor
    EXPECT_EQ(selection.Selected(), Range(6, 8));
    EXPECT_EQ(selection.Anchor(), 8);
    EXPECT_EQ(selection.Focus(), 6);

    selection.Toggle(20); // Ctrl+click: added, and the new anchor
    selection.ExtendTo(22, true);
    EXPECT_EQ(selection.Selected(), std::vector<int>({6, 7, 8, 20, 21, 22}));
    selection.ExtendTo(21, true); // shrinking the added range gives back what it took
    EXPECT_EQ(selection.Selected(), std::vector<int>({6, 7, 8, 20, 21}));
    selection.Toggle(7);
    EXPECT_FALSE(selection.IsSelected(7));
    EXPECT_EQ(selection.SelectedCount(), 4);

    selection.SetCount(8); // photos gone from the end leave the selection
    EXPECT_EQ(selection.Selected(), std::vector<int>({6}));
    EXPECT_LT(selection.Focus(), 8);
    selection.SelectAll();
    EXPECT_EQ(selection.Selected(), Range(0, 7));
    selection.SelectOnly(8); // past the end: nothing changes
    EXPECT_EQ(selection.SelectedCount(), 8);
}

TEST(GridSelection, KeysMoveInReadingOrderAndStayOnPhotos) {
    // 23 photos, ten a row: the last row holds 20, 21, 22.
    const auto to = [](int key, int from, bool control = false) {
        return ui::TargetOfKey(key, control, from, 23, 10, 2);
    };
    EXPECT_EQ(to(Qt::Key_Right, 9), 10) << "on to the next row";
    EXPECT_EQ(to(Qt::Key_Left, 10), 9);
    EXPECT_EQ(to(Qt::Key_Left, 0), 0);
    EXPECT_EQ(to(Qt::Key_Right, 22), 22);
    EXPECT_EQ(to(Qt::Key_Down, 5), 15);
    EXPECT_EQ(to(Qt::Key_Down, 15), 22) << "no photo below: the last one";
    EXPECT_EQ(to(Qt::Key_Down, 21), 21);
    EXPECT_EQ(to(Qt::Key_Up, 5), 5);
    EXPECT_EQ(to(Qt::Key_Up, 15), 5);
    EXPECT_EQ(to(Qt::Key_PageDown, 3), 22);
    EXPECT_EQ(to(Qt::Key_PageUp, 17), 7);
    EXPECT_EQ(to(Qt::Key_Home, 17), 10);
    EXPECT_EQ(to(Qt::Key_End, 21), 22) << "the row's end is its last photo";
    EXPECT_EQ(to(Qt::Key_Home, 17, true), 0);
    EXPECT_EQ(to(Qt::Key_End, 3, true), 22);
    EXPECT_EQ(to(Qt::Key_A, 3), -1);
    EXPECT_EQ(ui::TargetOfKey(Qt::Key_Right, false, 0, 0, 10, 2), -1) << "no photos";
}

TEST_F(SelectionTest, ShiftClickSelectsTheListRangeAndATurnTakesExactlyIt) {
    const QStringList made = StartTenARow(24);
    std::vector<Bytes> before;
    for (const QString& path : made)
        before.push_back(ReadFile(path.toStdString()));
    ClickIndex(8);                     // img_009 ...
    ClickIndex(11, Qt::ShiftModifier); // ... to img_012
    EXPECT_EQ(Selected(), Range(8, 11));
    EXPECT_EQ(window->SelectedPaths(), made.mid(8, 4));
    EXPECT_EQ(StatusText(1), "24 file(s), 4 selected");

    QTest::keyClick(Grid(), Qt::Key_L);
    for (int i = 0; i < made.size(); ++i)
        EXPECT_EQ(ReadFile(made[i].toStdString()) != before[std::size_t(i)], i >= 8 && i <= 11)
            << "photo " << i;
}

TEST_F(SelectionTest, CtrlClickAddsAndRemovesOnePhoto) {
    const QStringList made = StartTenARow(15);
    ClickIndex(2);
    ClickIndex(5, Qt::ControlModifier);
    ClickIndex(12, Qt::ControlModifier);
    EXPECT_EQ(Selected(), std::vector<int>({2, 5, 12}));
    EXPECT_EQ(window->selectedFile(), made[12]);
    ClickIndex(5, Qt::ControlModifier);
    EXPECT_EQ(window->SelectedPaths(), QStringList({made[2], made[12]}));
    EXPECT_EQ(StatusText(1), "15 file(s), 2 selected");
    ClickIndex(12, Qt::ShiftModifier | Qt::ControlModifier); // from the last anchor, 5
    EXPECT_EQ(Selected(), std::vector<int>({2, 5, 6, 7, 8, 9, 10, 11, 12}));
    ClickIndex(7);
    EXPECT_EQ(Selected(), std::vector<int>{7});
    EXPECT_EQ(StatusText(1), "15 file(s)") << "one selected: only the count";
}

TEST_F(SelectionTest, CtrlASelectsEveryPhotoAndNoEmptyCell) {
    const QStringList made = StartTenARow(13);
    QTest::keyClick(Grid(), Qt::Key_A, Qt::ControlModifier);
    EXPECT_EQ(Selected(), Range(0, 12));
    EXPECT_EQ(window->SelectedPaths(), made);
    EXPECT_EQ(StatusText(1), "13 file(s), 13 selected");
    ClickIndex(18); // past the last photo
    EXPECT_TRUE(Selected().empty());
    EXPECT_FALSE(window->HasSelectedImage());
}

TEST_F(SelectionTest, ShiftArrowsAndDraggingExtendInListOrder) {
    StartTenARow(30);
    ClickIndex(8);
    for (int i = 0; i < 3; ++i)
        QTest::keyClick(Grid(), Qt::Key_Right, Qt::ShiftModifier);
    EXPECT_EQ(Selected(), Range(8, 11));
    QTest::keyClick(Grid(), Qt::Key_Down, Qt::ShiftModifier);
    EXPECT_EQ(Selected(), Range(8, 21));
    QTest::keyClick(Grid(), Qt::Key_Right);
    EXPECT_EQ(Selected(), std::vector<int>{22}) << "a plain arrow selects one photo";

    TDrawGrid* grid = Grid();
    const auto centre = [grid](int index) { return grid->CellRect(index).center(); };
    QTest::mousePress(grid->viewport(), Qt::LeftButton, {}, centre(3));
    QMouseEvent move(QEvent::MouseMove, centre(14), grid->viewport()->mapToGlobal(centre(14)),
                     Qt::NoButton, Qt::LeftButton, Qt::NoModifier);
    QApplication::sendEvent(grid->viewport(), &move);
    QTest::mouseRelease(grid->viewport(), Qt::LeftButton, {}, centre(14));
    EXPECT_EQ(Selected(), Range(3, 14));
}

TEST_F(SelectionTest, SelectedCellsAreMarkedAndTheFocusIsToldApart) {
    StartTenARow(12);
    ClickIndex(1);
    ClickIndex(3, Qt::ShiftModifier); // 1 to 3 selected, the focus on 3
    ASSERT_TRUE(Grid()->hasFocus());
    const QImage shot = Grid()->viewport()->grab().toImage();
    const QColor highlight = Grid()->palette().color(QPalette::Highlight);
    const auto marked = [&](int index) {
        return shot.pixelColor(Grid()->CellRect(index).topLeft() + QPoint(1, 1)) == highlight;
    };
    EXPECT_FALSE(marked(0));
    EXPECT_TRUE(marked(1));
    EXPECT_TRUE(marked(3));
    EXPECT_FALSE(marked(4));
    // The focus frame runs along the inside of the cell's left edge.
    const auto framed = [&](int index) {
        const QRect cell = Grid()->CellRect(index);
        const QColor text = Grid()->palette().color(QPalette::WindowText);
        for (int y = cell.top() + 4; y < cell.bottom() - 4; ++y)
            if (shot.pixelColor(cell.left() + 3, y) == text) return true;
        return false;
    };
    EXPECT_TRUE(framed(3));
    EXPECT_FALSE(framed(1)) << "selected, but not the focus";
}

TEST_F(SelectionTest, AfterADeleteTheCountIsWhatIsListedAndOnePhotoIsSelected) {
    const QStringList made = StartTenARow(7);
    Action("pmiDeleteConfirm")->setChecked(false);
    ClickIndex(2);
    ClickIndex(4, Qt::ShiftModifier);
    QTest::keyClick(Grid(), Qt::Key_Delete, Qt::ControlModifier);
    EXPECT_EQ(GridPaths(), QStringList({made[0], made[1], made[5], made[6]}));
    EXPECT_EQ(StatusText(1), "4 file(s)");
    EXPECT_EQ(window->SelectedPaths(), QStringList{made[5]})
        << "the photos that moved up were never chosen";
    EXPECT_EQ(window->selectedFile(), made[5]);

    ClickIndex(3);
    QTest::keyClick(Grid(), Qt::Key_Delete, Qt::ControlModifier);
    EXPECT_EQ(StatusText(1), "3 file(s)");
    EXPECT_EQ(window->SelectedPaths(), QStringList{made[5]})
        << "the last photo's place: the new last";
}
