// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include <cerrno>
#include <cstdint>
#include <cstring>
#include <span>
#include <string>
#include <sys/stat.h>
#include <vector>

#include "platform/result.h"

namespace platform {

// A file descriptor that is closed when it goes out of scope.
class UniqueFd {
public:
    UniqueFd() = default;
    explicit UniqueFd(int fd) : m_fd(fd) {}
    ~UniqueFd() { reset(); }
    UniqueFd(UniqueFd&& other) noexcept : m_fd(other.release()) {}
    UniqueFd& operator=(UniqueFd&& other) noexcept {
        if (this != &other) reset(other.release());
        return *this;
    }
    int get() const { return m_fd; }
    bool valid() const { return m_fd >= 0; }
    int release() {
        const int fd = m_fd;
        m_fd = -1;
        return fd;
    }
    void reset(int fd = -1);

private:
    int m_fd = -1;
};

// Reads or writes exactly n bytes at `offset`, retrying after signals; false (errno set) on an
// error or an early end of file.
bool ReadFullyAt(int fd, void* dst, std::size_t n, std::uint64_t offset);
bool WriteFullyAt(int fd, const void* src, std::size_t n, std::uint64_t offset);
// Whether the file `fd` reads begins with `expected`, read from the start in pieces.
bool BeginsWith(int fd, std::span<const std::uint8_t> expected);

// Six letters for a file name no other file is likely to have.
std::string RandomNameSuffix();

// A new file `stem` + RandomNameSuffix() in `folder`, never through a link, mode 0600 and locked
// while its descriptor is open, so that a sweep removes only temporaries nobody holds. `name`
// gets its name; invalid (errno set) when none could be made.
UniqueFd CreateLockedTemporary(int folder, const std::string& stem, std::string& name);

// Reads a whole regular file of at most maxBytes; an error (and `out` empty) otherwise, a read
// error or a file that ends early included.
Result ReadFileBytes(const std::string& path, std::vector<std::uint8_t>& out,
                     std::uint64_t maxBytes = 1ull << 30);

struct FileTimes {
    struct timespec access {};
    struct timespec modification {};
};

// Like the original's handle-based calls: the file must open for reading and writing.
Result GetFileTimes(const std::string& path, FileTimes& times);
Result SetFileTimes(const std::string& path, const FileTimes& times);

// A folder, a FIFO or a device where a photo was expected.
inline Result NotARegularFile() {
    return Result::Failure(Result::Kind::Unsupported, Why::NotARegularFile, EINVAL);
}

} // namespace platform
