// SPDX-License-Identifier: GPL-3.0-or-later
#include "exif/exif_reader.h"

#include "exif/tags.h"
#include "platform/file_io.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <bit>
#include <cstring>

namespace exif {
namespace {

using jpeg::ByteOrder;
using jpeg::ByteReader;

constexpr int kMaxDirectories = 16;
// Leading segments of real files stay far below this; a larger header is not a photo we read.
constexpr std::size_t kMaxHeaderBytes = 16u << 20;

std::size_t ComponentSize(std::uint16_t type)
{
    switch (ExifType(type)) {
    case ExifType::Byte: case ExifType::Ascii: case ExifType::SByte: case ExifType::Undefined:
        return 1;
    case ExifType::Short: case ExifType::SShort: return 2;
    case ExifType::Long: case ExifType::SLong: case ExifType::Float:
    case ExifType::Rational: case ExifType::SRational: return 4; // rationals: two components
    case ExifType::Double: return 8;
    }
    return 0;
}

std::size_t ComponentsPerValue(std::uint16_t type)
{
    return type == std::uint16_t(ExifType::Rational) || type == std::uint16_t(ExifType::SRational)
               ? 2 : 1;
}

void ToHostOrder(std::vector<std::uint8_t>& bytes, std::size_t component, ByteOrder order)
{
    const bool hostLittle = std::endian::native == std::endian::little;
    const bool dataLittle = order == ByteOrder::Little;
    if (component < 2 || hostLittle == dataLittle) return;
    for (std::size_t i = 0; i + component <= bytes.size(); i += component)
        std::reverse(bytes.begin() + std::ptrdiff_t(i), bytes.begin() + std::ptrdiff_t(i + component));
}

class TiffParser {
public:
    TiffParser(std::span<const std::uint8_t> tiff, ByteOrder order, ExifData& out)
        : m_tiff(tiff), m_order(order), m_out(out) {}

    void readDirectory(std::uint32_t offset, std::vector<PropertyItem>& into,
                       std::vector<std::uint32_t>* subDirectories)
    {
        if (++m_directories > kMaxDirectories) return;
        std::uint16_t count = 0;
        if (!m_tiff.u16(offset, m_order, count)) return;
        for (std::uint32_t i = 0; i < count; ++i) {
            const std::size_t entry = std::size_t(offset) + 2 + 12u * i;
            if (!m_tiff.has(entry, 12)) return; // the count runs past the block
            PropertyItem item;
            if (!readEntry(entry, item)) continue;
            if (subDirectories && item.value.size() >= 4 &&
                (item.id == tag::ExifIfd || item.id == tag::GpsIfd || item.id == tag::InteropIfd)) {
                std::uint32_t sub = 0;
                std::memcpy(&sub, item.value.data(), 4);
                subDirectories->push_back(sub);
            }
            into.push_back(std::move(item));
        }
    }

    std::uint32_t nextDirectory(std::uint32_t offset)
    {
        std::uint16_t count = 0;
        std::uint32_t next = 0;
        if (!m_tiff.u16(offset, m_order, count)) return 0;
        if (!m_tiff.u32(std::size_t(offset) + 2 + 12u * count, m_order, next)) return 0;
        return next;
    }

    void readPrimary(std::uint32_t ifd0)
    {
        std::vector<std::uint32_t> pending{ifd0};
        std::vector<std::uint32_t> seen;
        for (std::size_t i = 0; i < pending.size(); ++i) {
            const std::uint32_t dir = pending[i];
            if (std::find(seen.begin(), seen.end(), dir) != seen.end()) continue;
            seen.push_back(dir);
            std::vector<std::uint32_t> subs;
            readDirectory(dir, m_out.items, &subs);
            // Sub-directories follow their parent, before the parent's later siblings.
            pending.insert(pending.begin() + std::ptrdiff_t(i) + 1, subs.begin(), subs.end());
        }
        m_primary = seen;
    }

    void readThumbnail(std::uint32_t ifd1)
    {
        if (ifd1 == 0 || std::find(m_primary.begin(), m_primary.end(), ifd1) != m_primary.end())
            return;
        readDirectory(ifd1, m_out.thumbnailItems, nullptr);
        std::uint32_t offset = 0, length = 0;
        for (const auto& item : m_out.thumbnailItems) {
            if (item.value.size() < 4 || (item.type != std::uint16_t(ExifType::Long) &&
                                          item.type != std::uint16_t(ExifType::SLong)))
                continue;
            if (item.id == tag::ThumbnailOffset) std::memcpy(&offset, item.value.data(), 4);
            if (item.id == tag::ThumbnailLength) std::memcpy(&length, item.value.data(), 4);
        }
        if (length > 0 && m_tiff.has(offset, length)) {
            m_out.thumbnailOffset = offset;
            m_out.thumbnailLength = length;
        }
    }

private:
    bool readEntry(std::size_t entry, PropertyItem& item)
    {
        std::uint16_t tag = 0, type = 0;
        std::uint32_t count = 0;
        m_tiff.u16(entry, m_order, tag);
        m_tiff.u16(entry + 2, m_order, type);
        m_tiff.u32(entry + 4, m_order, count);
        const std::size_t component = ComponentSize(type);
        if (component == 0) return false;
        const std::size_t perValue = ComponentsPerValue(type);
        // Counts are bounded by the block (at most 64 KiB) before they are multiplied.
        if (count > m_tiff.size()) return false;
        const std::size_t length = std::size_t(count) * component * perValue;
        std::size_t at = entry + 8;
        if (length > 4) {
            std::uint32_t off = 0;
            m_tiff.u32(entry + 8, m_order, off);
            at = off;
        }
        if (!m_tiff.has(at, length)) return false;
        item.id = tag;
        item.type = type;
        item.count = count;
        item.value.assign(m_tiff.at(at), m_tiff.at(at) + length);
        ToHostOrder(item.value, component, m_order);
        return true;
    }

