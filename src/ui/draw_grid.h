// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include "thumbs/wheel_steps.h"
#include "ui/grid_selection.h"

#include <QAbstractScrollArea>
#include <QPoint>
#include <QRect>

#include <functional>

class QImage;
class QMenu;

// An owner-drawn grid of equal cells that lays a list out in reading order and selects in that
// order, as a file manager does: Shift selects the range between the anchor and a photo, Ctrl
// adds or removes one, Ctrl+A all. Cells past the last item are never selected.
class TDrawGrid : public QAbstractScrollArea {
    Q_OBJECT
public:
    explicit TDrawGrid(QWidget* parent = nullptr);

    int ColCount() const { return m_colCount; }
    void setColCount(int count);
    int RowCount() const { return m_rowCount; }
    int ItemCount() const { return m_selection.Count(); }
    // The rows follow: as many as the items fill, at least one.
    void setItemCount(int count);
    int DefaultColWidth() const { return m_colWidth; }
    void setDefaultColWidth(int width);
    int DefaultRowHeight() const { return m_rowHeight; }
    void setDefaultRowHeight(int height);
    int TopRow() const { return m_topRow; }

    const ui::GridSelection& Selection() const { return m_selection; }
    // Selects one item alone, as a plain click does (without calling the selection handler),
    // and scrolls it into view.
    void setCurrentIndex(int index);
    // The cell of an item in the viewport's coordinates.
    QRect CellRect(int index) const;
    // The pop-up menu at the focused cell, as the keyboard opens it.
    void ShowPopupAtFocus();
    void scrollToTop();
    void scrollLines(int rows);
    int clientWidth() const;
    static int scrollBarWidth();
    // A cell's background: selected ones plainly marked.
    void DrawCellBackground(QPainter& painter, const QRect& rect, bool selected) const;
    // One photo's cell: its thumbnail centred at the top, its name under it.
    void DrawThumbnail(QPainter& painter, const QRect& rect, const QImage& thumbnail,
                       const QString& name) const;

    // Wired by the owner. onSelectCell names the cell single-photo commands act on.
    std::function<void(QPainter&, int col, int row, const QRect& rect, bool selected)> onDrawCell;
    std::function<void(int col, int row)> onSelectCell;
    std::function<void()> onDblClick;
    QMenu* PopupMenu = nullptr;

signals:
    void selectionChanged();

protected:
    void paintEvent(QPaintEvent*) override;
    void mousePressEvent(QMouseEvent*) override;
    void mouseMoveEvent(QMouseEvent*) override;
    void mouseReleaseEvent(QMouseEvent*) override;
    void mouseDoubleClickEvent(QMouseEvent*) override;
    void wheelEvent(QWheelEvent*) override;
    void keyPressEvent(QKeyEvent*) override;
    void contextMenuEvent(QContextMenuEvent*) override;
    void resizeEvent(QResizeEvent*) override;
    void scrollContentsBy(int dx, int dy) override;

private:
    bool cellAt(QPoint viewportPos, QPoint& cell) const;
    int indexOf(QPoint cell) const { return cell.y() * m_colCount + cell.x(); }
    void clickOn(int index, Qt::KeyboardModifiers modifiers);
    bool moveByKey(const QKeyEvent& event);
    void tell(int index);
    void changed(int shownIndex);
    void drawFocusFrame(QPainter& painter, const QRect& rect) const;
    void ensureVisible(int row);
    void updateRows();
    void updateScrollBar();
    int visibleRows() const;

    int m_colCount = 5;
    int m_rowCount = 1;
    int m_colWidth = 64;
    int m_rowHeight = 84;
    int m_topRow = 0;
    ui::GridSelection m_selection;
    bool m_dragging = false;  // a press on a photo extends to where the mouse goes
    bool m_dragKeeps = false; // with Ctrl: the range is added to what was selected
    thumbs::WheelSteps m_wheel;
};
