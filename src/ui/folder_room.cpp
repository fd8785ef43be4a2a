// SPDX-License-Identifier: GPL-3.0-or-later
#include "ui/folder_room.h"

#include "collection/scan.h"
#include "session/delete_photos.h"
#include "session/messages.h"
#include "session/undo.h"
#include "thumbs/thumbnail_cache.h"
#include "ui/Lang.h"
#include "ui/desktop_start.h"
#include "ui/language_room.h"
#include "ui/progress_window.h"
#include "ui/shell.h"
#include "ui/window_names.h"

#include <QAction>
#include <QApplication>
#include <QDir>
#include <QEventLoop>
#include <QFileInfo>
#include <QFutureWatcher>
#include <QMenu>
#include <QStandardPaths>
#include <QTimer>

#include <algorithm>
#include <optional>
#include <utility>

#include "platform/log.h"
#include "platform/trash.h"

namespace ui {

namespace {

bool IsFolder(const QString& path) {
    return !path.isEmpty() && QFileInfo(path).isDir();
}

// The old items go once the signal that rebuilds the menu (one of theirs) has returned; out of
// the menu's children now, so that only the new ones are found by name.
void ClearMenu(QMenu* menu) {
    for (QAction* old : menu->actions()) {
        menu->removeAction(old);
        if (QMenu* sub = old->menu(); sub && sub->parent() == menu) {
            sub->setParent(nullptr);
            sub->deleteLater();
        }
        if (old->parent() == menu) {
            old->setParent(nullptr);
            old->deleteLater();
        }
    }
}

// A favorite as a menu shows it: the folder's name ("&" as itself), the whole path as its tip.
QAction* AddFavoriteItem(QMenu* menu, const QString& path, int index) {
    QString caption = FolderRoom::FavoriteCaption(path);
    auto* item = new QAction(caption.replace(u'&', QStringLiteral("&&")), menu);
    item->setProperty(kTagProperty, index);
    item->setToolTip(path);
    menu->addAction(item);
    return item;
}

} // namespace

void WaitWhileResponsive(const QFuture<thumbs::Thumbnail>& future) {
    if (future.isFinished()) return;
    // The window keeps handling its events (a Cancel click, painting) while the photo it needs
    // next is being made; nothing spins.
    QFutureWatcher<thumbs::Thumbnail> watcher;
    QEventLoop loop;
    QObject::connect(&watcher, &QFutureWatcherBase::finished, &loop, &QEventLoop::quit);
    watcher.setFuture(future);
    if (!future.isFinished()) loop.exec();
}

FolderRoom::LongLoop::LongLoop(FolderRoom& room, Kind kind) : m_room(room), m_kind(kind) {
    m_room.m_busy.Begin(m_kind);
    emit m_room.busyChanged();
}

FolderRoom::LongLoop::~LongLoop() {
    m_room.m_busy.End(m_kind);
    emit m_room.busyChanged();
    // A loop left by an error still owes the reload asked for during it.
    if (!m_room.InLongLoop() && m_room.m_busy.LoadOwed())
        QTimer::singleShot(0, &m_room,
                           [room = &m_room] { RunGuarded([room] { room->RunDeferredLoad(); }); });
}

FolderRoom::FolderRoom(QWidget* window, const LanguageRoom& language,
                       std::shared_ptr<thumbs::ThumbnailCache> cache)
    : m_window(window), m_language(language), m_thumbCache(std::move(cache)) {}

QString FolderRoom::Msg(const QString& key) const {
    return m_language.Msg(key);
}

void FolderRoom::Load(const QString& folder, const session::LoadOptions& options) {
    // The automatic pass works through the list a load would replace: the load waits for it.
    if (m_busy.DeferLoad(folder)) return;
    const LongLoop busy(*this, LongLoop::Kind::FolderLoad);
    // A load started while this one runs (a resize, Enter, a favorite) supersedes it: this
    // one then stops and leaves the lists to that load.
    const session::LoadGeneration::Stamp stamp = m_generation.Begin();
    ++m_loadCount;

    emit loadStarting();
    if (m_thumbCache && !m_thumbCache->diskResult().ok() && !std::exchange(m_cacheOffTold, true))
        Shell::current().message(m_window, QString(),
                                 session::Render(session::ReasonOf(m_thumbCache->diskResult()),
                                                 [this](const QString& e) { return Msg(e); }),
                                 Shell::Icon::Warning);
    std::optional<TProgressWindow> progress;
    session::LoadCalls calls;
    calls.begun = [this] { emit folderBegun(m_loaded.folder); };
    calls.leftover = [this](const session::LeftoverNews& news) { TellLeftover(news); };
    calls.scanned = [&](qsizetype photos) {
        if (photos == 0) return;
        progress.emplace(m_window);
        progress->SetInfoText(Msg("Creating thumbnails, please wait..."));
        progress->SetCancelCaption(Msg("Cancel"));
        progress->SetRange(0, int(photos));
    };
    calls.cancelled = [&] {
        QApplication::processEvents();
        return progress && progress->Cancelled();
    };
    calls.wait = [](const QFuture<thumbs::Thumbnail>& made) { WaitWhileResponsive(made); };
    calls.taken = [&](const session::LoadedPhoto& photo) {
        if (thumbs::IsUnreadable(photo.thumbnail)) emit unreadable();
        progress->StepBy(1);
    };
    const session::LoadResult result =
        session::LoadFolder(m_loaded, folder, options, m_leftovers, stamp, calls, m_thumbCache);
    progress.reset(); // gone before the grid is drawn
    if (result.end == session::LoadResult::End::Superseded) return;
    emit loaded();
    ++m_loadsFinished;
    qCDebug(lcLoad).noquote() << "loaded" << m_loaded.thumbs.size() << "photos from"
                              << m_loaded.folder;
}

void FolderRoom::RunDeferredLoad() {
    const std::optional<QString> folder = m_busy.TakeOwedLoad();
    if (folder && QFileInfo(*folder).isDir()) emit reloadWanted(*folder);
}

bool FolderRoom::Open(const QString& folder, const session::LoadOptions& options) {
    if (IsFolder(folder)) {
        Load(folder, options);
        return true;
    }
    if (folder.isEmpty()) return false;
    if (QFileInfo::exists(folder))
        Shell::current().message(
            m_window, QString(),
            FormatMessage(Msg("Cannot open \"%s\": it is not a folder."), {folder}),
            Shell::Icon::Warning);
    else
        ShowMissingFolder(folder);
    return false;
}

bool FolderRoom::Reload(const session::LoadOptions& options) {
    const QString folder = m_loaded.folder;
    if (folder.isEmpty()) return true; // nothing shown, nothing to tell
    if (IsFolder(folder)) {
        Load(folder, options);
        return true;
    }
    ShowMissingFolder(folder);
    // The automatic pass walks the lists: they stay its own until it ends.
    if (m_busy.DeferLoad(folder)) return true;
    m_generation.Begin(); // a load still running on the gone folder leaves the lists alone
    m_loaded.Begin(QString());
    return false;
}

void FolderRoom::Close() {
    m_generation.SupersedeAll();
    m_busy.DropOwedLoad();
}

void FolderRoom::Clear() {
    m_loaded.autoList.clear();
    m_loaded.thumbs.clear();
}

int FolderRoom::IndexOfThumb(const QString& path) const {
    return session::IndexOfThumb(m_loaded.thumbs, path);
}

thumbs::Thumbnail FolderRoom::MakeCachedThumbnail(const QString& path,
                                                  const thumbs::ThumbnailOptions& options) const {
    return m_thumbCache ? m_thumbCache->MakeThumbnail(path, options)
                        : thumbs::MakeThumbnailImage(path, options);
}

void FolderRoom::ReplaceThumbnail(const QString& path, thumbs::Thumbnail made) {
    const int index = IndexOfThumb(path);
    if (index < 0) return;
    session::ThumbEntry& entry = m_loaded.thumbs[std::size_t(index)];
    entry.thumbnail = QImage();
    if (made.made())
        entry.thumbnail = std::move(made.image);
    else if (made.unreadable())
        emit unreadable();
    if (entry.thumbnail.isNull()) m_loaded.thumbs.erase(m_loaded.thumbs.begin() + index);
}

void FolderRoom::FollowUndo(const session::UndoResult& undone) {
    session::FollowUndo(m_loaded.autoList, m_loaded.folder, undone);
}

void FolderRoom::Delete(const QStringList& paths, bool confirm) {
    session::DeleteConfirmation ask;
    if (confirm)
        ask = [this](int count) {
            return Shell::current().askYesNo(
                m_window, kTitle,
                FormatMessage(Msg("Do you want to move %u file(s) to the trash?"),
                              {QString::number(count)}));
        };
    QStringList failures;
    for (const session::DeleteResult& outcome : session::DeletePhotos(
             paths, ask, {&m_loaded.thumbs, &m_loaded.autoList}, platform::MoveToTrash))
        if (outcome.kind == session::DeleteResult::Kind::Failed)
            failures << session::Render(
                session::TrashFailed(
                    collection::FileNameOf(outcome.path).toLocal8Bit().toStdString(),
                    outcome.result),
                [this](const QString& english) { return Msg(english); });
    if (!failures.isEmpty())
        Shell::current().message(m_window, QString(), failures.join(u'\n'), Shell::Icon::Warning);
}

// A copy that cannot be put in place is told once per run, however often the folder is loaded:
// the resolver says when there is news.
void FolderRoom::TellLeftover(const session::LeftoverNews& news) {
    const std::optional<session::Message> told = session::LeftoverMessage(news);
    if (!told) return;
    const QString text =
        session::Render(*told, [this](const QString& english) { return Msg(english); });
    Shell::current().message(m_window, QString(), text,
                             news.kind == session::LeftoverNews::Kind::Finished
                                 ? Shell::Icon::Information
                                 : Shell::Icon::Warning);
}

void FolderRoom::TellLeftover(const platform::LeftoverResult& leftover) {
    TellLeftover(m_leftovers.News(leftover));
}

void FolderRoom::ShowMissingFolder(const QString& path) {
    Shell::current().message(
        m_window, QString(),
        FormatMessage(Msg("Cannot open \"%s\". The file or folder has been moved or deleted."),
                      {path}),
        Shell::Icon::Warning);
}

void FolderRoom::ShowMissingFile(const QString& path) {
    Shell::current().message(
        m_window, QString(),
        FormatMessage(Msg("Cannot open \"%s\". The file or folder has been moved or deleted."),
                      {collection::FileNameOf(path)}),
        Shell::Icon::Warning);
}

QString FolderRoom::StartFolder(const QString& lastFolder) {
    if (!m_startPath.isEmpty()) {
        const QFileInfo start(m_startPath);
        if (start.isDir()) return QDir::cleanPath(start.absoluteFilePath());
        if (start.exists()) {
            // The cell of this photo is selected once its folder has loaded; the path is spelt
            // as the scan spells it so that the look-up is exact.
            QString folder =
                collection::WithoutTrailingDelimiter(QDir::cleanPath(start.absolutePath()));
            m_startPhoto =
                (folder == QStringLiteral("/") ? folder : folder + u'/') + start.fileName();
            return folder;
        }
        ShowMissingFolder(m_startPath);
    }
    if (IsFolder(lastFolder)) return lastFolder;
    const QString pictures = PicturesFolder(); // a first start: where the desktop keeps photos
    return pictures.isEmpty() ? GetDocumentsFolder() : pictures;
}

QString FolderRoom::TakeStartPhoto() {
    return std::exchange(m_startPhoto, QString());
}

QString FolderRoom::GetDocumentsFolder() {
    const QString documents = QStandardPaths::writableLocation(QStandardPaths::DocumentsLocation);
    return IsFolder(documents) ? documents : QString();
}

bool FolderRoom::AddCurrentFolder() {
    if (!IsFolder(m_loaded.folder)) return false;
    for (const QString& favorite : m_favorites)
        if (collection::SamePath(favorite, m_loaded.folder)) return false;
    m_favorites.prepend(m_loaded.folder);
    while (m_favorites.size() > kMaxFavorites)
        m_favorites.removeLast();
    return true;
}

QString FolderRoom::FavoriteCaption(const QString& path) {
    // A root ("/") is shown whole; an empty favorite keeps the empty caption.
    if (path.endsWith(u'/')) return path;
    return collection::FileNameOf(path);
}

bool FolderRoom::RemoveFavorite(int index) {
    if (index < 0 || index >= m_favorites.size()) return false;
    m_favorites.removeAt(index);
    return true;
}

bool FolderRoom::RemoveMissingFavorites() {
    return m_favorites.removeIf([](const QString& favorite) { return !IsFolder(favorite); }) > 0;
}

void FolderRoom::BuildFavoritesMenu(QMenu* menu, const std::function<void()>& add,
                                    const std::function<void(QAction*)>& choose) {
    ClearMenu(menu);
    menu->setToolTipsVisible(true);
    auto* addItem = new QAction(Msg("Add Current Folder"), menu);
    addItem->setObjectName("pmiAddCurrentFolder");
    QFont bold = addItem->font();
    bold.setBold(true);
    addItem->setFont(bold);
    connect(addItem, &QAction::triggered, menu, [add] { RunGuarded(add); });
    menu->addAction(addItem);
    for (int i = 0; i < m_favorites.size(); ++i) {
        QAction* item = AddFavoriteItem(menu, m_favorites[i], i);
        connect(item, &QAction::triggered, menu,
                [choose, item] { RunGuarded([&choose, item] { choose(item); }); });
    }
    AddRemoveItems(menu, [this, menu, add, choose] { BuildFavoritesMenu(menu, add, choose); });
}

void FolderRoom::AddRemoveItems(QMenu* menu, const std::function<void()>& rebuild) {
    if (m_favorites.isEmpty()) return;
    menu->addSeparator();
    QMenu* remove = menu->addMenu(Msg("Remove"));
    remove->setObjectName("pmRemoveFavorite");
    remove->setToolTipsVisible(true);
    for (int i = 0; i < m_favorites.size(); ++i)
        connect(AddFavoriteItem(remove, m_favorites[i], i), &QAction::triggered, menu,
                [this, i, rebuild] {
                    RunGuarded([&] {
                        if (RemoveFavorite(i)) rebuild();
                    });
                });
    QAction* missing = menu->addAction(Msg("Remove Missing Folders"));
    missing->setObjectName("pmiRemoveMissingFolders");
    missing->setEnabled(std::any_of(m_favorites.begin(), m_favorites.end(),
                                    [](const QString& favorite) { return !IsFolder(favorite); }));
    connect(missing, &QAction::triggered, menu, [this, rebuild] {
        RunGuarded([&] {
            if (RemoveMissingFavorites()) rebuild();
        });
    });
}

} // namespace ui
