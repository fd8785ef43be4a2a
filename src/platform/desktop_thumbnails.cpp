// SPDX-License-Identifier: GPL-3.0-or-later
#include "platform/desktop_thumbnails.h"

#include <QCryptographicHash>
#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QUrl>

#include <fcntl.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>

#include "platform/xdg_dirs.h"

namespace platform {
namespace {

// A crafted cache with thousands of folders must not make a turn crawl.
constexpr int kMaxFolders = 256;

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

// Subfolders of `folder` that hold thumbnails, `fail` left out.
QStringList ThumbnailFolders(const QString& folder) {
    QStringList names = QDir(folder).entryList(QDir::Dirs | QDir::NoDotAndDotDot, QDir::Name);
    names.removeAll(QStringLiteral("fail"));
    if (names.size() > kMaxFolders) names = names.mid(0, kMaxFolders);
    QStringList folders;
    for (const QString& name : names)
        folders << folder + '/' + name;
    return folders;
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
    const QString root = DesktopThumbnailsFolder();
    if (!QFileInfo(root).isDir()) return 0;
    QStringList folders = ThumbnailFolders(root);
    folders << ThumbnailFolders(root + "/fail");
    QStringList names;
    for (const QByteArray& uri : DesktopThumbnailUris(path))
        names << DesktopThumbnailName(uri);
    int removed = 0;
    for (const QString& folder : folders) {
        for (const QString& name : names) {
            const QByteArray file = QFile::encodeName(folder + '/' + name);
            if (::unlink(file.constData()) == 0) ++removed;
        }
    }
    return removed;
}

} // namespace platform
