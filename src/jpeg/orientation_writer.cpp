// SPDX-License-Identifier: GPL-3.0-or-later
#include "jpeg/orientation_writer.h"

#include <algorithm>
#include <array>

namespace jpeg {
namespace {

// Real files nest three deep (IFD0 -> Exif -> chain); anything deeper is hostile.
constexpr int kMaxIfdDepth = 8;
constexpr std::uint32_t kLastChainedOffset = 0xFFFE;

class BoundedFile {
public:
    BoundedFile(RandomAccessFile& file, std::uint64_t limit) : m_file(file), m_limit(limit) {}
    bool read(std::uint64_t off, void* dst, std::size_t n)
    {
        return off <= m_limit && n <= m_limit - off && m_file.readAt(off, dst, n);
    }

private:
    RandomAccessFile& m_file;
    std::uint64_t m_limit;
};

struct FirstApp1 {
    std::uint64_t start = 0; // position of its FF
    std::uint64_t end = 0;   // one past its last byte, clamped to the file
};

// The segment walk of the patch: strict on purpose, so that anything unusual leaves the file
// alone (no fill bytes, first APP1 only).
bool FindFirstApp1(RandomAccessFile& file, FirstApp1& out)
{
    const std::uint64_t size = file.size();
    if (size == 0) return false;
    std::array<std::uint8_t, 2> soi{};
    if (!file.readAt(0, soi.data(), 2) || soi[0] != 0xFF || soi[1] != 0xD8) return false;

    std::uint64_t pos = 2;
    for (;;) {
        std::array<std::uint8_t, 2> marker{};
        if (!file.readAt(pos, marker.data(), 2) || marker[0] != 0xFF) return false;
        if (marker[1] == 0xD9) return false;
        std::array<std::uint8_t, 2> len{};
        if (!file.readAt(pos + 2, len.data(), 2)) return false;
        const std::uint64_t length = std::uint64_t(len[0]) << 8 | len[1];
        if (marker[1] == 0xE1) {
            out.start = pos;
            out.end = std::min(size, pos + 2 + length);
            return true;
        }
        // Always forward by at least two bytes, so the walk ends.
        pos += 2 + length;
        if (pos >= size) return false;
    }
}

void StoreOrientationValue(std::uint8_t* field, std::uint16_t value, ByteOrder order)
{
    Store16(field, value, order);
    field[2] = 0;
    field[3] = 0;
}

} // namespace

bool WriteIfdOrientation(IfdWalk& walk, std::uint32_t ifdOffset, int depth)
{
    if (depth > kMaxIfdDepth || !walk.visited.insert(ifdOffset).second) return false;
    BoundedFile file(walk.file, walk.limit);
    const std::uint64_t ifd = walk.tiffBase + ifdOffset;

    std::array<std::uint8_t, 2> countBytes{};
    if (!file.read(ifd, countBytes.data(), 2)) return false;
    const std::uint16_t count = Load16(countBytes.data(), walk.order);

    for (std::uint32_t i = 0; i < count; ++i) {
        const std::uint64_t entry = ifd + 2 + 12ull * i;
        std::array<std::uint8_t, 12> e{};
        if (!file.read(entry, e.data(), e.size())) return false;
        const std::uint16_t tag = Load16(e.data(), walk.order);
        if (tag == kTagOrientation) {
            std::array<std::uint8_t, 4> field{};
            StoreOrientationValue(field.data(), walk.value, walk.order);
            if (!walk.file.writeAt(entry + 8, field.data(), field.size())) return false;
        } else if (tag == kTagExifIfd) {
            if (!WriteIfdOrientation(walk, Load32(e.data() + 8, walk.order), depth + 1))
                return false;
        }
    }

    std::array<std::uint8_t, 4> nextBytes{};
    if (!file.read(ifd + 2 + 12ull * count, nextBytes.data(), 4)) return false;
    const std::uint32_t next = Load32(nextBytes.data(), walk.order);
    if (next >= 1 && next <= kLastChainedOffset) return WriteIfdOrientation(walk, next, depth + 1);
    return true;
}

bool PatchOrientation(RandomAccessFile& raw, std::uint16_t value)
{
    if (value == 0) return false;
    FirstApp1 app1;
    if (!FindFirstApp1(raw, app1)) return false;
    BoundedFile file(raw, app1.end);

    std::array<std::uint8_t, 6> exif{};
    if (!file.read(app1.start + 4, exif.data(), exif.size())) return false;
    static constexpr std::array<std::uint8_t, 6> kExifHeader{'E', 'x', 'i', 'f', 0, 0};
    if (exif != kExifHeader) return false;

    const std::uint64_t tiffBase = app1.start + 10;
    std::array<std::uint8_t, 8> header{};
    if (!file.read(tiffBase, header.data(), header.size())) return false;
    const std::optional<ByteOrder> order = ByteOrderMark(header.data());
    if (!order || Load16(header.data() + 2, *order) != 42) return false;

    IfdWalk walk{raw, tiffBase, app1.end, value, *order, {}};
    return WriteIfdOrientation(walk, Load32(header.data() + 4, *order));
}

void WriteOrientation(const std::string& path, std::uint16_t value)
{
    if (value == 0) return;
    LockedFile file(path);
    if (!file.isOpen()) return;
    PatchOrientation(file, value);
}

} // namespace jpeg
