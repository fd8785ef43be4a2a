// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include "platform/result.h"

#include <sys/stat.h>

#include <cstdint>
#include <span>
#include <string>
#include <vector>

namespace platform {

// A file descriptor that is closed when it goes out of scope.
class UniqueFd {
public:
    UniqueFd() = default;
    explicit UniqueFd(int fd) : m_fd(fd) {}
    ~UniqueFd() { reset(); }
    UniqueFd(UniqueFd&& other) noexcept : m_fd(other.release()) {}
    UniqueFd& operator=(UniqueFd&& other) noexcept
    {
        if (this != &other) reset(other.release());
        return *this;
    }
    int get() const { return m_fd; }
    bool valid() const { return m_fd >= 0; }
    int release()
    {
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

// Reads a whole regular file of at most maxBytes; an error (and `out` empty) otherwise, a read
// error or a file that ends early included.
Result ReadFileBytes(const std::string& path, std::vector<std::uint8_t>& out,
                   std::uint64_t maxBytes = 1ull << 30);

// Replaces the contents of `path` with `bytes` so that a crash or a full disk leaves either the
// old or the new contents, complete:
//   - the new contents go to a temporary file in the same folder, which is flushed;
//   - permission bits, owner and group (where allowed) and extended attributes are copied;
//   - a symbolic link stays a link: its target is replaced;
//   - a file with one link is replaced by renaming over it, then the folder is flushed;
//   - a file with several hard links is rewritten in place, only once the complete new
//     contents are safe on disk beside it.
// On failure the original is untouched and no temporary is left.
Result ReplaceFileContents(const std::string& path, std::span<const std::uint8_t> bytes);

// Temporary files of ReplaceFileContents are named ".NAME.tulvex-tmp-XXXXXX".
inline constexpr const char* kTemporaryMarker = ".tulvex-tmp-";
bool IsTemporaryName(const std::string& fileName);
// Removes a temporary left behind by a turn that was killed (one that no process holds).
bool RemoveIfStale(const std::string& path);

struct FileTimes {
    struct timespec access {};
    struct timespec modification {};
};

// Like the original's handle-based calls: the file must open for reading and writing.
Result GetFileTimes(const std::string& path, FileTimes& times);
Result SetFileTimes(const std::string& path, const FileTimes& times);

std::string SystemErrorText(int error);

} // namespace platform
