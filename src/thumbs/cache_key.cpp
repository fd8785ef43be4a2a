// SPDX-License-Identifier: GPL-3.0-or-later
#include "thumbs/cache_key.h"

#include <QFile>
#include <QFileInfo>

#include <sys/stat.h>

namespace thumbs {

std::string NativePath(const QString& path) {
    return QFile::encodeName(path).toStdString();
}

struct timespec ClockNow() {
    struct timespec now {};
    ::clock_gettime(CLOCK_REALTIME, &now);
    return now;
}

QByteArray CacheKey::Text() const {
    const QByteArray utf8 = path.toUtf8();
    // The usual side is not named, so that the files of earlier runs stay valid.
    const QByteArray side =
        masterSide == kMasterSide ? QByteArray() : " side=" + QByteArray::number(masterSide);
    return QByteArray(highQuality ? "q=high" : "q=low") + side +
           " dev=" + QByteArray::number(qulonglong(device)) +
           " ino=" + QByteArray::number(qulonglong(inode)) +
           " size=" + QByteArray::number(qlonglong(size)) +
           " mtime=" + QByteArray::number(qlonglong(mtimeSec)) + '.' +
           QByteArray::number(qlonglong(mtimeNsec)) +
           " ctime=" + QByteArray::number(qlonglong(ctimeSec)) + '.' +
           QByteArray::number(qlonglong(ctimeNsec)) + " path=" + QByteArray::number(utf8.size()) +
           ':' + utf8;
}

std::optional<CacheKey> ReadCacheKey(const QString& path, bool highQuality, int masterSide) {
    CacheKey key;
    key.path = QFileInfo(path).absoluteFilePath();
    struct stat st {};
    if (::stat(NativePath(key.path).c_str(), &st) != 0 || !S_ISREG(st.st_mode)) return std::nullopt;
    key.device = st.st_dev;
    key.inode = st.st_ino;
    key.size = st.st_size;
    key.mtimeSec = st.st_mtim.tv_sec;
    key.mtimeNsec = st.st_mtim.tv_nsec;
    key.ctimeSec = st.st_ctim.tv_sec;
    key.ctimeNsec = st.st_ctim.tv_nsec;
    key.highQuality = highQuality;
    key.masterSide = masterSide;
    return key;
}

} // namespace thumbs