    ByteReader m_tiff;
    ByteOrder m_order;
    ExifData& m_out;
    int m_directories = 0;
    std::vector<std::uint32_t> m_primary;
};

bool ReadFully(int fd, std::uint8_t* dst, std::size_t n, off_t at)
{
    while (n > 0) {
        const ssize_t got = ::pread(fd, dst, n, at);
        if (got <= 0) return false;
        dst += got;
        at += got;
        n -= std::size_t(got);
    }
    return true;
}

} // namespace

std::optional<ExifSegment> FindExifSegment(std::span<const std::uint8_t> bytes)
{
    ByteReader jpeg(bytes);
    std::uint8_t b0 = 0, b1 = 0;
    if (!jpeg.u8(0, b0) || !jpeg.u8(1, b1) || b0 != 0xFF || b1 != 0xD8) return std::nullopt;
    std::size_t pos = 2;
    for (;;) {
        std::uint8_t ff = 0, marker = 0;
        if (!jpeg.u8(pos, ff) || ff != 0xFF) return std::nullopt;
        // Fill bytes before a marker code are allowed.
        do {
            ++pos;
            if (!jpeg.u8(pos, marker)) return std::nullopt;
        } while (marker == 0xFF);
        if (marker == 0xD9 || marker == 0xDA) return std::nullopt;
        std::uint16_t length = 0;
        if (!jpeg.u16(pos + 1, ByteOrder::Big, length) || length < 2) return std::nullopt;
        const std::size_t payload = pos + 3;
        const std::size_t payloadLength = length - 2u;
        // The segment must hold its own "Exif\0\0": a shorter length claims a TIFF block that
        // starts past the segment's end.
        if (marker == 0xE1 && payloadLength >= 6 && jpeg.has(payload, 6) &&
            std::memcmp(jpeg.at(payload), "Exif\0\0", 6) == 0) {
            const std::size_t end = std::min(bytes.size(), payload + payloadLength);
            return ExifSegment{pos - 1, end, payload + 6};
        }
        pos = payload + payloadLength;
    }
}

ExifData ReadExif(std::span<const std::uint8_t> tiffBytes)
{
    ExifData out;
    ByteReader tiff(tiffBytes);
    if (!tiff.has(0, 8)) return out;
    const std::optional<ByteOrder> order = jpeg::ByteOrderMark(tiffBytes.data());
    if (!order) return out;
    out.order = *order;
    std::uint16_t magic = 0;
    std::uint32_t ifd0 = 0;
    tiff.u16(2, out.order, magic);
    tiff.u32(4, out.order, ifd0);
    if (magic != 42) return out;
    TiffParser parser(tiffBytes, out.order, out);
    parser.readPrimary(ifd0);
    parser.readThumbnail(parser.nextDirectory(ifd0));
    return out;
}

ExifData ReadJpegExif(std::span<const std::uint8_t> jpeg)
{
    const auto segment = FindExifSegment(jpeg);
    if (!segment) return {};
    return ReadExif(jpeg.subspan(segment->tiffStart, segment->segmentEnd - segment->tiffStart));
}

std::uint16_t OrientationOf(const ExifData& data)
{
    std::uint16_t result = 0;
    for (const auto& item : data.items)
        if (item.id == tag::Orientation && item.value.size() >= 2)
            std::memcpy(&result, item.value.data(), 2);
    return result;
}

std::vector<std::uint8_t> ReadJpegHeader(const std::string& path)
{
    std::vector<std::uint8_t> out;
    const platform::UniqueFd file(::open(path.c_str(), O_RDONLY | O_CLOEXEC | O_NONBLOCK | O_NOCTTY));
    const int fd = file.get();
    struct stat st {};
    if (!file.valid() || ::fstat(fd, &st) != 0 || !S_ISREG(st.st_mode)) return out;
    const std::size_t size = std::size_t(st.st_size);
    std::size_t pos = 2;
    out.resize(std::min<std::size_t>(size, 2));
    bool ok = out.size() == 2 && ReadFully(fd, out.data(), 2, 0) && out[0] == 0xFF && out[1] == 0xD8;
    while (ok) {
        std::uint8_t head[4];
        if (pos >= kMaxHeaderBytes || pos > size || size - pos < 4 || !ReadFully(fd, head, 4, off_t(pos))) break;
        if (head[0] != 0xFF || head[1] == 0xD9) break;
        if (head[1] == 0xFF) { // a fill byte
            out.push_back(0xFF);
            ++pos;
            continue;
        }
        const std::size_t length = std::size_t(head[2]) << 8 | head[3];
        const std::size_t end = std::min(size, pos + 2 + length);
        if (end > kMaxHeaderBytes || length < 2) break;
        const std::size_t old = out.size();
        out.resize(end);
        if (!ReadFully(fd, out.data() + old, end - old, off_t(old))) {
            out.resize(old);
            break;
        }
        if (head[1] == 0xDA) break; // start of scan: the header is complete
        pos = end;
    }
    if (!ok) out.clear();
    return out;
}

} // namespace exif
