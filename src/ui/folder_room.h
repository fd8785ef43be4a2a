// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include "session/busy.h"
#include "session/folder_load.h"
#include "session/loaded_folder.h"
#include "thumbs/image_codec.h"

#include <QFuture>
#include <QObject>
#include <QString>
#include <QStringList>

#include <functional>
#include <memory>

class QAction;
class QMenu;
class QWidget;
namespace session {
struct UndoResult;
}
namespace thumbs {
class ThumbnailCache;
}

namespace ui {

class LanguageRoom;

// Keeps the window's events (a Cancel click, painting) flowing until `future` is done.
void WaitWhileResponsive(const QFuture<thumbs::Thumbnail>& future);

// The folder shown and its load: the loaded lists, the load generation and counts, the rule of
// what may run during a long loop, the leftovers told, the favorites and the start path.
// Boxes it shows sit over `window`.
class FolderRoom : public QObject {
    Q_OBJECT
public:
    // Marks the window busy for the life of one long loop.
    class LongLoop {
    public:
        using Kind = session::BusyRule::Loop;
        LongLoop(FolderRoom& room, Kind kind);
        ~LongLoop();
        LongLoop(const LongLoop&) = delete;
        LongLoop& operator=(const LongLoop&) = delete;

    private:
        FolderRoom& m_room;
        Kind m_kind;
    };

    FolderRoom(QWidget* window, const LanguageRoom& language,
               std::shared_ptr<thumbs::ThumbnailCache> cache);

    // Loads `folder` unless the automatic pass runs (the load is then owed, see reloadWanted).
    void Load(const QString& folder, const session::LoadOptions& options);
    // Loads `folder` when it is one; else tells the user why and leaves the lists and the
    // folder shown as they are. False when nothing was loaded.
    bool Open(const QString& folder, const session::LoadOptions& options);
    // Loads the folder shown anew. False when it is gone: the user is told, and its old photos
    // are no longer listed as if they were there (no folder is shown then; during the automatic
    // pass the lists stay the pass's).
    bool Reload(const session::LoadOptions& options);
    // The load owed since a long loop began, when its folder is still there.
    void RunDeferredLoad();
    // The window closes: running loops stop before their next photo, an owed load is dropped.
    void Close();
    void Clear();
    session::LoadGeneration::Stamp Watch() const { return m_generation.Watch(); }

    // True while a folder load or the automatic pass runs: nothing may then turn, delete or
    // reload from inside the loop.
    bool InLongLoop() const { return m_busy.InLongLoop(); }
    int loadCount() const { return m_loadCount; }         // loads started
    int loadsFinished() const { return m_loadsFinished; } // loads that ran to their end

    const QString& folder() const { return m_loaded.folder; }
    void SetFolder(const QString& folder) { m_loaded.folder = folder; }
    const session::ThumbList& thumbs() const { return m_loaded.thumbs; }
    const session::AutoList& autoList() const { return m_loaded.autoList; }
    // For the turns, which keep the automatic list up to date.
    session::AutoList& autoList() { return m_loaded.autoList; }
    int IndexOfThumb(const QString& path) const;
    const std::shared_ptr<thumbs::ThumbnailCache>& thumbnailCache() const { return m_thumbCache; }
    thumbs::Thumbnail MakeCachedThumbnail(const QString& path,
                                          const thumbs::ThumbnailOptions& options) const;
    // Puts a thumbnail made anew in place of the listed one; a photo without one leaves the list.
    void ReplaceThumbnail(const QString& path, thumbs::Thumbnail made);
    // The lists after an undo: photos turned back and a folder that is no longer the one shown.
    void FollowUndo(const session::UndoResult& undone);
    // Moves `paths` to the trash and out of the lists, after asking when `confirm`.
    void Delete(const QStringList& paths, bool confirm);

    void TellLeftover(const session::LeftoverNews& news);
    void TellLeftover(const platform::LeftoverResult& leftover);
    void ShowMissingFile(const QString& path);
    void ShowMissingFolder(const QString& path);

    // The folder or photo named on the command line, taken by the first showing; empty: none.
    void SetStartPath(const QString& path) { m_startPath = path; }
    // The folder to start in: the start path's, else `lastFolder`, else the desktop's Pictures,
    // else the documents.
    QString StartFolder(const QString& lastFolder);
    // The photo of the start path, once: later loads start at the first cell.
    QString TakeStartPhoto();
    static QString GetDocumentsFolder();

    const QStringList& favorites() const { return m_favorites; }
    void SetFavorites(const QStringList& favorites) { m_favorites = favorites; }
    // False when the folder is gone or a favorite already.
    bool AddCurrentFolder();
    static QString FavoriteCaption(const QString& path);
    bool RemoveFavorite(int index);
    // Favorites whose folder is gone; false when there were none.
    bool RemoveMissingFavorites();
    // The favorites menu anew: "Add Current Folder", one item per favorite, then a "Remove"
    // submenu and "Remove Missing Folders", which rebuild it.
    void BuildFavoritesMenu(QMenu* menu, const std::function<void()>& add,
                            const std::function<void(QAction*)>& choose);

signals:
    void busyChanged();
    // A load begins: the lists are empty and `folder` names what they will hold.
    void loadStarting();
    void folderBegun(const QString& folder);
    void unreadable();
    // A load ran to its end: the lists hold the folder's photos.
    void loaded();
    // A load owed since a long loop began may run now.
    void reloadWanted(const QString& folder);

private:
    QString Msg(const QString& key) const;
    void AddRemoveItems(QMenu* menu, const std::function<void()>& rebuild);

    QWidget* m_window;
    const LanguageRoom& m_language;
    session::LoadedFolder m_loaded;
    // A newer load supersedes one in progress: the older loop stops before its next photo.
    session::LoadGeneration m_generation;
    int m_loadCount = 0;
    int m_loadsFinished = 0;
    session::BusyRule m_busy;
    // Leftovers already reported (path, device, inode): told once per run, not at every reload.
    session::LeftoverResolver m_leftovers;
    QStringList m_favorites;
    QString m_startPath;  // from the command line
    QString m_startPhoto; // selected once the first load has run to its end
    // Masters of unchanged photos, so that a reload only scales; shared with the workers.
    std::shared_ptr<thumbs::ThumbnailCache> m_thumbCache;
    bool m_cacheOffTold = false; // a thumbnail folder that cannot be used, at the first load
};

} // namespace ui
