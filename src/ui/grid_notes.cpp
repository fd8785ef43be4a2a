// SPDX-License-Identifier: GPL-3.0-or-later
#include "ui/grid_notes.h"

#include "collection/scan.h"
#include "ui/draw_grid.h"
#include "ui/folder_room.h"
#include "ui/language_room.h"

#include <QDir>
#include <QEvent>
#include <QHash>
#include <QHelpEvent>
#include <QLabel>
#include <QToolTip>
#include <QVBoxLayout>

namespace ui {

namespace {

const QString kEmptyFolder = QStringLiteral("This folder contains no photos.");

} // namespace

GridNotes::GridNotes(TDrawGrid& grid, const FolderRoom& folder, const LanguageRoom& language)
    : QObject(&grid), m_grid(grid), m_folder(folder), m_language(language),
      m_empty(new QLabel(grid.viewport())) {
    m_empty->setObjectName("lblEmptyFolder");
    m_empty->setAlignment(Qt::AlignCenter);
    m_empty->setWordWrap(true);
    m_empty->setForegroundRole(QPalette::PlaceholderText);
    auto* layout = new QVBoxLayout(grid.viewport()); // keeps the note in the middle
    layout->addWidget(m_empty);
    m_empty->hide();
    m_viewport = grid.viewport();
    m_viewport->installEventFilter(this);
    connect(&folder, &FolderRoom::loadStarting, this, [this] { ShowEmptyNote(false); });
    connect(&folder, &FolderRoom::loaded, this, &GridNotes::FollowLoad);
    connect(&language, &LanguageRoom::changed, this,
            [this] { m_empty->setText(m_language.Msg(kEmptyFolder)); });
}

void GridNotes::FollowLoad() {
    QHash<QString, int> seen;
    for (const session::ThumbEntry& entry : m_folder.thumbs())
        ++seen[collection::FileNameOf(entry.path)];
    m_repeated.clear();
    for (auto it = seen.cbegin(); it != seen.cend(); ++it)
        if (it.value() > 1) m_repeated.insert(it.key());
    ShowEmptyNote(m_folder.thumbs().empty());
}

void GridNotes::ShowEmptyNote(bool shown) {
    m_empty->setText(m_language.Msg(kEmptyFolder));
    m_empty->setVisible(shown);
}

QString GridNotes::Caption(const QString& path) const {
    const QString name = collection::FileNameOf(path);
    if (!m_repeated.contains(name)) return name;
    return QDir(m_folder.folder()).relativeFilePath(path);
}

QString GridNotes::PathAt(QPoint viewportPos) const {
    if (m_grid.DefaultColWidth() <= 0 || m_grid.DefaultRowHeight() <= 0) return {};
    const int col = viewportPos.x() / m_grid.DefaultColWidth();
    const int row = m_grid.TopRow() + viewportPos.y() / m_grid.DefaultRowHeight();
    if (viewportPos.x() < 0 || viewportPos.y() < 0 || col >= m_grid.ColCount()) return {};
    const std::int64_t index = col + std::int64_t(row) * m_grid.ColCount();
    const session::ThumbList& thumbs = m_folder.thumbs();
    return index < std::int64_t(thumbs.size()) ? thumbs[std::size_t(index)].path : QString();
}

bool GridNotes::eventFilter(QObject* watched, QEvent* event) {
    // The type first: other events reach the viewport also while the grid is being torn down.
    if (event->type() != QEvent::ToolTip || watched != m_viewport) return false;
    const auto* help = static_cast<QHelpEvent*>(event);
    const QString path = PathAt(help->pos());
    if (path.isEmpty())
        QToolTip::hideText();
    else
        QToolTip::showText(help->globalPos(), path, m_viewport);
    return true;
}

} // namespace ui
