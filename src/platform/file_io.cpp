// SPDX-License-Identifier: GPL-3.0-or-later
#include "platform/file_io.h"

#include <fcntl.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstring>
#include <ctime>
#include <sys/file.h>
#include <sys/random.h>

namespace platform {

bool ReadFullyAt(int fd, void* dst, std::size_t n, std::uint64_t offset) {
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

bool WriteFullyAt(int fd, const void* src, std::size_t n, std::uint64_t offset) {
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

bool BeginsWith(int fd, std::span<const std::uint8_t> expected) {
    std::vector<std::uint8_t> chunk(std::size_t(1) << 16);
    for (std::size_t at = 0; at < expected.size(); at += chunk.size()) {
        const std::size_t n = std::min(chunk.size(), expected.size() - at);
        if (!ReadFullyAt(fd, chunk.data(), n, at) ||
            std::memcmp(chunk.data(), expected.data() + at, n) != 0)
            return false;
    }
    return true;
}

std::string RandomNameSuffix() {
    static constexpr char kLetters[] =
        "ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz0123456789";
    std::uint8_t random[6] = {};
    if (::getrandom(random, sizeof random, 0) != ssize_t(sizeof random)) {
        struct timespec now {};
        ::clock_gettime(CLOCK_MONOTONIC, &now);
        std::memcpy(random, &now.tv_nsec, std::min(sizeof random, sizeof now.tv_nsec));
    }
    std::string out;
    for (const std::uint8_t r : random)
        out += kLetters[r % (sizeof kLetters - 1)];
    return out;
}

UniqueFd CreateLockedTemporary(int folder, const std::string& stem, std::string& name) {
    UniqueFd fd;
    for (int attempt = 0; attempt < 16 && !fd.valid(); ++attempt) {
        name = stem + RandomNameSuffix();
        fd = UniqueFd(::openat(folder, name.c_str(),
                               O_RDWR | O_CREAT | O_EXCL | O_NOFOLLOW | O_CLOEXEC, 0600));
        if (!fd.valid() && errno != EEXIST) break;
    }
    if (fd.valid() && ::flock(fd.get(), LOCK_EX | LOCK_NB) != 0) {
        const int error = errno;
        ::unlinkat(folder, name.c_str(), 0);
        fd.reset();
        errno = error;
    }
    if (!fd.valid()) name.clear();
    return fd;
}

void UniqueFd::reset(int fd) {
    if (m_fd >= 0) ::close(m_fd);
    m_fd = fd;
}

Result ReadFileBytes(const std::string& path, std::vector<std::uint8_t>& out,
                     std::uint64_t maxBytes) {
    out.clear();
    UniqueFd fd(::open(path.c_str(), O_RDONLY | O_CLOEXEC | O_NONBLOCK | O_NOCTTY));
    struct stat st {};
    if (!fd.valid() || ::fstat(fd.get(), &st) != 0) return Result::FromErrno(errno);
    if (!S_ISREG(st.st_mode)) return NotARegularFile();
    if (std::uint64_t(st.st_size) > maxBytes) return Result::FromErrno(EFBIG);
    out.resize(std::size_t(st.st_size));
    if (!ReadFullyAt(fd.get(), out.data(), out.size(), 0)) {
        const int error = errno;
        out.clear();
        return Result::FromErrno(error);
    }
    return {};
}

Result GetFileTimes(const std::string& path, FileTimes& times) {
    UniqueFd fd(::open(path.c_str(), O_RDWR | O_CLOEXEC | O_NONBLOCK | O_NOCTTY));
    struct stat st {};
    if (!fd.valid() || ::fstat(fd.get(), &st) != 0) return Result::FromErrno(errno);
    times.access = st.st_atim;
    times.modification = st.st_mtim;
    return {};
}

Result SetFileTimes(const std::string& path, const FileTimes& times) {
    UniqueFd fd(::open(path.c_str(), O_RDWR | O_CLOEXEC | O_NONBLOCK | O_NOCTTY));
    const struct timespec both[2] = {times.access, times.modification};
    if (!fd.valid() || ::futimens(fd.get(), both) != 0) return Result::FromErrno(errno);
    return {};
}

} // namespace platform
