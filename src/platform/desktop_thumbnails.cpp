// SPDX-License-Identifier: GPL-3.0-or-later
#include "platform/desktop_thumbnails.h"

#include <QCryptographicHash>
#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QUrl>

#include <dirent.h>
#include <fcntl.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <memory>
#include <string>
#include <string_view>

#include "platform/file_io.h"
#include "platform/xdg_dirs.h"

namespace platform {
namespace {

// A crafted cache with thousands of folders or files must not make a turn crawl.
constexpr int kMaxFolders = 256;
constexpr int kMaxEntries = 4096;

// The characters GLib leaves as they are in the path of a file:// address.
bool KeptInPath(unsigned char c) {
    if ((c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z') || (c >= '0' && c <= '9')) return true;
    return QByteArray("!$&'()*+,-./:=@_~").contains(char(c));
}

QByteArray GlibUri(const QByteArray& native) {
    static constexpr char kHex[] = "0123456789ABCDEF";
    QByteArray uri("file://");
    for (const char ch : native) {
        const auto c = static_cast<unsigned char>(ch);
        if (KeptInPath(c)) {
            uri += ch;
            continue;
        }
        uri += '%';
        uri += kHex[c >> 4];
        uri += kHex[c & 15];
    }
    return uri;
}

void AddUris(const QString& path, std::vector<QByteArray>& uris) {
    if (path.isEmpty()) return;
    for (const QByteArray& uri :
         {GlibUri(QFile::encodeName(path)), QUrl::fromLocalFile(path).toEncoded()}) {
        if (std::find(uris.begin(), uris.end(), uri) == uris.end()) uris.push_back(uri);
    }
}

// A folder below `parent`, never through a link: a link there may point anywhere, also at a
// folder of another user's that holds files named like ours.
UniqueFd OpenFolderAt(int parent, const char* name) {
    return UniqueFd(
        ::openat(parent, name, O_RDONLY | O_DIRECTORY | O_NOFOLLOW | O_CLOEXEC | O_NOCTTY));
}

struct DirCloser {
    void operator()(DIR* dir) const { ::closedir(dir); }
};

// The names of the subfolders of `folder` that hold thumbnails, `fail` left out, sorted. Read
// through a copy of the descriptor, since closedir closes the one it was given.
std::vector<std::string> ThumbnailFolderNames(int folder) {
    std::vector<std::string> names;
    UniqueFd copy(::fcntl(folder, F_DUPFD_CLOEXEC, 0));
    if (!copy.valid()) return names;
    const std::unique_ptr<DIR, DirCloser> listing(::fdopendir(copy.get()));
    if (!listing) return names;
    copy.release();
    ::rewinddir(listing.get()); // the copy shares the offset of the descriptor it copies
    for (int seen = 0; seen < kMaxEntries; ++seen) {
        const dirent* entry = ::readdir(listing.get());
        if (!entry) break;
        const std::string_view name = entry->d_name;
        if (name == "." || name == ".." || name == "fail") continue;
        if (entry->d_type != DT_DIR && entry->d_type != DT_UNKNOWN) continue;
        names.emplace_back(name);
    }
    std::sort(names.begin(), names.end());
    if (names.size() > std::size_t(kMaxFolders)) names.resize(std::size_t(kMaxFolders));
    return names;
}

// Removes `files` from each thumbnail subfolder of `folder`, relative to that subfolder's own
// descriptor: a subfolder swapped for a link after the listing is not entered either.
int RemoveFromSubfolders(int folder, const std::vector<QByteArray>& files) {
    int removed = 0;
    for (const std::string& name : ThumbnailFolderNames(folder)) {
        const UniqueFd subfolder = OpenFolderAt(folder, name.c_str());
        if (!subfolder.valid()) continue;
        for (const QByteArray& file : files) {
            if (::unlinkat(subfolder.get(), file.constData(), 0) == 0) ++removed;
        }
    }
    return removed;
}

} // namespace

QString DesktopThumbnailsFolder() {
    return XdgBaseDir("XDG_CACHE_HOME", QStringLiteral(".cache")) + "/thumbnails";
}

std::vector<QByteArray> DesktopThumbnailUris(const QString& path) {
    std::vector<QByteArray> uris;
    const QFileInfo info(path);
    AddUris(QDir::cleanPath(info.absoluteFilePath()), uris);
    AddUris(info.canonicalFilePath(), uris);
    return uris;
}

QString DesktopThumbnailName(const QByteArray& uri) {
    return QString::fromLatin1(QCryptographicHash::hash(uri, QCryptographicHash::Md5).toHex()) +
           ".png";
}

int RemoveDesktopThumbnails(const QString& path) {
    // $XDG_CACHE_HOME itself is the user's own choice, and often a link to another disk: it is
    // followed. `thumbnails` and everything below it are shared with other programs and are not.
    const UniqueFd root(::open(QFile::encodeName(DesktopThumbnailsFolder()).constData(),
                               O_RDONLY | O_DIRECTORY | O_NOFOLLOW | O_CLOEXEC | O_NOCTTY));
    if (!root.valid()) return 0;
    std::vector<QByteArray> files;
    for (const QByteArray& uri : DesktopThumbnailUris(path))
        files.push_back(DesktopThumbnailName(uri).toLatin1());
    int removed = RemoveFromSubfolders(root.get(), files);
    if (const UniqueFd fail = OpenFolderAt(root.get(), "fail"); fail.valid())
        removed += RemoveFromSubfolders(fail.get(), files);
    return removed;
}

} // namespace platform
