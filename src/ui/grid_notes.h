// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include <QObject>
#include <QSet>
#include <QString>

class QLabel;
class TDrawGrid;

namespace ui {

class FolderRoom;
class LanguageRoom;

// What the grid tells beyond its thumbnails: that a loaded folder has no photos, each photo's
// whole path in a tooltip of its cell, and, where subfolders give photos the same name, their
// folder in the caption.
class GridNotes : public QObject {
    Q_OBJECT
public:
    GridNotes(TDrawGrid& grid, const FolderRoom& folder, const LanguageRoom& language);

    // The caption under a photo: its name, or its path below the loaded folder when another
    // listed photo has the same name.
    QString Caption(const QString& path) const;

protected:
    bool eventFilter(QObject* watched, QEvent* event) override;

private:
    void FollowLoad();
    void ShowEmptyNote(bool shown);
    QString PathAt(QPoint viewportPos) const;

    TDrawGrid& m_grid;
    const FolderRoom& m_folder;
    const LanguageRoom& m_language;
    QLabel* m_empty;               // a child of the grid's viewport
    QWidget* m_viewport = nullptr; // the grid's, whose tooltips name the photo's path
    QSet<QString> m_repeated;      // names that more than one listed photo has
};

} // namespace ui
