// SPDX-License-Identifier: GPL-3.0-or-later
#include "jpeg/mpf.h"

#include <cstring>

namespace jpeg {
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

std::optional<IndexFields> ReadIndexIfd(const ByteReader& tiff, ByteOrder order)
{
    std::uint32_t ifd = 0;
    std::uint16_t entries = 0;
    if (!tiff.u32(4, order, ifd) || !tiff.u16(ifd, order, entries)) return std::nullopt;
    if (!tiff.has(std::size_t(ifd) + 2, 12u * entries)) return std::nullopt;
    IndexFields fields;
    for (std::size_t i = 0; i < entries; ++i) {
        const std::size_t entry = ifd + 2 + 12 * i;
        const std::uint16_t tag = Load16(tiff.at(entry), order);
        const std::uint16_t type = Load16(tiff.at(entry + 2), order);
        const std::uint32_t count = Load32(tiff.at(entry + 4), order);
        const std::uint32_t value = Load32(tiff.at(entry + 8), order);
        if (tag == kTagMpfVersion && type == kTypeUndefined && count == 4) {
            fields.versionSeen = std::memcmp(tiff.at(entry + 8), "01", 2) == 0;
        } else if (tag == kTagNumberOfImages && type == kTypeLong && count == 1) {
            fields.count = value;
        } else if (tag == kTagMpEntries && type == kTypeUndefined && count > 4) {
            fields.entriesOffset = value;
            fields.entriesLength = count;
        }
    }
    return fields;
}

} // namespace

bool IsMpfPayload(std::span<const std::uint8_t> payload)
{
    return payload.size() >= 4 && std::memcmp(payload.data(), "MPF\0", 4) == 0;
}

std::optional<MpfIndex> ParseMpfIndex(std::span<const std::uint8_t> payload)
{
    if (!IsMpfPayload(payload) || payload.size() < kMpfTiffStart + 8) return std::nullopt;
    const ByteReader tiff(payload.subspan(kMpfTiffStart));
    const std::optional<ByteOrder> order = ByteOrderMark(tiff.at(0));
    std::uint16_t magic = 0;
    if (!order || !tiff.u16(2, *order, magic) || magic != 42) return std::nullopt;

    const std::optional<IndexFields> fields = ReadIndexIfd(tiff, *order);
    if (!fields || !fields->versionSeen || !fields->count || !fields->entriesOffset) return std::nullopt;
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

bool WriteMpfEntries(std::span<std::uint8_t> payload, const MpfIndex& index)
{
    const std::size_t length = index.entries.size() * kMpfEntrySize;
    if (index.entriesAt > payload.size() || length > payload.size() - index.entriesAt) return false;
    for (std::size_t i = 0; i < index.entries.size(); ++i) {
        std::uint8_t* e = payload.data() + index.entriesAt + kMpfEntrySize * i;
        Store32(e + 4, index.entries[i].size, index.order);
        Store32(e + 8, index.entries[i].offset, index.order);
    }
    return true;
}

} // namespace jpeg
