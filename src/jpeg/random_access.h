// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include "jpeg/segments.h"

#include <cstddef>
#include <cstdint>
#include <string>
#include <vector>

#include "platform/file_io.h"
#include "platform/photo_lock.h"

namespace jpeg {

// The orientation patch works on this so that it can run on a real file or, for tests and
// fuzzing, on bytes in memory.
class RandomAccessFile : public ByteSource {
public:
    virtual bool writeAt(std::uint64_t off, const void* src, std::size_t n) = 0;
};

class MemoryFile final : public RandomAccessFile {
public:
    explicit MemoryFile(std::vector<std::uint8_t> bytes) : m_bytes(std::move(bytes)) {}
    std::uint64_t size() const override { return m_bytes.size(); }
    bool readAt(std::uint64_t off, void* dst, std::size_t n) override;
    bool writeAt(std::uint64_t off, const void* src, std::size_t n) override;
    const std::vector<std::uint8_t>& bytes() const { return m_bytes; }
    std::vector<std::uint8_t> release() { return std::move(m_bytes); }

private:
    std::vector<std::uint8_t> m_bytes;
};

// A regular file opened for reading and writing and held under the exclusive lock every Tulvex
// process takes on a photo it changes (waited for as `wait` says); closed when it goes out of
// scope.
class LockedFile final : public RandomAccessFile {
public:
    explicit LockedFile(const std::string& path, const platform::LockWait& wait = {});

    bool isOpen() const { return m_fd.valid(); }
    // Why it is not open.
    const platform::Result& status() const { return m_status; }
    std::uint64_t size() const override { return m_size; }
    bool readAt(std::uint64_t off, void* dst, std::size_t n) override;
    bool writeAt(std::uint64_t off, const void* src, std::size_t n) override;

private:
    platform::UniqueFd m_fd; // closing drops the lock
    std::uint64_t m_size = 0;
    platform::Result m_status;
};

} // namespace jpeg
