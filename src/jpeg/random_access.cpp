// SPDX-License-Identifier: GPL-3.0-or-later
#include "jpeg/random_access.h"

#include <fcntl.h>

#include <cerrno>
#include <cstring>

#include "platform/photo_lock.h"

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

LockedFile::LockedFile(const std::string& path, const platform::LockWait& wait) {
    platform::LockedPhoto photo;
    m_status = platform::LockPhoto(path, O_RDWR, wait, photo);
    if (!m_status.ok()) return;
    // Read-only is the user's word that the photo stays as it is, also to root.
    if ((photo.identity.st_mode & 0222) == 0) {
        m_status = platform::Result::FromErrno(EACCES, platform::Why::PhotoReadOnly);
        return;
    }
    m_fd = std::move(photo.fd);
    m_size = std::uint64_t(photo.identity.st_size);
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
