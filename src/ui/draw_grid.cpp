// SPDX-License-Identifier: GPL-3.0-or-later
#include "ui/draw_grid.h"

#include <QApplication>
#include <QKeyEvent>
#include <QMenu>
#include <QPainter>
#include <QScrollBar>
#include <QStyle>
#include <QStyleOptionFocusRect>

#include <algorithm>

TDrawGrid::TDrawGrid(QWidget* parent) : QAbstractScrollArea(parent) {
    setVerticalScrollBarPolicy(Qt::ScrollBarAlwaysOn);
    setHorizontalScrollBarPolicy(Qt::ScrollBarAlwaysOff);
    setFocusPolicy(Qt::StrongFocus);
    verticalScrollBar()->setSingleStep(1);
    verticalScrollBar()->setTracking(true);
    viewport()->setBackgroundRole(QPalette::Base);
}

void TDrawGrid::setColCount(int count) {
    m_colCount = std::max(1, count);
    viewport()->update();
}

void TDrawGrid::setRowCount(int count) {
    m_rowCount = std::max(1, count);
    m_anchor.setY(std::min(m_anchor.y(), m_rowCount - 1));
    m_corner.setY(std::min(m_corner.y(), m_rowCount - 1));
    updateScrollBar();
    viewport()->update();
}

void TDrawGrid::setDefaultColWidth(int width) {
    m_colWidth = std::max(1, width);
    viewport()->update();
}

void TDrawGrid::setDefaultRowHeight(int height) {
    m_rowHeight = std::max(1, height);
    updateScrollBar();
    viewport()->update();
}

TDrawGrid::GridRect TDrawGrid::Selection() const {
    return {std::min(m_anchor.x(), m_corner.x()), std::min(m_anchor.y(), m_corner.y()),
            std::max(m_anchor.x(), m_corner.x()), std::max(m_anchor.y(), m_corner.y())};
}

void TDrawGrid::setCurrentCell(int col, int row) {
    m_anchor = m_corner =
        QPoint(std::clamp(col, 0, m_colCount - 1), std::clamp(row, 0, m_rowCount - 1));
    ensureVisible(m_anchor.y());
    viewport()->update();
}

void TDrawGrid::scrollToTop() {
    verticalScrollBar()->setValue(0);
}

void TDrawGrid::scrollLines(int rows) {
    verticalScrollBar()->setValue(verticalScrollBar()->value() + rows);
}

int TDrawGrid::clientWidth() const {
    return width() - 2 * frameWidth();
}

int TDrawGrid::scrollBarWidth() {
    return QApplication::style()->pixelMetric(QStyle::PM_ScrollBarExtent);
}

int TDrawGrid::visibleRows() const {
    return std::max(1, viewport()->height() / m_rowHeight);
}

void TDrawGrid::updateScrollBar() {
    QScrollBar* bar = verticalScrollBar();
    bar->setRange(0, std::max(0, m_rowCount - visibleRows()));
    bar->setPageStep(visibleRows());
    m_topRow = bar->value();
}

void TDrawGrid::scrollContentsBy(int, int) {
    m_topRow = verticalScrollBar()->value();
    viewport()->update();
}

void TDrawGrid::resizeEvent(QResizeEvent* event) {
    QAbstractScrollArea::resizeEvent(event);
    updateScrollBar();
}

void TDrawGrid::paintEvent(QPaintEvent*) {
    QPainter painter(viewport());
    const GridRect sel = Selection();
    const int rows = viewport()->height() / m_rowHeight + 1;
    for (int r = m_topRow; r < m_rowCount && r <= m_topRow + rows; ++r) {
        for (int c = 0; c < m_colCount; ++c) {
            const QRect rect(c * m_colWidth, (r - m_topRow) * m_rowHeight, m_colWidth, m_rowHeight);
            const bool selected =
                c >= sel.left && c <= sel.right && r >= sel.top && r <= sel.bottom;
            if (onDrawCell) onDrawCell(painter, c, r, rect, selected);
            if (hasFocus() && QPoint(c, r) == m_anchor) {
                QStyleOptionFocusRect option;
                option.initFrom(this);
                option.rect = rect.adjusted(1, 1, -1, -1);
                style()->drawPrimitive(QStyle::PE_FrameFocusRect, &option, &painter, this);
            }
        }
    }
}

