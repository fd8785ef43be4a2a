// SPDX-License-Identifier: GPL-3.0-or-later
#include "platform/file_io.h"

#include <fcntl.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <sys/xattr.h>
#include <unistd.h>

#include <cerrno>
#include <climits>
#include <cstdlib>
#include <cstring>
#include <memory>

namespace platform {
namespace {

std::string ResolveLinks(const std::string& path)
{
    std::unique_ptr<char, decltype(&std::free)> real(::realpath(path.c_str(), nullptr), &std::free);
    return real ? std::string(real.get()) : path;
}

std::string FolderOf(const std::string& path)
{
    const auto slash = path.rfind('/');
    if (slash == std::string::npos) return ".";
    return slash == 0 ? "/" : path.substr(0, slash);
}

// Extended attributes are copied where the file system has them; a failure is not fatal
// (many file systems have none).
void CopyExtendedAttributes(int from, int to)
{
    const ssize_t listSize = ::flistxattr(from, nullptr, 0);
    if (listSize <= 0 || listSize > 1 << 20) return;
    std::string names(std::size_t(listSize), '\0');
    const ssize_t got = ::flistxattr(from, names.data(), names.size());
    if (got <= 0) return;
    for (std::size_t pos = 0; pos < std::size_t(got);) {
        const char* name = names.c_str() + pos;
        pos += std::strlen(name) + 1;
        const ssize_t valueSize = ::fgetxattr(from, name, nullptr, 0);
        if (valueSize < 0 || valueSize > 1 << 20) continue;
        std::string value(std::size_t(valueSize), '\0');
        if (::fgetxattr(from, name, value.data(), value.size()) == valueSize)
            ::fsetxattr(to, name, value.data(), value.size(), 0);
    }
}

int FlushFolder(const std::string& folder)
{
    UniqueFd dir(::open(folder.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC));
    if (!dir.valid()) return errno;
    return ::fsync(dir.get()) == 0 ? 0 : errno;
}

class TemporaryFile {
public:
    explicit TemporaryFile(const std::string& target)
    {
        const auto slash = target.rfind('/');
        const std::string folder = slash == std::string::npos ? std::string() : target.substr(0, slash + 1);
        const std::string base = slash == std::string::npos ? target : target.substr(slash + 1);
        m_path = folder + "." + base.substr(0, 100) + kTemporaryMarker + "XXXXXX";
        m_fd = UniqueFd(::mkostemp(m_path.data(), O_CLOEXEC));
        // Locked while in use: a later start removes only temporaries nobody holds.
        if (m_fd.valid() && ::flock(m_fd.get(), LOCK_EX | LOCK_NB) != 0) m_fd.reset();
        if (!m_fd.valid()) m_path.clear();
    }
    ~TemporaryFile()
    {
        if (!m_path.empty()) ::unlink(m_path.c_str());
    }
    int fd() const { return m_fd.get(); }
    const std::string& path() const { return m_path; }
    bool valid() const { return m_fd.valid(); }
    int close() { return ::close(m_fd.release()) == 0 ? 0 : errno; }
    void keep() { m_path.clear(); } // renamed into place

private:
    std::string m_path;
    UniqueFd m_fd;
};

int OverwriteInPlace(const std::string& target, std::span<const std::uint8_t> bytes)
{
    UniqueFd fd(::open(target.c_str(), O_WRONLY | O_CLOEXEC));
    if (!fd.valid()) return errno;
    if (!WriteFullyAt(fd.get(), bytes.data(), bytes.size(), 0)) return errno;
    if (::ftruncate(fd.get(), off_t(bytes.size())) != 0) return errno;
    if (::fsync(fd.get()) != 0) return errno;
    return ::close(fd.release()) == 0 ? 0 : errno;
}

int ReplaceContents(const std::string& path, std::span<const std::uint8_t> bytes)
{
    const std::string target = ResolveLinks(path);
    struct stat st {};
    if (::stat(target.c_str(), &st) != 0) return errno;
    if (!S_ISREG(st.st_mode)) return EINVAL;
    if (::access(target.c_str(), W_OK) != 0) return errno;

    TemporaryFile temp(target);
    if (!temp.valid()) return errno;
    if (!WriteFullyAt(temp.fd(), bytes.data(), bytes.size(), 0)) return errno;
    if (::fchmod(temp.fd(), st.st_mode & 07777) != 0) return errno;
    // Owner and group can only be kept where the process may give them away.
    if (::fchown(temp.fd(), st.st_uid, st.st_gid) != 0 && errno != EPERM) return errno;
    {
        UniqueFd original(::open(target.c_str(), O_RDONLY | O_CLOEXEC | O_NONBLOCK));
        if (original.valid()) CopyExtendedAttributes(original.get(), temp.fd());
    }
    if (::fsync(temp.fd()) != 0) return errno;

    if (st.st_nlink > 1) {
        // Renaming would cut the other links off; the flushed temporary holds the complete
        // new contents while the original is rewritten.
        return OverwriteInPlace(target, bytes);
    }
    if (::rename(temp.path().c_str(), target.c_str()) != 0) return errno;
    temp.keep();
    if (const int error = temp.close()) return error;
    return FlushFolder(FolderOf(target));
}

} // namespace

bool ReadFullyAt(int fd, void* dst, std::size_t n, std::uint64_t offset)
{
    auto* p = static_cast<std::uint8_t*>(dst);
    while (n > 0) {
        const ssize_t got = ::pread(fd, p, n, off_t(offset));
        if (got < 0 && errno == EINTR) continue;
        if (got <= 0) {
            if (got == 0) errno = EIO; // the file ended early
            return false;
        }
        p += got;
        offset += std::uint64_t(got);
        n -= std::size_t(got);
    }
    return true;
}

bool WriteFullyAt(int fd, const void* src, std::size_t n, std::uint64_t offset)
{
    const auto* p = static_cast<const std::uint8_t*>(src);
    while (n > 0) {
        const ssize_t put = ::pwrite(fd, p, n, off_t(offset));
        if (put < 0 && errno == EINTR) continue;
        if (put <= 0) {
            if (put == 0) errno = EIO;
            return false;
        }
        p += put;
        offset += std::uint64_t(put);
        n -= std::size_t(put);
    }
    return true;
}

void UniqueFd::reset(int fd)
{
    if (m_fd >= 0) ::close(m_fd);
    m_fd = fd;
}

Result ReadFileBytes(const std::string& path, std::vector<std::uint8_t>& out, std::uint64_t maxBytes)
{
    out.clear();
    UniqueFd fd(::open(path.c_str(), O_RDONLY | O_CLOEXEC | O_NONBLOCK | O_NOCTTY));
    struct stat st {};
    if (!fd.valid() || ::fstat(fd.get(), &st) != 0) return Result::FromErrno(errno);
    if (!S_ISREG(st.st_mode)) return Result::FromErrno(EINVAL);
    if (std::uint64_t(st.st_size) > maxBytes) return Result::FromErrno(EFBIG);
    out.resize(std::size_t(st.st_size));
    if (!ReadFullyAt(fd.get(), out.data(), out.size(), 0)) {
        const int error = errno;
        out.clear();
        return Result::FromErrno(error);
    }
    return {};
}

Result ReplaceFileContents(const std::string& path, std::span<const std::uint8_t> bytes)
{
    const int error = ReplaceContents(path, bytes);
    return error == 0 ? Result() : Result::FromErrno(error);
}

Result GetFileTimes(const std::string& path, FileTimes& times)
{
    UniqueFd fd(::open(path.c_str(), O_RDWR | O_CLOEXEC | O_NONBLOCK | O_NOCTTY));
    struct stat st {};
    if (!fd.valid() || ::fstat(fd.get(), &st) != 0) return Result::FromErrno(errno);
    times.access = st.st_atim;
    times.modification = st.st_mtim;
    return {};
}

Result SetFileTimes(const std::string& path, const FileTimes& times)
{
    UniqueFd fd(::open(path.c_str(), O_RDWR | O_CLOEXEC | O_NONBLOCK | O_NOCTTY));
    const struct timespec both[2] = {times.access, times.modification};
    if (!fd.valid() || ::futimens(fd.get(), both) != 0) return Result::FromErrno(errno);
    return {};
}

bool IsTemporaryName(const std::string& name)
{
    const auto at = name.rfind(kTemporaryMarker);
    return !name.empty() && name[0] == '.' && at != std::string::npos &&
           name.size() == at + std::strlen(kTemporaryMarker) + 6;
}

bool RemoveIfStale(const std::string& path)
{
    const auto slash = path.rfind('/');
    if (!IsTemporaryName(slash == std::string::npos ? path : path.substr(slash + 1))) return false;
    UniqueFd fd(::open(path.c_str(), O_RDONLY | O_CLOEXEC | O_NOFOLLOW | O_NONBLOCK));
    struct stat st {};
    if (!fd.valid() || ::fstat(fd.get(), &st) != 0 || !S_ISREG(st.st_mode)) return false;
    // Held by a turn in progress: not stale.
    if (::flock(fd.get(), LOCK_EX | LOCK_NB) != 0) return false;
    return ::unlink(path.c_str()) == 0;
}

std::string SystemErrorText(int error)
{
    return "System Error.  Code: " + std::to_string(error) + ".\n" + std::strerror(error);
}

} // namespace platform
