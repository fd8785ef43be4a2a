// SPDX-License-Identifier: GPL-3.0-or-later
#include "thumbs/disk_masters.h"

#include <QCryptographicHash>
#include <QDir>
#include <QFileInfo>

#include <dirent.h>
#include <fcntl.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <ctime>
#include <memory>
#include <sys/stat.h>
#include <vector>

#include "platform/file_io.h"

namespace thumbs {
namespace {

constexpr std::uint64_t kMaxCacheFileBytes = 16u << 20;
constexpr char kTempPrefix[] = ".tmp-";
constexpr std::time_t kStaleTempSeconds = 3600;

bool IsCacheFileName(const std::string& name) {
    if (name.size() != 44 || name.compare(40, 4, ".jpg") != 0) return false;
    return std::all_of(name.begin(), name.begin() + 40,
                       [](char c) { return (c >= '0' && c <= '9') || (c >= 'a' && c <= 'f'); });
}

// Makes the folder and its missing parents private to the user; empty when it cannot be
// made, is not a folder of ours, or cannot be written.
std::string PrepareFolder(const QString& folder) {
    std::string path = NativePath(QDir::cleanPath(QFileInfo(folder).absoluteFilePath()));
    for (std::size_t slash = path.find('/', 1);; slash = path.find('/', slash + 1)) {
        const std::string part = path.substr(0, slash);
        if (::mkdir(part.c_str(), 0700) != 0 && errno != EEXIST) return {};
        if (slash == std::string::npos) break;
    }
    struct stat st {};
    if (::lstat(path.c_str(), &st) != 0 || !S_ISDIR(st.st_mode) || st.st_uid != ::geteuid())
        return {};
    if ((st.st_mode & 07777) != 0700 && ::chmod(path.c_str(), 0700) != 0) return {};
    std::string probe = path + "/" + kTempPrefix + "XXXXXX";
    const platform::UniqueFd fd(::mkostemp(probe.data(), O_CLOEXEC));
    if (!fd.valid()) return {};
    ::unlink(probe.c_str());
    return path;
}

// The modification time of a cache file is its last use. Set from the fine clock, since the
// file system's own stamps come in ticks that would leave many files tied.
void MarkUsed(int fd) {
    const struct timespec now = ClockNow();
    const struct timespec times[2] = {now, now};
    ::futimens(fd, times);
}

void MarkUsed(const std::string& path) {
    const struct timespec now = ClockNow();
    const struct timespec times[2] = {now, now};
    ::utimensat(AT_FDCWD, path.c_str(), times, 0);
}

// Whole file through a temporary and a rename: a reader sees the old file or the new one.
bool ReplaceFile(const std::string& folder, const std::string& target,
                 std::span<const std::uint8_t> bytes) {
    std::string temp = folder + "/" + kTempPrefix + "XXXXXX";
    platform::UniqueFd fd(::mkostemp(temp.data(), O_CLOEXEC));
    if (!fd.valid()) return false;
    const bool ok = platform::WriteFullyAt(fd.get(), bytes.data(), bytes.size(), 0) &&
                    ::fchmod(fd.get(), 0600) == 0 &&
                    (MarkUsed(fd.get()), ::close(fd.release()) == 0) &&
                    ::rename(temp.c_str(), target.c_str()) == 0;
    if (!ok) ::unlink(temp.c_str());
    return ok;
}

} // namespace

DiskMasters::DiskMasters(const QString& folder, std::int64_t limitBytes)
    : m_folder(folder.isEmpty() ? std::string() : PrepareFolder(folder)), m_limitBytes(limitBytes) {
}

std::optional<MasterImage> DiskMasters::Read(const CacheKey& key, const ThumbnailOptions& options) {
    if (!enabled()) return std::nullopt;
    const std::string file = FileOf(key);
    std::vector<std::uint8_t> bytes;
    if (!platform::ReadFileBytes(file, bytes, kMaxCacheFileBytes).ok()) return std::nullopt;
    std::optional<MasterImage> master =
        DecodeMasterFile(bytes, key.Text(), &options, key.masterSide);
    if (!master) return std::nullopt; // rewritten once the photo is decoded
    thumbs::MarkUsed(file);
    const std::lock_guard lock(m_mutex);
    ++m_hits;
    return master;
}

void DiskMasters::MarkUsed(const CacheKey& key) {
    if (enabled()) thumbs::MarkUsed(FileOf(key));
}

void DiskMasters::Write(const CacheKey& key, const MasterImage& master) {
    if (!enabled()) return;
    const std::vector<std::uint8_t> bytes = EncodeMasterFile(master, key.Text());
    if (bytes.empty()) return;
    const std::string target = FileOf(key);
    struct stat old {};
    const std::int64_t replaced = ::stat(target.c_str(), &old) == 0 ? old.st_size : 0;
    if (!ReplaceFile(m_folder, target, bytes)) return;
    bool prune = false;
    {
        const std::lock_guard lock(m_mutex);
        ++m_written;
        if (m_bytes >= 0) m_bytes += std::int64_t(bytes.size()) - replaced;
        prune = m_bytes < 0 || m_bytes > m_limitBytes;
    }
    if (prune) Prune();
}

void DiskMasters::Prune() {
    struct File {
        struct timespec used;
        std::int64_t size;
        std::string path;
    };
    std::vector<File> files;
    std::int64_t total = 0;
    const std::unique_ptr<DIR, int (*)(DIR*)> dir(::opendir(m_folder.c_str()), &::closedir);
    if (!dir) return;
    const std::time_t now = std::time(nullptr);
    while (const dirent* entry = ::readdir(dir.get())) {
        const std::string name = entry->d_name;
        const std::string path = m_folder + "/" + name;
        struct stat st {};
        if (::lstat(path.c_str(), &st) != 0 || !S_ISREG(st.st_mode)) continue;
        if (name.rfind(kTempPrefix, 0) == 0) {
            if (now - st.st_mtim.tv_sec > kStaleTempSeconds)
                ::unlink(path.c_str()); // left by a killed run
            continue;
        }
        if (!IsCacheFileName(name)) continue;
        files.push_back({st.st_mtim, st.st_size, path});
        total += st.st_size;
    }
    if (total > m_limitBytes) {
        std::sort(files.begin(), files.end(), [](const File& a, const File& b) {
            return a.used.tv_sec != b.used.tv_sec ? a.used.tv_sec < b.used.tv_sec
                                                  : a.used.tv_nsec < b.used.tv_nsec;
        });
        // A tenth below the bound, so that the next few writes do not each scan the folder.
        const std::int64_t goal = m_limitBytes - m_limitBytes / 10;
        for (const File& f : files) {
            if (total <= goal) break;
            if (::unlink(f.path.c_str()) == 0) total -= f.size;
        }
    }
    const std::lock_guard lock(m_mutex);
    m_bytes = total;
}

std::string DiskMasters::FileOf(const CacheKey& key) const {
    // Each density has a file of its own, so that a dense and a plain screen do not take
    // turns rewriting one; the usual side keeps the names of earlier runs.
    QByteArray kind(key.highQuality ? "high" : "low");
    if (key.masterSide != kMasterSide) kind += " side=" + QByteArray::number(key.masterSide);
    const QByteArray name =
        QCryptographicHash::hash(kind + '\n' + key.path.toUtf8(), QCryptographicHash::Sha1).toHex();
    return m_folder + "/" + name.toStdString() + ".jpg";
}

std::int64_t DiskMasters::bytes() const {
    const std::lock_guard lock(m_mutex);
    return m_bytes;
}

int DiskMasters::hits() const {
    const std::lock_guard lock(m_mutex);
    return m_hits;
}

int DiskMasters::written() const {
    const std::lock_guard lock(m_mutex);
    return m_written;
}

} // namespace thumbs
