// SPDX-License-Identifier: GPL-3.0-or-later
#include "exif/mpf.h"

#include "exif/ifd_view.h"

#include <cstring>

namespace exif {

using jpeg::ByteOrder;
using jpeg::ByteReader;
using jpeg::Load16;
using jpeg::Load32;
using jpeg::Store16;
using jpeg::Store32;

namespace {

constexpr std::uint16_t kTagMpfVersion = 0xB000;
constexpr std::uint16_t kTagNumberOfImages = 0xB001;
constexpr std::uint16_t kTagMpEntries = 0xB002;
constexpr std::uint16_t kTypeLong = 4;
constexpr std::uint16_t kTypeUndefined = 7;
// Far more than any camera writes; bounds the work a hostile index can ask for.
constexpr std::uint32_t kMaxImages = 256;

struct IndexFields {
    bool versionSeen = false;
    std::optional<std::uint32_t> count;
    std::optional<std::uint32_t> entriesOffset;
    std::uint32_t entriesLength = 0;
};

std::optional<IndexFields> ReadIndexIfd(const exif::TiffView& tiff) {
    const exif::IfdView ifd(tiff, tiff.firstDirectory());
    if (!ifd.valid() || ifd.entries() < ifd.declaredCount()) return std::nullopt;
    IndexFields fields;
    for (std::size_t i = 0; i < ifd.entries(); ++i) {
        const exif::IfdEntry entry = ifd.entry(i);
        if (entry.tag == kTagMpfVersion && entry.type == kTypeUndefined && entry.count == 4) {
            fields.versionSeen = std::memcmp(tiff.bytes().at(entry.valueField()), "01", 2) == 0;
        } else if (entry.tag == kTagNumberOfImages && entry.type == kTypeLong && entry.count == 1) {
            fields.count = entry.value;
        } else if (entry.tag == kTagMpEntries && entry.type == kTypeUndefined && entry.count > 4) {
            fields.entriesOffset = entry.value;
            fields.entriesLength = entry.count;
        }
    }
    return fields;
}

} // namespace

bool IsMpfPayload(std::span<const std::uint8_t> payload) {
    return payload.size() >= 4 && std::memcmp(payload.data(), "MPF\0", 4) == 0;
}

std::optional<MpfIndex> ParseMpfIndex(std::span<const std::uint8_t> payload) {
    if (!IsMpfPayload(payload) || payload.size() < kMpfTiffStart + 8) return std::nullopt;
    const std::optional<exif::TiffView> view = exif::TiffView::Open(payload.subspan(kMpfTiffStart));
    if (!view || view->magic() != 42) return std::nullopt;
    const ByteReader& tiff = view->bytes();
    const std::optional<ByteOrder> order = view->order();

    const std::optional<IndexFields> fields = ReadIndexIfd(*view);
    if (!fields || !fields->versionSeen || !fields->count || !fields->entriesOffset)
        return std::nullopt;
    const std::uint32_t count = *fields->count;
    if (count == 0 || count > kMaxImages || fields->entriesLength != count * kMpfEntrySize ||
        !tiff.has(*fields->entriesOffset, fields->entriesLength))
        return std::nullopt;

    MpfIndex index;
    index.order = *order;
    index.entriesAt = kMpfTiffStart + *fields->entriesOffset;
    for (std::uint32_t i = 0; i < count; ++i) {
        const std::uint8_t* e = tiff.at(*fields->entriesOffset + kMpfEntrySize * i);
        index.entries.push_back({Load32(e, *order), Load32(e + 4, *order), Load32(e + 8, *order),
                                 Load16(e + 12, *order), Load16(e + 14, *order)});
    }
    return index;
}

bool WriteMpfEntries(std::span<std::uint8_t> payload, const MpfIndex& index) {
    const std::size_t length = index.entries.size() * kMpfEntrySize;
    if (index.entriesAt > payload.size() || length > payload.size() - index.entriesAt) return false;
    for (std::size_t i = 0; i < index.entries.size(); ++i) {
        std::uint8_t* e = payload.data() + index.entriesAt + kMpfEntrySize * i;
        Store32(e + 4, index.entries[i].size, index.order);
        Store32(e + 8, index.entries[i].offset, index.order);
    }
    return true;
}

} // namespace exif
