// SPDX-License-Identifier: GPL-3.0-or-later
// Thumbnails of the main window's images, and the orientation noted for the automatic pass.
#include "thumbs/image_codec.h"
#include "thumbs/thumbnail_cache.h"
#include "ui/draw_grid.h"
#include "ui/main_window.h"

#include <QAction>
#include <QFile>
#include <QFileInfo>
#include <QLabel>
#include <QScreen>
#include <QWindow>

thumbs::ThumbnailOptions TFormTulvex::ThumbnailOptions() const {
    return {DrawGrid->DefaultColWidth(), DrawGrid->DefaultRowHeight(), pmiHiQuality->isChecked(),
            pmiEnlargeSmall->isChecked(), DrawGrid->devicePixelRatioF()};
}

void TFormTulvex::FollowScreenDensity() {
    m_density = devicePixelRatioF();
    // Moved to a screen of another density: the thumbnails are made again for its pixels.
    connect(windowHandle(), &QWindow::screenChanged, this, [this] {
        if (devicePixelRatioF() == m_density) return;
        m_density = devicePixelRatioF();
        m_resizeTimer.start(); // reloads once the move has settled
    });
}

thumbs::Thumbnail TFormTulvex::MakeCachedThumbnail(const QString& path) const {
    return m_thumbCache ? m_thumbCache->MakeThumbnail(path, ThumbnailOptions())
                        : thumbs::MakeThumbnailImage(path, ThumbnailOptions());
}

void TFormTulvex::WarnUnreadable() {
    StatusPanel0->setText(Msg("Warning! Unable to read some images."));
}

std::optional<QImage> TFormTulvex::AcceptThumbnail(thumbs::Thumbnail thumb) {
    if (thumb.made()) return std::move(thumb.image);
    if (thumb.unreadable()) WarnUnreadable();
    return std::nullopt;
}

void TFormTulvex::RefreshThumbnail(const QString& path) {
    if (IndexOfThumb(path) < 0) {
        m_turnReport.ForgetKeptTimes(path);
        return;
    }
    // A turned photo has a new key, so its new master replaces the old one in the cache.
    ApplyRefreshedThumbnail(path, QFileInfo::exists(path) ? MakeCachedThumbnail(path)
                                                          : thumbs::Thumbnail{});
}

void TFormTulvex::RestoreKeptTimes(const QString& path) {
    m_turnReport.RestoreKeptTimes(path, m_thumbCache.get());
}

void TFormTulvex::ApplyRefreshedThumbnail(const QString& path, thumbs::Thumbnail made) {
    RestoreKeptTimes(path); // the thumbnail has been read by now
    const int index = IndexOfThumb(path);
    if (index < 0) return;
    ThumbEntry& entry = FThumbList[std::size_t(index)];
    entry.thumbnail = QImage();
    if (auto image = AcceptThumbnail(std::move(made))) entry.thumbnail = std::move(*image);
    if (entry.thumbnail.isNull()) FThumbList.erase(FThumbList.begin() + index);
}
