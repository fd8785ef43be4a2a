// SPDX-License-Identifier: GPL-3.0-or-later
#include "collection/scan.h"

#include <QDir>
#include <QDirIterator>
#include <QFile>
#include <QFileInfo>
#include <QSet>

#include "platform/file_io.h"
#include "platform/leftovers.h"

namespace collection {
namespace {

// Deeper trees than this are links gone round in circles, not photo folders.
constexpr int kMaxDepth = 64;

void ScanTree(const QString& folder, bool recursive, QStringList& paths, QStringList* stale,
              QSet<QString>& seen, int depth) {
    const QString canonical = QFileInfo(folder).canonicalFilePath();
    if (depth > kMaxDepth || canonical.isEmpty() || seen.contains(canonical)) return;
    seen.insert(canonical);
    QDirIterator it(folder, QDir::AllEntries | QDir::Hidden | QDir::System | QDir::NoDotAndDotDot);
    while (it.hasNext()) {
        it.next();
        const QFileInfo entry = it.fileInfo();
        const QString path = (folder == "/" ? QString() : folder) + '/' + entry.fileName();
        if (recursive && entry.isDir()) ScanTree(path, recursive, paths, stale, seen, depth + 1);
        if (HasJpegExtension(entry.fileName())) paths << path;
        const std::string native = QFile::encodeName(entry.fileName()).toStdString();
        if (stale && (platform::IsTemporaryName(native) || platform::IsKeptCopyName(native)))
            *stale << path;
    }
}

} // namespace

bool HasJpegExtension(const QString& name) {
    const qsizetype dot = name.lastIndexOf(u'.');
    if (dot < 0) return false;
    const QStringView ext = QStringView(name).mid(dot);
    return ext.compare(u".jpg", Qt::CaseInsensitive) == 0 ||
           ext.compare(u".jpeg", Qt::CaseInsensitive) == 0;
}

void ScanFolder(const QString& folder, bool recursive, QStringList& paths, QStringList* stale) {
    QSet<QString> seen;
    ScanTree(folder, recursive, paths, stale, seen, 0);
}

QString WithoutTrailingDelimiter(const QString& folder) {
    if (folder.size() > 1 && folder.endsWith(u'/')) return folder.left(folder.size() - 1);
    return folder;
}

const QCollator& PathCollator() {
    static const QCollator collator = [] {
        QCollator c;
        c.setCaseSensitivity(Qt::CaseInsensitive);
        return c;
    }();
    return collator;
}

// Linux file names are case-sensitive: "a.jpg" and "A.jpg" are two photos.
bool SamePath(const QString& a, const QString& b) {
    return a == b;
}

bool PathLess(const QString& a, const QString& b) {
    if (const int order = PathCollator().compare(a, b); order != 0) return order < 0;
    // Names the locale calls equal still need one fixed order: that of their bytes on disk.
    return QFile::encodeName(a) < QFile::encodeName(b);
}

QString FileNameOf(const QString& path) {
    const qsizetype slash = path.lastIndexOf(u'/');
    return slash < 0 ? path : path.mid(slash + 1);
}

} // namespace collection
