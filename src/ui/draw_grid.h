// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include "thumbs/wheel_steps.h"

#include <QAbstractScrollArea>
#include <QPoint>
#include <QRect>

#include <functional>

class QImage;
class QMenu;

// An owner-drawn grid of equal cells with a rectangular range selection. The focused cell is
// where a range was started; extending the range moves only its other corner.
class TDrawGrid : public QAbstractScrollArea {
    Q_OBJECT
public:
    struct GridRect { // inclusive, as columns and rows
        int left = 0, top = 0, right = 0, bottom = 0;
    };

    explicit TDrawGrid(QWidget* parent = nullptr);

    int ColCount() const { return m_colCount; }
    void setColCount(int count);
    int RowCount() const { return m_rowCount; }
    void setRowCount(int count);
    int DefaultColWidth() const { return m_colWidth; }
    void setDefaultColWidth(int width);
    int DefaultRowHeight() const { return m_rowHeight; }
    void setDefaultRowHeight(int height);
    int TopRow() const { return m_topRow; }

    GridRect Selection() const;
    // Moves the focus and the selection to one cell, as a plain click does (without calling
    // the selection handler), and scrolls it into view.
    void setCurrentCell(int col, int row);
    void scrollToTop();
    void scrollLines(int rows);
    int clientWidth() const;
    static int scrollBarWidth();
    // One photo's cell: its thumbnail centred at the top, its name under it.
    void DrawThumbnail(QPainter& painter, const QRect& rect, const QImage& thumbnail,
                       const QString& name) const;

    // Wired by the owner.
    std::function<void(QPainter&, int col, int row, const QRect& rect, bool selected)> onDrawCell;
    std::function<void(int col, int row)> onSelectCell;
    std::function<void()> onDblClick;
    QMenu* PopupMenu = nullptr;

protected:
    void paintEvent(QPaintEvent*) override;
    void mousePressEvent(QMouseEvent*) override;
    void mouseMoveEvent(QMouseEvent*) override;
    void mouseDoubleClickEvent(QMouseEvent*) override;
    void wheelEvent(QWheelEvent*) override;
    void keyPressEvent(QKeyEvent*) override;
    void contextMenuEvent(QContextMenuEvent*) override;
    void resizeEvent(QResizeEvent*) override;
    void scrollContentsBy(int dx, int dy) override;

private:
    bool cellAt(QPoint viewportPos, QPoint& cell) const;
    void focusOn(QPoint cell);
    void extendTo(QPoint cell);
    void ensureVisible(int row);
    void updateScrollBar();
    int visibleRows() const;

    int m_colCount = 5;
    int m_rowCount = 1;
    int m_colWidth = 64;
    int m_rowHeight = 84;
    int m_topRow = 0;
    QPoint m_anchor{0, 0}; // focused cell, where the range started
    QPoint m_corner{0, 0}; // the other corner of the range
    thumbs::WheelSteps m_wheel;
};
