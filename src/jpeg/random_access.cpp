// SPDX-License-Identifier: GPL-3.0-or-later
#include "jpeg/random_access.h"

#include <fcntl.h>
#include <unistd.h>

#include <cstring>
#include <sys/file.h>
#include <sys/stat.h>

namespace jpeg {

bool MemoryFile::readAt(std::uint64_t off, void* dst, std::size_t n) {
    if (off > m_bytes.size() || n > m_bytes.size() - off) return false;
    if (n > 0) std::memcpy(dst, m_bytes.data() + off, n);
    return true;
}

bool MemoryFile::writeAt(std::uint64_t off, const void* src, std::size_t n) {
    if (off > m_bytes.size() || n > m_bytes.size() - off) return false;
    if (n > 0) std::memcpy(m_bytes.data() + off, src, n);
    return true;
}

LockedFile::LockedFile(const std::string& path) {
    // O_NONBLOCK keeps a FIFO posing as a photo from blocking the open; only regular files
    // are accepted below.
    platform::UniqueFd fd(::open(path.c_str(), O_RDWR | O_CLOEXEC | O_NONBLOCK | O_NOCTTY));
    struct stat st {};
    if (!fd.valid() || ::fstat(fd.get(), &st) != 0 || !S_ISREG(st.st_mode) ||
        ::flock(fd.get(), LOCK_EX | LOCK_NB) != 0)
        return;
    m_fd = std::move(fd);
    m_size = std::uint64_t(st.st_size);
}

bool LockedFile::readAt(std::uint64_t off, void* dst, std::size_t n) {
    if (!m_fd.valid() || off > m_size || n > m_size - off) return false;
    return platform::ReadFullyAt(m_fd.get(), dst, n, off);
}

bool LockedFile::writeAt(std::uint64_t off, const void* src, std::size_t n) {
    if (!m_fd.valid() || off > m_size || n > m_size - off) return false;
    return platform::WriteFullyAt(m_fd.get(), src, n, off);
}

} // namespace jpeg
