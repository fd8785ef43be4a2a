// SPDX-License-Identifier: GPL-3.0-or-later
#include "ui/folder_room.h"

#include "collection/scan.h"
#include "session/delete_photos.h"
#include "session/undo.h"
#include "thumbs/thumbnail_cache.h"
#include "ui/Lang.h"
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

#include <optional>
#include <utility>

#include "platform/log.h"
#include "platform/trash.h"

namespace ui {

namespace {

bool IsFolder(const QString& path) {
    return !path.isEmpty() && QFileInfo(path).isDir();
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
    for (const session::DeleteOutcome& outcome : session::DeletePhotos(
             paths, ask, {&m_loaded.thumbs, &m_loaded.autoList}, platform::MoveToTrash))
        if (outcome.kind == session::DeleteOutcome::Kind::Failed)
            failures << FormatMessage(Msg("Unable to move \"%s\" to the trash: %s"),
                                      {collection::FileNameOf(outcome.path),
                                       QString::fromLocal8Bit(outcome.result.text())});
    if (!failures.isEmpty())
        Shell::current().message(m_window, QString(), failures.join(u'\n'), Shell::Icon::Warning);
}

// A copy that cannot be put in place is told once per run, however often the folder is loaded:
// the resolver says when there is news.
void FolderRoom::TellLeftover(const session::LeftoverNews& news) {
    using Kind = session::LeftoverNews::Kind;
    if (news.kind == Kind::Finished) {
        Shell::current().message(
            m_window, QString(),
            FormatMessage(Msg("The interrupted turn of %s was finished from its complete copy."),
                          {news.target}),
            Shell::Icon::Information);
        return;
    }
    if (news.kind == Kind::None) return;
    const QString text =
        news.kind == Kind::Failed
            ? FormatMessage(Msg("The interrupted turn of %s could not be finished (%s); its "
                                "complete turned copy stays in %s."),
                            {news.target, news.why, news.leftover})
            : FormatMessage(Msg("%s is named like a copy kept during a turn, but belongs to no "
                                "photo here; it was left as it is."),
                            {news.leftover});
    Shell::current().message(m_window, QString(), text, Shell::Icon::Warning);
}

void FolderRoom::TellLeftover(const platform::LeftoverOutcome& leftover) {
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
    return IsFolder(lastFolder) ? lastFolder : GetDocumentsFolder();
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

void FolderRoom::BuildFavoritesMenu(QMenu* menu, const std::function<void()>& add,
                                    const std::function<void(QAction*)>& choose) const {
    for (QAction* old : menu->actions()) {
        menu->removeAction(old);
        delete old;
    }
    auto* addItem = new QAction(Msg("Add Current Folder"), menu);
    addItem->setObjectName("pmiAddCurrentFolder");
    QFont bold = addItem->font();
    bold.setBold(true);
    addItem->setFont(bold);
    connect(addItem, &QAction::triggered, menu, [add] { RunGuarded(add); });
    menu->addAction(addItem);
    for (int i = 0; i < m_favorites.size(); ++i) {
        auto* item = new QAction(FavoriteCaption(m_favorites[i]), menu);
        item->setProperty(kTagProperty, i);
        connect(item, &QAction::triggered, menu,
                [choose, item] { RunGuarded([&choose, item] { choose(item); }); });
        menu->addAction(item);
    }
}

} // namespace ui
