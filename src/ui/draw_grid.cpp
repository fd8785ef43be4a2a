// SPDX-License-Identifier: GPL-3.0-or-later
#include "ui/draw_grid.h"

#include <QApplication>
#include <QKeyEvent>
#include <QMenu>
#include <QPainter>
#include <QScrollBar>
#include <QStyle>

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
    updateRows();
}

void TDrawGrid::setItemCount(int count) {
    m_selection.SetCount(count);
    updateRows();
}

void TDrawGrid::updateRows() {
    const int items = m_selection.Count();
    m_rowCount = std::max(1, items / m_colCount + (items % m_colCount != 0 ? 1 : 0));
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

void TDrawGrid::setCurrentIndex(int index) {
    m_selection.SelectOnly(index);
    changed(m_selection.Focus());
}

QRect TDrawGrid::CellRect(int index) const {
    return QRect(index % m_colCount * m_colWidth, (index / m_colCount - m_topRow) * m_rowHeight,
                 m_colWidth, m_rowHeight);
}

void TDrawGrid::ShowPopupAtFocus() {
    if (!PopupMenu) return;
    ensureVisible(m_selection.Focus() / m_colCount);
    PopupMenu->popup(viewport()->mapToGlobal(CellRect(m_selection.Focus()).center()));
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
    const int rows = viewport()->height() / m_rowHeight + 1;
    for (int r = m_topRow; r < m_rowCount && r <= m_topRow + rows; ++r) {
        for (int c = 0; c < m_colCount; ++c) {
            const int index = indexOf(QPoint(c, r));
            const QRect rect = CellRect(index);
            if (onDrawCell) onDrawCell(painter, c, r, rect, m_selection.IsSelected(index));
            if (hasFocus() && index == m_selection.Focus() && index < ItemCount())
                drawFocusFrame(painter, rect);
        }
    }
}

void TDrawGrid::DrawCellBackground(QPainter& painter, const QRect& rect, bool selected) const {
    const QColor base = palette().color(QPalette::Base);
    painter.fillRect(rect, base);
    if (!selected) return;
    QColor fill = palette().color(QPalette::Highlight);
    fill.setAlpha(90);
    painter.fillRect(rect, fill);
    painter.setPen(QPen(palette().color(QPalette::Highlight), 2));
    painter.setBrush(Qt::NoBrush);
    painter.drawRect(rect.adjusted(1, 1, -1, -1));
}

// Told apart from the selection's marks: also among several selected cells.
void TDrawGrid::drawFocusFrame(QPainter& painter, const QRect& rect) const {
    painter.setPen(QPen(palette().color(QPalette::WindowText), 1, Qt::DashLine));
    painter.setBrush(Qt::NoBrush);
    painter.drawRect(rect.adjusted(3, 3, -4, -4));
}

bool TDrawGrid::cellAt(QPoint pos, QPoint& cell) const {
    if (pos.x() < 0 || pos.y() < 0) return false;
    const int c = pos.x() / m_colWidth;
    const int r = m_topRow + pos.y() / m_rowHeight;
    if (c >= m_colCount || r >= m_rowCount) return false;
    cell = QPoint(c, r);
    return true;
}

void TDrawGrid::tell(int index) {
    if (onSelectCell) onSelectCell(index % m_colCount, index / m_colCount);
}

void TDrawGrid::changed(int shownIndex) {
    ensureVisible(shownIndex / m_colCount);
    viewport()->update();
    emit selectionChanged();
}

void TDrawGrid::ensureVisible(int row) {
    if (row < m_topRow)
        verticalScrollBar()->setValue(row);
    else if (row >= m_topRow + visibleRows())
        verticalScrollBar()->setValue(row - visibleRows() + 1);
}

void TDrawGrid::clickOn(int index, Qt::KeyboardModifiers modifiers) {
    const bool control = modifiers & Qt::ControlModifier;
    if (modifiers & Qt::ShiftModifier) {
        m_selection.ExtendTo(index, control); // the start keeps its photo for the commands
    } else if (control) {
        m_selection.Toggle(index);
        const std::vector<int> selected = m_selection.Selected();
        tell(m_selection.IsSelected(index) || selected.empty() ? index : selected.front());
    } else {
        m_selection.SelectOnly(index);
        tell(index);
    }
    changed(index);
}

void TDrawGrid::mousePressEvent(QMouseEvent* event) {
    QPoint cell;
    if (event->button() != Qt::LeftButton || !cellAt(event->position().toPoint(), cell)) return;
    const int index = indexOf(cell);
    const bool extends = (event->modifiers() & Qt::ShiftModifier) && ItemCount() > 0;
    m_dragging = index < ItemCount() || extends;
    m_dragKeeps = event->modifiers() & Qt::ControlModifier;
    if (m_dragging) { // a range past the last photo ends at it
        clickOn(std::min(index, ItemCount() - 1), event->modifiers());
        return;
    }
    // Past the last photo: nothing is selected, and no photo named.
    m_selection.Clear();
    tell(index);
    changed(m_selection.Focus());
}

void TDrawGrid::mouseMoveEvent(QMouseEvent* event) {
    QPoint cell;
    if (!m_dragging || !(event->buttons() & Qt::LeftButton) ||
        !cellAt(event->position().toPoint(), cell))
        return;
    const int index = std::min(indexOf(cell), ItemCount() - 1);
    if (index == m_selection.Focus()) return;
    m_selection.ExtendTo(index, m_dragKeeps);
    changed(index);
}

void TDrawGrid::mouseReleaseEvent(QMouseEvent* event) {
    if (event->button() == Qt::LeftButton) m_dragging = false;
}

void TDrawGrid::mouseDoubleClickEvent(QMouseEvent* event) {
    if (event->button() == Qt::LeftButton && onDblClick) onDblClick();
}

void TDrawGrid::wheelEvent(QWheelEvent* event) {
    // One row per full notch; the selection stays where it is.
    if (const int rows = m_wheel.rowsFor(event->angleDelta().y()); rows != 0) scrollLines(rows);
    event->accept();
}

bool TDrawGrid::moveByKey(const QKeyEvent& event) {
    const bool control = event.modifiers() & Qt::ControlModifier;
    const int target = ui::TargetOfKey(event.key(), control, m_selection.Focus(), ItemCount(),
                                       m_colCount, visibleRows());
    if (target < 0) return false;
    if (event.modifiers() & Qt::ShiftModifier) {
        m_selection.ExtendTo(target, control);
    } else {
        m_selection.SelectOnly(target);
        tell(target);
    }
    changed(target);
    return true;
}

void TDrawGrid::keyPressEvent(QKeyEvent* event) {
    const bool control = event->modifiers() & Qt::ControlModifier;
    if (event->matches(QKeySequence::SelectAll) && ItemCount() > 0) {
        m_selection.SelectAll();
        tell(m_selection.Focus());
        changed(m_selection.Focus());
    } else if (event->key() == Qt::Key_Space && control && ItemCount() > 0) {
        clickOn(m_selection.Focus(), Qt::ControlModifier);
    } else if (event->key() == Qt::Key_Menu ||
               (event->key() == Qt::Key_F10 && event->modifiers() == Qt::ShiftModifier)) {
        ShowPopupAtFocus();
    } else if (!moveByKey(*event)) {
        QAbstractScrollArea::keyPressEvent(event);
    }
}

void TDrawGrid::contextMenuEvent(QContextMenuEvent* event) {
    if (!PopupMenu) return;
    // The keyboard's menu comes at the photo, not wherever the mouse happens to be.
    if (event->reason() == QContextMenuEvent::Keyboard) {
        if (!PopupMenu->isVisible()) ShowPopupAtFocus();
        return;
    }
    PopupMenu->popup(event->globalPos());
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
