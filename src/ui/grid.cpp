// SPDX-License-Identifier: GPL-3.0-or-later
// The thumbnail grid of the main window: cell size, painting, selection.
#include "collection/scan.h"
#include "ui/draw_grid.h"
#include "ui/main_window.h"

#include <QAction>
#include <QFileInfo>
#include <QPainter>

namespace {
const QColor kSelectedFill(180, 180, 180);
}

void TFormTulvex::FormResize(QObject* sender) {
    const int width =
        (DrawGrid->clientWidth() - TDrawGrid::scrollBarWidth() - 4) / DrawGrid->ColCount();
    DrawGrid->setDefaultColWidth(width);
    DrawGrid->setDefaultRowHeight(width + 20);
    if (sender && !FFolder.isEmpty() && QFileInfo(FFolder).isDir()) LoadFolder(FFolder);
}

void TFormTulvex::DrawGridDrawCell(QPainter& painter, int col, int row, const QRect& rect,
                                   bool selected) {
    painter.fillRect(rect, selected ? kSelectedFill : DrawGrid->palette().color(QPalette::Base));
    const std::int64_t index = col + std::int64_t(row) * DrawGrid->ColCount();
    if (index < 0 || index >= std::int64_t(FThumbList.size())) return;
    const ThumbEntry& entry = FThumbList[std::size_t(index)];
    if (entry.thumbnail.isNull()) return;
    const int w = DrawGrid->DefaultColWidth();
    const int h = DrawGrid->DefaultRowHeight();
    // Logical size: a thumbnail made for a dense screen has more pixels, not more room.
    const QSize size = entry.thumbnail.deviceIndependentSize().toSize();
    painter.drawImage(QRect(QPoint(rect.left() + (w - size.width()) / 2, rect.top() + 5), size),
                      entry.thumbnail);
    const QRect nameRect(rect.left() + 2, rect.top() + h - 20, rect.width() - 2, 15);
    painter.setPen(Qt::black);
    painter.setFont(DrawGrid->font());
    const QString name = painter.fontMetrics().elidedText(collection::FileNameOf(entry.path),
                                                          Qt::ElideRight, nameRect.width());
    painter.drawText(nameRect, Qt::AlignHCenter | Qt::AlignTop | Qt::TextSingleLine, name);
}

void TFormTulvex::DrawGridSelectCell(int col, int row) {
    FSelectedFile.clear();
    const std::int64_t index = col + std::int64_t(row) * DrawGrid->ColCount();
    if (index >= 0 && index < std::int64_t(FThumbList.size()) &&
        QFileInfo::exists(FThumbList[std::size_t(index)].path))
        FSelectedFile = FThumbList[std::size_t(index)].path;
}

void TFormTulvex::DrawGridDblClick() {
    UpdateActions();
    ActionOpen->trigger(); // does nothing while the command is disabled
}

bool TFormTulvex::HasSelectedImage() const {
    const TDrawGrid::GridRect sel = DrawGrid->Selection();
    const std::int64_t index = sel.left + std::int64_t(sel.top) * DrawGrid->ColCount();
    return index >= 0 && index < std::int64_t(FThumbList.size());
}
