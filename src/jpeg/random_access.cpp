// SPDX-License-Identifier: GPL-3.0-or-later
#include "jpeg/random_access.h"

#include <fcntl.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cstring>

namespace jpeg {

bool MemoryFile::readAt(std::uint64_t off, void* dst, std::size_t n)
{
    if (off > m_bytes.size() || n > m_bytes.size() - off) return false;
    std::memcpy(dst, m_bytes.data() + off, n);
    return true;
}

bool MemoryFile::writeAt(std::uint64_t off, const void* src, std::size_t n)
{
    if (off > m_bytes.size() || n > m_bytes.size() - off) return false;
    std::memcpy(m_bytes.data() + off, src, n);
    return true;
}

LockedFile::LockedFile(const std::string& path)
{
    // O_NONBLOCK keeps a FIFO posing as a photo from blocking the open; only regular files
    // are accepted below.
    const int fd = ::open(path.c_str(), O_RDWR | O_CLOEXEC | O_NONBLOCK | O_NOCTTY);
    if (fd < 0) return;
    struct stat st {};
    if (::fstat(fd, &st) != 0 || !S_ISREG(st.st_mode) || ::flock(fd, LOCK_EX | LOCK_NB) != 0) {
        ::close(fd);
        return;
    }
    m_fd = fd;
    m_size = std::uint64_t(st.st_size);
}

LockedFile::~LockedFile()
{
    if (m_fd >= 0) ::close(m_fd); // closing drops the lock
}

bool LockedFile::readAt(std::uint64_t off, void* dst, std::size_t n)
{
    if (m_fd < 0 || off > m_size || n > m_size - off) return false;
    auto* p = static_cast<char*>(dst);
    while (n > 0) {
        const ssize_t got = ::pread(m_fd, p, n, off_t(off));
        if (got <= 0) return false;
        p += got;
        off += std::uint64_t(got);
        n -= std::size_t(got);
    }
    return true;
}

bool LockedFile::writeAt(std::uint64_t off, const void* src, std::size_t n)
{
    if (m_fd < 0 || off > m_size || n > m_size - off) return false;
    auto* p = static_cast<const char*>(src);
    while (n > 0) {
        const ssize_t put = ::pwrite(m_fd, p, n, off_t(off));
        if (put <= 0) return false;
        p += put;
        off += std::uint64_t(put);
        n -= std::size_t(put);
    }
    return true;
}

} // namespace jpeg
