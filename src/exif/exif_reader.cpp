// SPDX-License-Identifier: GPL-3.0-or-later
#include "exif/exif_reader.h"

#include "exif/ifd_view.h"
#include "exif/tags.h"
#include "jpeg/segments.h"

#include <algorithm>
#include <bit>
#include <cstring>

namespace exif {
namespace {

using jpeg::ByteOrder;
using jpeg::ByteReader;

constexpr int kMaxDirectories = 16;

std::size_t ComponentSize(std::uint16_t type) {
    switch (ExifType(type)) {
    case ExifType::Byte:
    case ExifType::Ascii:
    case ExifType::SByte:
    case ExifType::Undefined:
        return 1;
    case ExifType::Short:
    case ExifType::SShort:
        return 2;
    case ExifType::Long:
    case ExifType::SLong:
    case ExifType::Float:
    case ExifType::Rational:
    case ExifType::SRational:
        return 4; // rationals: two components
    case ExifType::Double:
        return 8;
    }
    return 0;
}

std::size_t ComponentsPerValue(std::uint16_t type) {
    return type == std::uint16_t(ExifType::Rational) || type == std::uint16_t(ExifType::SRational)
               ? 2
               : 1;
}

void ToHostOrder(std::vector<std::uint8_t>& bytes, std::size_t component, ByteOrder order) {
    const bool hostLittle = std::endian::native == std::endian::little;
    const bool dataLittle = order == ByteOrder::Little;
    if (component < 2 || hostLittle == dataLittle) return;
    for (std::size_t i = 0; i + component <= bytes.size(); i += component)
        std::reverse(bytes.begin() + std::ptrdiff_t(i),
                     bytes.begin() + std::ptrdiff_t(i + component));
}

class TiffParser {
public:
    TiffParser(const TiffView& tiff, ExifData& out) : m_tiff(tiff), m_out(out) {}

    void readDirectory(std::uint32_t offset, std::vector<PropertyItem>& into,
                       std::vector<std::uint32_t>* subDirectories) {
        const IfdView dir(m_tiff, offset);
        for (std::size_t i = 0; i < dir.entries(); ++i) {
            PropertyItem item;
            if (!readEntry(dir.entry(i), item)) continue;
            if (subDirectories && item.value.size() >= 4 &&
                (item.id == tag::ExifIfd || item.id == tag::GpsIfd || item.id == tag::InteropIfd)) {
                std::uint32_t sub = 0;
                std::memcpy(&sub, item.value.data(), 4);
                subDirectories->push_back(sub);
            }
            into.push_back(std::move(item));
        }
    }

    void readPrimary(std::uint32_t ifd0) {
        std::vector<std::uint32_t> pending{ifd0};
        for (std::size_t i = 0; i < pending.size(); ++i) {
            if (!m_visits.enter(pending[i])) continue;
            std::vector<std::uint32_t> subs;
            readDirectory(pending[i], m_out.items, &subs);
            // Sub-directories follow their parent, before the parent's later siblings.
            pending.insert(pending.begin() + std::ptrdiff_t(i) + 1, subs.begin(), subs.end());
        }
    }

    void readThumbnail(std::uint32_t ifd1) {
        if (ifd1 == 0 || !m_visits.enter(ifd1)) return;
        readDirectory(ifd1, m_out.thumbnailItems, nullptr);
        std::uint32_t offset = 0, length = 0;
        for (const auto& item : m_out.thumbnailItems) {
            if (item.value.size() < 4 || (item.type != std::uint16_t(ExifType::Long) &&
                                          item.type != std::uint16_t(ExifType::SLong)))
                continue;
            if (item.id == tag::ThumbnailOffset) std::memcpy(&offset, item.value.data(), 4);
            if (item.id == tag::ThumbnailLength) std::memcpy(&length, item.value.data(), 4);
        }
        if (length > 0 && m_tiff.bytes().has(offset, length)) {
            m_out.thumbnailOffset = offset;
            m_out.thumbnailLength = length;
        }
    }

private:
    bool readEntry(const IfdEntry& entry, PropertyItem& item) const {
        const ByteReader& bytes = m_tiff.bytes();
        const std::size_t component = ComponentSize(entry.type);
        if (component == 0) return false;
        const std::size_t perValue = ComponentsPerValue(entry.type);
        // Counts are bounded by the block (at most 64 KiB) before they are multiplied.
        if (entry.count > bytes.size()) return false;
        const std::size_t length = std::size_t(entry.count) * component * perValue;
        const std::size_t at = length > 4 ? std::size_t(entry.value) : entry.valueField();
        if (!bytes.has(at, length)) return false;
        item.id = entry.tag;
        item.type = entry.type;
        item.count = entry.count;
        item.value.assign(bytes.at(at), bytes.at(at) + length);
        ToHostOrder(item.value, component, m_tiff.order());
        return true;
    }

    const TiffView& m_tiff;
    ExifData& m_out;
    IfdVisits m_visits{kMaxDirectories, kMaxDirectories};
};

} // namespace

std::optional<ExifSegment> FindExifSegment(std::span<const std::uint8_t> bytes) {
    jpeg::SpanSource source(bytes);
    jpeg::SegmentWalker walker(source, jpeg::Strictness::Lenient);
    while (const auto segment = walker.next()) {
        // The segment must hold its own "Exif\0\0": a shorter length claims a TIFF block that
        // starts past the segment's end.
        if (segment->marker == jpeg::marker::App1 && segment->length >= 8 &&
            segment->payloadSize() >= 6 &&
            std::memcmp(bytes.data() + segment->payloadStart, "Exif\0\0", 6) == 0)
            return ExifSegment{std::size_t(segment->offset), std::size_t(segment->payloadEnd),
                               std::size_t(segment->payloadStart) + 6};
    }
    return std::nullopt;
}

ExifData ReadExif(std::span<const std::uint8_t> tiffBytes) {
    ExifData out;
    const std::optional<TiffView> tiff = TiffView::Open(tiffBytes);
    if (!tiff || tiff->magic() != 42) return out;
    out.order = tiff->order();
    const std::uint32_t ifd0 = tiff->firstDirectory();
    TiffParser parser(*tiff, out);
    parser.readPrimary(ifd0);
    parser.readThumbnail(IfdView(*tiff, ifd0).next().value_or(0));
    return out;
}

ExifData ReadJpegExif(std::span<const std::uint8_t> jpeg) {
    const auto segment = FindExifSegment(jpeg);
    if (!segment) return {};
    return ReadExif(jpeg.subspan(segment->tiffStart, segment->segmentEnd - segment->tiffStart));
}

std::uint16_t OrientationOf(const ExifData& data) {
    std::uint16_t result = 0;
    for (const auto& item : data.items)
        if (item.id == tag::Orientation && item.value.size() >= 2)
            std::memcpy(&result, item.value.data(), 2);
    return result;
}

} // namespace exif
