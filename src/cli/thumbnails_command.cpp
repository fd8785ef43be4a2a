// SPDX-License-Identifier: GPL-3.0-or-later
#include "cli/thumbnails_command.h"

#include "collection/scan.h"
#include "thumbs/thumbnail_cache.h"
#include "thumbs/thumbnail_pipeline.h"

#include <QDir>
#include <QElapsedTimer>
#include <QFile>
#include <QImage>

#include <fcntl.h>

#include <cerrno>
#include <cstdio>
#include <optional>
#include <sys/stat.h>

#include "cli/path_text.h"
#include "cli/printable.h"
#include "cli/usage.h"
#include "platform/allocator.h"
#include "platform/file_io.h"

namespace cli {

namespace {

// The photo's path below the folder it was scanned from, as the scan built it; nullopt when it
// holds anything that could lead out of an output folder.
std::optional<QStringList> PathBelow(const QString& folder, const QString& path) {
    const QString prefix = folder.endsWith(u'/') ? folder : folder + u'/';
    if (!path.startsWith(prefix)) return std::nullopt;
    const QStringList parts = path.mid(prefix.size()).split(u'/');
    for (const QString& part : parts)
        if (part.isEmpty() || part == u'.' || part == QStringLiteral("..")) return std::nullopt;
    return parts;
}

// Named after the photo's whole path below the folder, extension kept: IMG_0001.jpg of two
// subfolders, or IMG.jpg beside IMG.JPG, never share a thumbnail file.
QString ThumbnailFileName(const QString& out, const QStringList& below) {
    return out + u'/' + below.join(u'/') + QStringLiteral(".png");
}

// Writes the thumbnail at `below` inside the open output folder, creating its subfolders there;
// no link met on the way (a subfolder or the file itself) is followed, so nothing lands outside.
bool WriteThumbnailBelow(int outFolder, const QStringList& below, const QImage& image) {
    platform::UniqueFd folder(::fcntl(outFolder, F_DUPFD_CLOEXEC, 0));
    for (qsizetype i = 0; folder.valid() && i + 1 < below.size(); ++i) {
        const QByteArray name = QFile::encodeName(below[i]);
        if (::mkdirat(folder.get(), name.constData(), 0777) != 0 && errno != EEXIST) return false;
        folder = platform::UniqueFd(::openat(folder.get(), name.constData(),
                                             O_RDONLY | O_DIRECTORY | O_NOFOLLOW | O_CLOEXEC));
    }
    if (!folder.valid()) return false;
    const QByteArray file = QFile::encodeName(below.last() + QStringLiteral(".png"));
    const platform::UniqueFd fd(::openat(
        folder.get(), file.constData(),
        O_WRONLY | O_CREAT | O_TRUNC | O_NOFOLLOW | O_CLOEXEC | O_NONBLOCK | O_NOCTTY, 0666));
    struct stat st {};
    if (!fd.valid() || ::fstat(fd.get(), &st) != 0 || !S_ISREG(st.st_mode)) return false;
    QFile target;
    if (!target.open(fd.get(), QIODevice::WriteOnly, QFileDevice::DontCloseHandle)) return false;
    const bool saved = image.save(&target, "PNG") && target.flush();
    target.close();
    return saved;
}

} // namespace

int CmdThumbnails(const Options& o) {
    if (o.positional.size() != 1 || o.cell < 20 || o.cell > 4000)
        return Usage("thumbnails needs one folder and a cell of 20 to 4000");
    const QString folder = collection::WithoutTrailingDelimiter(o.positional[0]);
    if (const auto what = NotAFolder(folder)) {
        std::fprintf(stderr, "%s: %s\n", Local(folder).c_str(), what->c_str());
        return kSomeFailed;
    }
    QStringList paths;
    collection::ScanFolder(folder, o.recursive, paths);
    platform::UniqueFd outFolder;
    if (!o.out.isEmpty()) {
        if (QDir().mkpath(o.out))
            outFolder = platform::UniqueFd(
                ::open(QFile::encodeName(o.out).constData(), O_RDONLY | O_DIRECTORY | O_CLOEXEC));
        if (!outFolder.valid()) {
            std::fprintf(stderr, "%s: cannot create\n", Local(o.out).c_str());
            return kSomeFailed;
        }
    }
    const thumbs::ThumbnailOptions options{o.cell, o.cell + 20, !o.low, true};
    // Only here: a process that turns one photo is faster with its large buffers mapped apart.
    platform::KeepImageBuffersMapped();
    QElapsedTimer timer;
    timer.start();
    int made = 0, unreadable = 0, unwritten = 0;
    // The window's cache, pool and order. A batch run writes each file on the thread that
    // decoded the photo: nobody waits for the first thumbnail.
    const auto cache = thumbs::OpenDefaultCache(thumbs::ThumbnailCache::Writes::Inline);
    thumbs::ThumbnailPipeline pipeline(paths, options, cache);
    for (qsizetype i = 0; i < paths.size(); ++i) {
        const QString& path = paths[i];
        const thumbs::Thumbnail thumb = pipeline.take(i);
        if (!thumb.made()) {
            std::fprintf(stderr, "%s: %s\n", Local(path).c_str(),
                         thumb.missing() ? "gone" : "unreadable");
            ++unreadable;
            continue;
        }
        ++made;
        if (o.out.isEmpty()) continue;
        const std::optional<QStringList> below = PathBelow(folder, path);
        if (!below || !WriteThumbnailBelow(outFolder.get(), *below, thumb.image)) {
            const QString target = below ? ThumbnailFileName(o.out, *below) : path;
            std::fprintf(stderr, "%s: cannot write\n", Local(target).c_str());
            ++unwritten;
        }
    }
    std::printf("%d thumbnails made, %d unreadable, %d not written, %.3f s\n", made, unreadable,
                unwritten, double(timer.nsecsElapsed()) / 1e9);
    return unreadable || unwritten ? kSomeFailed : kOk;
}

} // namespace cli
