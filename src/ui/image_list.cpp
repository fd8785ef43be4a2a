// SPDX-License-Identifier: GPL-3.0-or-later
// The image list of the main window: loading a folder and finding its entries.
#include "collection/scan.h"
#include "session/folder_load.h"
#include "session/messages.h"
#include "thumbs/thumbnail_cache.h"
#include "ui/Lang.h"
#include "ui/draw_grid.h"
#include "ui/main_window.h"
#include "ui/progress_window.h"
#include "ui/shell.h"

#include <QApplication>
#include <QCheckBox>
#include <QEventLoop>
#include <QFile>
#include <QFutureWatcher>
#include <QLabel>
#include <QLineEdit>

#include <algorithm>
#include <cstring>
#include <optional>
#include <utility>

#include "platform/file_io.h"
#include "platform/log.h"

// A copy that cannot be put in place is told once per run, however often the folder is loaded:
// the resolver says when there is news.
void TFormTulvex::TellLeftover(const session::LeftoverNews& news) {
    const std::optional<session::Message> told = session::LeftoverMessage(news);
    if (!told) return;
    const QString text =
        session::Render(*told, [this](const QString& english) { return Msg(english); });
    ui::Shell::current().message(this, QString(), text,
                                 news.kind == session::LeftoverNews::Kind::Finished
                                     ? ui::Shell::Icon::Information
                                     : ui::Shell::Icon::Warning);
}

void TFormTulvex::LoadFolder(const QString& folder) {
    // The automatic pass works through the list a load would replace: the load waits for it.
    if (m_busy.DeferLoad(folder)) return;
    const LongLoop busy(*this, LongLoop::Kind::FolderLoad);
    // A load started while this one runs (a resize, Enter, a favorite) supersedes it: this
    // one then stops and leaves the lists to that load.
    const session::LoadGeneration::Stamp stamp = m_generation.Begin();
    ++m_loadCount;

    StatusPanel0->clear();
    if (m_thumbCache && !m_thumbCache->diskResult().ok() && !std::exchange(m_cacheOffTold, true))
        ui::Shell::current().message(
            this, QString(),
            session::Render(session::ReasonOf(m_thumbCache->diskResult()),
                            [this](const QString& english) { return Msg(english); }),
            ui::Shell::Icon::Warning);
    std::optional<TProgressWindow> progress;
    session::LoadCalls calls;
    calls.begun = [this] { edPath->setText(FFolder); };
    calls.leftover = [this](const session::LeftoverNews& news) { TellLeftover(news); };
    calls.scanned = [&](qsizetype photos) {
        if (photos == 0) return;
        progress.emplace(this);
        progress->SetInfoText(Msg("Creating thumbnails, please wait..."));
        progress->SetCancelCaption(Msg("Cancel"));
        progress->SetRange(0, int(photos));
    };
    calls.cancelled = [&] {
        QApplication::processEvents();
        return progress && progress->Cancelled();
    };
    calls.wait = [this](const QFuture<thumbs::Thumbnail>& made) { WaitWhileResponsive(made); };
    calls.taken = [&](const session::LoadedPhoto& photo) {
        if (thumbs::IsUnreadable(photo.thumbnail)) WarnUnreadable();
        progress->StepBy(1);
    };
    const session::LoadOptions options{cbSubFolders->isChecked(), ThumbnailOptions()};
    const session::LoadResult loaded =
        session::LoadFolder(m_loaded, folder, options, m_leftovers, stamp, calls, m_thumbCache);
    progress.reset(); // gone before the grid is drawn
    if (loaded.end == session::LoadResult::End::Superseded) return;

    AddThumbRows();
    DrawGrid->setCurrentCell(0, 0);
    DrawGrid->viewport()->repaint();
    DrawGrid->scrollToTop();
    DrawGridSelectCell(0, 0);
    SelectStartPhoto();
    SetStatusCount();
    UpdateActions();
    ++m_loadsFinished;
    qCDebug(lcLoad).noquote() << "loaded" << FThumbList.size() << "photos from" << FFolder;
}

void TFormTulvex::WaitWhileResponsive(const QFuture<thumbs::Thumbnail>& future) {
    if (future.isFinished()) return;
    // The window keeps handling its events (a Cancel click, painting) while the photo it needs
    // next is being made; nothing spins.
    QFutureWatcher<thumbs::Thumbnail> watcher;
    QEventLoop loop;
    connect(&watcher, &QFutureWatcherBase::finished, &loop, &QEventLoop::quit);
    watcher.setFuture(future);
    if (!future.isFinished()) loop.exec();
}

void TFormTulvex::ClearThumbnails() {
    FThumbList.clear();
}

void TFormTulvex::AddThumbRows() {
    const int n = int(FThumbList.size());
    const int c = DrawGrid->ColCount();
    DrawGrid->setRowCount(n / c + (n % c != 0 ? 1 : 0));
}

void TFormTulvex::RepaintGrid() {
    DrawGrid->viewport()->update();
}

void TFormTulvex::SetStatusCount() {
    StatusPanel1->setText(FormatMessage(QStringLiteral("%u ") + Msg("file(s)"),
                                        {QString::number(FThumbList.size())}));
}

int TFormTulvex::IndexOfThumb(const QString& path) const {
    return session::IndexOfThumb(FThumbList, path);
}

int TFormTulvex::IndexOfAuto(const QString& path) const {
    return FAutoList.IndexOf(path);
}
