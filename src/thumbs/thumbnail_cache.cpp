// SPDX-License-Identifier: GPL-3.0-or-later
#include "thumbs/thumbnail_cache.h"

#include <QCryptographicHash>
#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QThread>

#include <dirent.h>
#include <fcntl.h>
#include <sched.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <ctime>
#include <sys/resource.h>
#include <sys/stat.h>
#include <vector>

#include "platform/file_io.h"
#include "platform/xdg_dirs.h"

namespace thumbs {
namespace {

constexpr std::uint64_t kMaxCacheFileBytes = 16u << 20;
constexpr char kTempPrefix[] = ".tmp-";
constexpr std::time_t kStaleTempSeconds = 3600;

std::string Native(const QString& path) {
    return QFile::encodeName(path).toStdString();
}

bool IsCacheFileName(const std::string& name) {
    if (name.size() != 44 || name.compare(40, 4, ".jpg") != 0) return false;
    return std::all_of(name.begin(), name.begin() + 40,
                       [](char c) { return (c >= '0' && c <= '9') || (c >= 'a' && c <= 'f'); });
}

// Makes the folder and its missing parents private to the user; empty when it cannot be
// made, is not a folder of ours, or cannot be written.
std::string PrepareFolder(const QString& folder) {
    std::string path = Native(QDir::cleanPath(QFileInfo(folder).absoluteFilePath()));
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

struct timespec Now() {
    struct timespec now {};
    ::clock_gettime(CLOCK_REALTIME, &now);
    return now;
}

// The modification time of a cache file is its last use. Set from the fine clock, since the
// file system's own stamps come in ticks that would leave many files tied.
void MarkUsed(int fd) {
    const struct timespec now = Now();
    const struct timespec times[2] = {now, now};
    ::futimens(fd, times);
}

void MarkUsed(const std::string& path) {
    const struct timespec now = Now();
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

std::vector<std::uint8_t> ReadPhoto(const QString& path) {
    std::vector<std::uint8_t> bytes;
    if (!platform::ReadFileBytes(Native(path), bytes, std::uint64_t(kMaxFileBytes)).ok())
        bytes.clear();
    return bytes;
}

// Cache work takes only what a load leaves over: under SCHED_IDLE it runs when a core would
// otherwise idle. Where that policy is refused, the lowest nice value comes close.
void RunOnlyOnIdleCores() {
    const sched_param param{};
    if (::sched_setscheduler(0, SCHED_IDLE, &param) != 0)
        ::setpriority(PRIO_PROCESS, ::gettid(), 19);
}

std::size_t HashBytes(std::span<const std::uint8_t> bytes) {
    return std::hash<std::string_view>()(
        std::string_view(reinterpret_cast<const char*>(bytes.data()), bytes.size()));
}

} // namespace

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
    if (::stat(Native(key.path).c_str(), &st) != 0 || !S_ISREG(st.st_mode)) return std::nullopt;
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

ThumbnailCache::ThumbnailCache(const QString& folder, Writes writes, CacheLimits limits)
    : m_folder(folder.isEmpty() ? std::string() : PrepareFolder(folder)), m_writes(writes),
      m_limits(limits) {
    m_writer.setMaxThreadCount(writes == Writes::Background ? QThread::idealThreadCount() : 1);
}

ThumbnailCache::~ThumbnailCache() {
    {
        const std::lock_guard lock(m_mutex);
        m_stopping = true;
        m_pending.clear();
        m_pendingBytes = 0;
        m_deferred.clear();
    }
    m_writer.waitForDone();
}

QString ThumbnailCache::DefaultFolder() {
    return platform::XdgBaseDir("XDG_CACHE_HOME", QStringLiteral(".cache")) +
           QStringLiteral("/tulvex/thumbnails");
}

Thumbnail ThumbnailCache::MakeThumbnail(const QString& path, const ThumbnailOptions& options,
                                        Mastering mastering) {
    if (!MasterServes(options)) return MakeThumbnailImage(path, options);
    const struct timespec seen = m_limits.clock();
    const std::optional<CacheKey> key =
        ReadCacheKey(path, options.highQuality, MasterSideFor(options));
    if (!key) return MakeThumbnailImage(path, options); // gone, or a folder: the ordinary answer
    if (const std::optional<MasterImage> master = FromMemory(*key)) {
        if (diskEnabled()) MarkUsed(FileOf(*key)); // pruned last on disk too
        return ThumbnailFromMaster(*master, options);
    }
    if (const std::optional<MasterImage> master = FromDisk(*key, options))
        return ThumbnailFromMaster(*master, options);

    if (mastering == Mastering::Deferred && m_writes == Writes::Background) {
        Thumbnail made = MakeThumbnailImage(path, options);
        if (made.made()) {
            CountMiss();
            Defer(*key);
        }
        return made;
    }
    if (const std::optional<MasterImage> master = MasterFromPhoto(*key, seen, true)) {
        CountMiss();
        return ThumbnailFromMaster(*master, options);
    }
    return MakeThumbnailImage(path, options); // another format, or unreadable
}

std::optional<MasterImage>
ThumbnailCache::MasterFromPhoto(const CacheKey& key, const struct timespec& seen, bool queueWrite) {
    // Read after the key was taken: a change in between gives the photo a key never seen here.
    const std::vector<std::uint8_t> bytes = ReadPhoto(key.path);
    std::optional<MasterImage> master =
        bytes.empty() ? std::nullopt : DecodeMaster(bytes, key.masterSide);
    if (!master) return std::nullopt;
    if (IsRacy(key, seen)) {
        Remember(key, *master, HashBytes(bytes));
    } else {
        Remember(key, *master, std::nullopt);
        if (queueWrite)
            QueueWrite(key, *master);
        else if (diskEnabled())
            WriteFile({key, *master});
    }
    return master;
}

bool ThumbnailCache::HoldsMasterLocked(const CacheKey& key) const {
    const auto found = m_byPath.find(key.path);
    return found != m_byPath.end() && found->second->key == key;
}

void ThumbnailCache::CountMiss() {
    const std::lock_guard lock(m_mutex);
    ++m_counts.misses;
}

void ThumbnailCache::Defer(const CacheKey& key) {
    const std::lock_guard lock(m_mutex);
    // Made while this thread decoded the photo: a master is kept before its job is let go.
    if (HoldsMasterLocked(key)) return;
    if (m_stopping || m_deferred.size() >= m_limits.deferredPhotos ||
        !m_deferred.insert(key.path).second)
        return; // already waiting, or left for a later load
    ++m_counts.deferred;
    m_pending.push_back({key, std::nullopt});
    StartWritersLocked();
}

void ThumbnailCache::MakeDeferredMaster(const CacheKey& key) {
    const struct timespec seen = m_limits.clock();
    // Made only for the photo the load saw: one changed since is left for the next load.
    const std::optional<CacheKey> now = ReadCacheKey(key.path, key.highQuality, key.masterSide);
    bool cached = false;
    {
        const std::lock_guard lock(m_mutex);
        cached = HoldsMasterLocked(key); // made or read back since by another load
    }
    if (now && *now == key && !cached) MasterFromPhoto(key, seen, false);
    const std::lock_guard lock(m_mutex);
    m_deferred.erase(key.path);
}

bool ThumbnailCache::IsRacy(const CacheKey& key, const struct timespec& seen) const {
    const std::int64_t age =
        (std::int64_t(seen.tv_sec) - key.ctimeSec) * 1'000'000'000 + (seen.tv_nsec - key.ctimeNsec);
    return age < m_limits.racyNanoseconds;
}

std::optional<MasterImage> ThumbnailCache::FromMemory(const CacheKey& key) {
    MasterImage master;
    std::optional<std::size_t> racyHash;
    {
        const std::lock_guard lock(m_mutex);
        const auto found = m_byPath.find(key.path);
        if (found == m_byPath.end()) return std::nullopt;
        const auto entry = found->second;
        if (!(entry->key == key)) { // the photo changed: its old master is of no use any more
            m_memoryBytes -= entry->master.image.sizeInBytes();
            m_byPath.erase(found);
            m_lru.erase(entry);
            return std::nullopt;
        }
        m_lru.splice(m_lru.begin(), m_lru, entry);
        master = entry->master;
        racyHash = entry->racyHash;
        if (!racyHash) {
            ++m_counts.memoryHits;
            return master;
        }
    }
    const struct timespec seen = m_limits.clock();
    if (HashBytes(ReadPhoto(key.path)) != *racyHash) {
        Remember(key, {}, std::nullopt); // drops the entry
        return std::nullopt;
    }
    const bool settled = !IsRacy(key, seen);
    {
        const std::lock_guard lock(m_mutex);
        ++m_counts.memoryHits;
        const auto found = m_byPath.find(key.path);
        if (settled && found != m_byPath.end() && found->second->key == key)
            found->second->racyHash.reset();
    }
    // Read once the tick of its last change had passed: the bytes checked are the photo's for good.
    if (settled) QueueWrite(key, master);
    return master;
}

std::optional<MasterImage> ThumbnailCache::FromDisk(const CacheKey& key,
                                                    const ThumbnailOptions& options) {
    if (!diskEnabled()) return std::nullopt;
    const std::string file = FileOf(key);
    std::vector<std::uint8_t> bytes;
    if (!platform::ReadFileBytes(file, bytes, kMaxCacheFileBytes).ok()) return std::nullopt;
    std::optional<MasterImage> master =
        DecodeMasterFile(bytes, key.Text(), &options, key.masterSide);
    if (!master) return std::nullopt; // rewritten once the photo is decoded
    MarkUsed(file);
    {
        const std::lock_guard lock(m_mutex);
        ++m_counts.diskHits;
    }
    // Kept only where there is room: a load that reads a large folder from the disk would
    // otherwise push out, one by one, the masters it is about to need.
    if (master->image.size() == MasterSize(master->photoWidth, master->photoHeight, key.masterSide))
        Remember(key, *master, std::nullopt, Eviction::Never);
    return master;
}

void ThumbnailCache::Remember(const CacheKey& key, const MasterImage& master,
                              std::optional<std::size_t> racyHash, Eviction eviction) {
    const std::int64_t bytes = master.image.sizeInBytes();
    const std::lock_guard lock(m_mutex);
    if (const auto found = m_byPath.find(key.path); found != m_byPath.end()) {
        m_memoryBytes -= found->second->master.image.sizeInBytes();
        m_lru.erase(found->second);
        m_byPath.erase(found);
    }
    if (master.image.isNull() || bytes > m_limits.memoryBytes) return;
    if (eviction == Eviction::Never && m_memoryBytes + bytes > m_limits.memoryBytes) return;
    while (!m_lru.empty() && m_memoryBytes + bytes > m_limits.memoryBytes) {
        m_memoryBytes -= m_lru.back().master.image.sizeInBytes();
        m_byPath.erase(m_lru.back().key.path);
        m_lru.pop_back();
    }
    m_lru.push_front({key, master, racyHash});
    m_byPath[key.path] = m_lru.begin();
    m_memoryBytes += bytes;
    m_memoryPeak = std::max(m_memoryPeak, m_memoryBytes);
}

void ThumbnailCache::AdoptOwnTimesChange(const QString& path) {
    const std::lock_guard lock(m_mutex);
    const auto found = m_byPath.find(QFileInfo(path).absoluteFilePath());
    if (found == m_byPath.end()) return;
    CacheKey& cached = found->second->key;
    const std::optional<CacheKey> now =
        ReadCacheKey(cached.path, cached.highQuality, cached.masterSide);
    if (!now) return;
    CacheKey ctimeAside = *now;
    ctimeAside.ctimeSec = cached.ctimeSec;
    ctimeAside.ctimeNsec = cached.ctimeNsec;
    if (ctimeAside != cached) return; // more than the status-change time moved: a real change
    for (WriteJob& job : m_pending)
        if (job.key == cached) job.key = *now;
    cached = *now;
}

void ThumbnailCache::QueueWrite(const CacheKey& key, const MasterImage& master) {
    if (!diskEnabled()) return;
    const std::int64_t bytes = master.image.sizeInBytes();
    {
        const std::lock_guard lock(m_mutex);
        if (m_stopping) return;
        if (m_writes == Writes::Background && m_pendingBytes + bytes <= m_limits.pendingBytes) {
            m_pendingBytes += bytes;
            m_pending.push_back({key, master});
            StartWritersLocked();
            return;
        }
    }
    // The writer is behind (or there is none): this thread writes, which bounds what waits.
    WriteFile({key, master});
}

void ThumbnailCache::StartWritersLocked() {
    const int wanted = std::min(m_writer.maxThreadCount(), int(m_pending.size()));
    for (; m_draining < wanted; ++m_draining)
        m_writer.start([this] { DrainWrites(); });
}

void ThumbnailCache::DrainWrites() {
    RunOnlyOnIdleCores();
    while (RunNextJob(true)) {
    }
}

bool ThumbnailCache::RunNextJob(bool asWriter) {
    WriteJob job;
    {
        const std::lock_guard lock(m_mutex);
        if (m_pending.empty() || m_stopping) {
            // Under the same lock as the look at the queue: a job queued after it starts a writer.
            if (asWriter && --m_draining == 0) m_drained.notify_all();
            return false;
        }
        job = std::move(m_pending.front());
        m_pending.pop_front();
        if (job.master) m_pendingBytes -= job.master->image.sizeInBytes();
    }
    if (job.master)
        WriteFile(job);
    else
        MakeDeferredMaster(job.key);
    return true;
}

void ThumbnailCache::WriteFile(const WriteJob& job) {
    if (!job.master) return;
    const std::vector<std::uint8_t> bytes = EncodeMasterFile(*job.master, job.key.Text());
    if (bytes.empty()) return;
    const std::string target = FileOf(job.key);
    struct stat old {};
    const std::int64_t replaced = ::stat(target.c_str(), &old) == 0 ? old.st_size : 0;
    if (!ReplaceFile(m_folder, target, bytes)) return;
    bool prune = false;
    {
        const std::lock_guard lock(m_mutex);
        ++m_counts.written;
        if (m_diskBytes >= 0) m_diskBytes += std::int64_t(bytes.size()) - replaced;
        prune = m_diskBytes < 0 || m_diskBytes > m_limits.diskBytes;
    }
    if (prune) PruneDisk();
}

void ThumbnailCache::PruneDisk() {
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
    if (total > m_limits.diskBytes) {
        std::sort(files.begin(), files.end(), [](const File& a, const File& b) {
            return a.used.tv_sec != b.used.tv_sec ? a.used.tv_sec < b.used.tv_sec
                                                  : a.used.tv_nsec < b.used.tv_nsec;
        });
        // A tenth below the bound, so that the next few writes do not each scan the folder.
        const std::int64_t goal = m_limits.diskBytes - m_limits.diskBytes / 10;
        for (const File& f : files) {
            if (total <= goal) break;
            if (::unlink(f.path.c_str()) == 0) total -= f.size;
        }
    }
    const std::lock_guard lock(m_mutex);
    m_diskBytes = total;
}

void ThumbnailCache::Flush() {
    // Whoever waits works too, at its own priority: on a busy machine the idle-core threads
    // might not get to run for a long time.
    while (RunNextJob(false)) {
    }
    {
        std::unique_lock lock(m_mutex);
        m_drained.wait(lock, [this] { return m_draining == 0; });
    }
    m_writer.waitForDone();
}

bool ThumbnailCache::Idle() const {
    const std::lock_guard lock(m_mutex);
    return m_pending.empty() && m_draining == 0;
}

std::string ThumbnailCache::FileOf(const CacheKey& key) const {
    // Each density has a file of its own, so that a dense and a plain screen do not take
    // turns rewriting one; the usual side keeps the names of earlier runs.
    QByteArray kind(key.highQuality ? "high" : "low");
    if (key.masterSide != kMasterSide) kind += " side=" + QByteArray::number(key.masterSide);
    const QByteArray name =
        QCryptographicHash::hash(kind + '\n' + key.path.toUtf8(), QCryptographicHash::Sha1).toHex();
    return m_folder + "/" + name.toStdString() + ".jpg";
}

std::int64_t ThumbnailCache::memoryBytes() const {
    const std::lock_guard lock(m_mutex);
    return m_memoryBytes;
}

std::int64_t ThumbnailCache::memoryPeakBytes() const {
    const std::lock_guard lock(m_mutex);
    return m_memoryPeak;
}

std::int64_t ThumbnailCache::diskBytes() const {
    const std::lock_guard lock(m_mutex);
    return m_diskBytes;
}

ThumbnailCache::Counts ThumbnailCache::counts() const {
    const std::lock_guard lock(m_mutex);
    return m_counts;
}

std::shared_ptr<ThumbnailCache> OpenDefaultCache(ThumbnailCache::Writes writes) {
    if (qEnvironmentVariable("TULVEX_THUMBNAIL_CACHE") == QStringLiteral("off")) return nullptr;
    return std::make_shared<ThumbnailCache>(ThumbnailCache::DefaultFolder(), writes);
}

} // namespace thumbs