bool TDrawGrid::cellAt(QPoint pos, QPoint& cell) const {
    if (pos.x() < 0 || pos.y() < 0) return false;
    const int c = pos.x() / m_colWidth;
    const int r = m_topRow + pos.y() / m_rowHeight;
    if (c >= m_colCount || r >= m_rowCount) return false;
    cell = QPoint(c, r);
    return true;
}

void TDrawGrid::focusOn(QPoint cell) {
    m_anchor = m_corner = cell;
    ensureVisible(cell.y());
    viewport()->update();
    if (onSelectCell) onSelectCell(cell.x(), cell.y());
}

void TDrawGrid::extendTo(QPoint cell) {
    m_corner = cell;
    ensureVisible(cell.y());
    viewport()->update();
}

void TDrawGrid::ensureVisible(int row) {
    if (row < m_topRow)
        verticalScrollBar()->setValue(row);
    else if (row >= m_topRow + visibleRows())
        verticalScrollBar()->setValue(row - visibleRows() + 1);
}

void TDrawGrid::mousePressEvent(QMouseEvent* event) {
    QPoint cell;
    if (event->button() != Qt::LeftButton || !cellAt(event->position().toPoint(), cell)) return;
    if (event->modifiers() & Qt::ShiftModifier)
        extendTo(cell);
    else
        focusOn(cell);
}

void TDrawGrid::mouseMoveEvent(QMouseEvent* event) {
    QPoint cell;
    if ((event->buttons() & Qt::LeftButton) && cellAt(event->position().toPoint(), cell) &&
        cell != m_corner)
        extendTo(cell);
}

void TDrawGrid::mouseDoubleClickEvent(QMouseEvent* event) {
    if (event->button() == Qt::LeftButton && onDblClick) onDblClick();
}

void TDrawGrid::wheelEvent(QWheelEvent* event) {
    // One row per full notch; the selection stays where it is.
    if (const int rows = m_wheel.rowsFor(event->angleDelta().y()); rows != 0) scrollLines(rows);
    event->accept();
}

void TDrawGrid::keyPressEvent(QKeyEvent* event) {
    const bool extend = event->modifiers() & Qt::ShiftModifier;
    QPoint target = extend ? m_corner : m_anchor;
    switch (event->key()) {
    case Qt::Key_Left:
        target.rx() -= 1;
        break;
    case Qt::Key_Right:
        target.rx() += 1;
        break;
    case Qt::Key_Up:
        target.ry() -= 1;
        break;
    case Qt::Key_Down:
        target.ry() += 1;
        break;
    case Qt::Key_PageUp:
        target.ry() -= visibleRows();
        break;
    case Qt::Key_PageDown:
        target.ry() += visibleRows();
        break;
    case Qt::Key_Home:
        target = (event->modifiers() & Qt::ControlModifier) ? QPoint(0, 0) : QPoint(0, target.y());
        break;
    case Qt::Key_End:
        target = (event->modifiers() & Qt::ControlModifier) ? QPoint(m_colCount - 1, m_rowCount - 1)
                                                            : QPoint(m_colCount - 1, target.y());
        break;
    default:
        QAbstractScrollArea::keyPressEvent(event);
        return;
    }
    target = QPoint(std::clamp(target.x(), 0, m_colCount - 1),
                    std::clamp(target.y(), 0, m_rowCount - 1));
    if (extend)
        extendTo(target);
    else
        focusOn(target);
}

void TDrawGrid::contextMenuEvent(QContextMenuEvent* event) {
    if (PopupMenu) PopupMenu->popup(event->globalPos());
}

void TDrawGrid::DrawThumbnail(QPainter& painter, const QRect& rect, const QImage& thumbnail,
                              const QString& name) const {
    if (thumbnail.isNull()) return;
    const int w = DefaultColWidth();
    const int h = DefaultRowHeight();
    // Logical size: a thumbnail made for a dense screen has more pixels, not more room.
    const QSize size = thumbnail.deviceIndependentSize().toSize();
    painter.drawImage(QRect(QPoint(rect.left() + (w - size.width()) / 2, rect.top() + 5), size),
                      thumbnail);
    const QRect nameRect(rect.left() + 2, rect.top() + h - 20, rect.width() - 2, 15);
    painter.setPen(Qt::black);
    painter.setFont(font());
    const QString shown = painter.fontMetrics().elidedText(name, Qt::ElideRight, nameRect.width());
    painter.drawText(nameRect, Qt::AlignHCenter | Qt::AlignTop | Qt::TextSingleLine, shown);
}
