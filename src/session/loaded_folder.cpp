// SPDX-License-Identifier: GPL-3.0-or-later
#include "session/loaded_folder.h"

#include "collection/scan.h"

#include <QFile>

#include <algorithm>

#include "platform/file_io.h"
#include "platform/leftovers.h"

namespace session {

void LoadedFolder::Begin(const QString& path) {
    autoList.clear();
    folder = collection::WithoutTrailingDelimiter(path);
    thumbs.clear();
}

platform::Result LoadedFolder::Add(const QString& path, thumbs::Thumbnail made) {
    if (!made.made()) return std::move(made.failure);
    autoList.NoteOrientation(path, made.orientation);
    thumbs.push_back({path, std::move(made.image)});
    return {};
}

void LoadedFolder::SortLists() {
    // Stable: paths equal under the comparison keep the order they were found in.
    std::stable_sort(thumbs.begin(), thumbs.end(), [](const ThumbEntry& a, const ThumbEntry& b) {
        return collection::PathLess(a.path, b.path);
    });
    std::stable_sort(autoList.begin(), autoList.end(), [](const AutoEntry& a, const AutoEntry& b) {
        return collection::PathLess(a.path, b.path);
    });
}

FolderScan ScanForLoad(const QString& folder, bool subfolders) {
    FolderScan scan;
    collection::ScanFolder(folder, subfolders, scan.photos, &scan.leftovers);
    return scan;
}

LeftoverNews LeftoverResolver::Resolve(const QString& leftover) {
    return News(platform::ResolveLeftover(QFile::encodeName(leftover).toStdString()));
}

LeftoverNews LeftoverResolver::News(const platform::LeftoverResult& outcome) {
    using Status = platform::LeftoverResult::Status;
    LeftoverNews news;
    news.leftover = QFile::decodeName(QByteArray::fromStdString(outcome.leftover));
    news.target = QFile::decodeName(QByteArray::fromStdString(outcome.target));
    if (outcome.status == Status::Finished) {
        news.kind = LeftoverNews::Kind::Finished;
        return news;
    }
    if (outcome.status != Status::Failed && outcome.status != Status::Foreign) return news;
    if (!m_reported.insert({outcome.leftover, outcome.device, outcome.inode}).second) return news;
    news.kind =
        outcome.status == Status::Failed ? LeftoverNews::Kind::Failed : LeftoverNews::Kind::Foreign;
    news.result = outcome.result;
    return news;
}

} // namespace session
