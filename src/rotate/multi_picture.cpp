// SPDX-License-Identifier: GPL-3.0-or-later
#include "rotate/multi_picture.h"

#include "exif/xmp.h"
#include "jpeg/segments.h"

#include <algorithm>

namespace rotate {
namespace {

constexpr std::uint8_t kApp2 = 0xE2;
constexpr std::size_t kMaxSegmentLength = 0xFFFF;

struct SegmentPayload {
    std::size_t start = 0, end = 0;
};

// The first segment with `marker` ahead of the image's scan whose payload `accept`s.
template <typename Accept>
std::optional<SegmentPayload> FindSegment(std::span<const std::uint8_t> image, std::uint8_t marker,
                                          Accept accept) {
    jpeg::SpanSource source(image);
    for (const jpeg::Segment& segment : jpeg::ReadSegments(source, jpeg::Strictness::Lenient)) {
        if (segment.marker != marker || segment.truncated) continue;
        const SegmentPayload payload{std::size_t(segment.payloadStart),
                                     std::size_t(segment.payloadEnd)};
        if (accept(image.subspan(payload.start, payload.end - payload.start))) return payload;
    }
    return std::nullopt;
}

struct MpfLocation {
    std::size_t payloadStart = 0, payloadEnd = 0;
    std::size_t origin() const { return payloadStart + exif::kMpfTiffStart; }
};

// The first APP2 "MPF" segment ahead of the main image's scan.
std::optional<MpfLocation> FindMpfSegment(std::span<const std::uint8_t> image) {
    const auto found = FindSegment(image, kApp2, exif::IsMpfPayload);
    if (!found) return std::nullopt;
    return MpfLocation{found->start, found->end};
}

bool StartsWithSoi(std::span<const std::uint8_t> file, std::size_t at) {
    return at <= file.size() && file.size() - at >= 2 && file[at] == 0xFF &&
           file[at + 1] == jpeg::marker::Soi;
}

struct IndexedParts {
    IndexState state = IndexState::None;
    std::vector<TrailerPart> images; // in file order
};

// The images of the index as parts, in file order.
IndexedParts IndexedImages(std::span<const std::uint8_t> file, std::size_t mainEnd) {
    const std::span<const std::uint8_t> main = file.first(mainEnd);
    const std::optional<MpfLocation> location = FindMpfSegment(main);
    if (!location) return {};
    const auto index = exif::ParseMpfIndex(
        main.subspan(location->payloadStart, location->payloadEnd - location->payloadStart));
    if (!index) return {};
    IndexedParts parts{IndexState::Broken, {}};
    if (index->entries.front().offset != 0) return parts;
    for (std::size_t i = 1; i < index->entries.size(); ++i) {
        const exif::MpfEntry& entry = index->entries[i];
        const std::uint64_t begin = std::uint64_t(location->origin()) + entry.offset;
        if (entry.size == 0 || begin < mainEnd || begin > file.size() ||
            entry.size > file.size() - begin || !StartsWithSoi(file, std::size_t(begin)))
            return parts;
        parts.images.push_back({std::size_t(begin), std::size_t(begin + entry.size), i});
    }
    std::sort(parts.images.begin(), parts.images.end(),
              [](const TrailerPart& a, const TrailerPart& b) { return a.begin < b.begin; });
    for (std::size_t i = 1; i < parts.images.size(); ++i)
        if (parts.images[i].begin < parts.images[i - 1].end) return parts;
    parts.state = IndexState::Usable;
    return parts;
}

struct TurnedImage {
    std::size_t entry = 0;
    std::size_t oldSize = 0;
    std::vector<std::uint8_t> bytes;
};

// The item lengths of the main image's XMP container directory follow the turned images. The
// packet may change its length, and the segment with it, within the bound of a segment.
platform::Result FollowXmpDirectory(std::vector<std::uint8_t>& main,
                                    const std::vector<TurnedImage>& images) {
    std::vector<exif::ImageResize> sizes;
    for (const TurnedImage& image : images)
        sizes.push_back({image.oldSize, image.bytes.size()});
    if (sizes.empty()) return {};
    const std::optional<SegmentPayload> xmp =
        FindSegment(main, jpeg::marker::App1, [](auto p) { return exif::IsXmpPayload(p); });
    if (!xmp) return {};
    const std::size_t packetStart = xmp->start + exif::kXmpHeaderSize;
    const std::string_view packet(reinterpret_cast<const char*>(main.data()) + packetStart,
                                  xmp->end - packetStart);
    const std::optional<std::string> followed = exif::FollowContainerLengths(packet, sizes);
    if (!followed) return {};
    const std::size_t length = 2 + exif::kXmpHeaderSize + followed->size();
    if (length > kMaxSegmentLength)
        return platform::Result::Failure(platform::Result::Kind::TooLarge,
                                         platform::Why::XmpOutgrowsSegment);
    main[xmp->start - 2] = std::uint8_t(length >> 8);
    main[xmp->start - 1] = std::uint8_t(length & 0xFF);
    main.erase(main.begin() + std::ptrdiff_t(packetStart), main.begin() + std::ptrdiff_t(xmp->end));
    main.insert(main.begin() + std::ptrdiff_t(packetStart), followed->begin(), followed->end());
    return {};
}

struct PlacedImage {
    std::size_t entry = 0, offset = 0, size = 0; // offset in the turned file
};

// Points the index that travelled with the main image's segments at the turned images; its
// offsets count from its own place.
platform::Result RewriteIndex(std::span<std::uint8_t> out, std::size_t mainSize,
                              const std::vector<PlacedImage>& placed) {
    const std::optional<MpfLocation> location = FindMpfSegment(out.first(mainSize));
    const std::optional<exif::MpfIndex> parsed =
        location ? exif::ParseMpfIndex(out.subspan(location->payloadStart,
                                                   location->payloadEnd - location->payloadStart))
                 : std::nullopt;
    if (!parsed)
        return platform::Result::Failure(platform::Result::Kind::Other, platform::Why::IndexLost);
    exif::MpfIndex index = *parsed;
    if (out.size() > UINT32_MAX)
        return platform::Result::Failure(platform::Result::Kind::TooLarge,
                                         platform::Why::TooLargeForIndex);
    index.entries[0].size = std::uint32_t(mainSize);
    for (const PlacedImage& image : placed) {
        index.entries[image.entry].size = std::uint32_t(image.size);
        index.entries[image.entry].offset = std::uint32_t(image.offset - location->origin());
    }
    if (!exif::WriteMpfEntries(
            out.subspan(location->payloadStart, location->payloadEnd - location->payloadStart),
            index))
        return platform::Result::Failure(platform::Result::Kind::Other,
                                         platform::Why::IndexNotRewritten);
    return {};
}

std::optional<std::vector<std::uint8_t>> ReadPayload(jpeg::ByteSource& source,
                                                     const jpeg::Segment& segment) {
    std::vector<std::uint8_t> payload(std::size_t(segment.payloadSize()));
    if (!source.readAt(segment.payloadStart, payload.data(), payload.size())) return std::nullopt;
    return payload;
}

} // namespace

FileLayout ReadFileLayout(std::span<const std::uint8_t> file) {
    FileLayout layout;
    jpeg::SpanSource source(file);
    const std::optional<std::uint64_t> end = jpeg::EndOfImage(source);
    layout.mainEnd = end ? std::size_t(*end) : file.size();

    const IndexedParts indexed = IndexedImages(file, layout.mainEnd);
    layout.index = indexed.state;
    const std::vector<TrailerPart> noImages;
    const std::vector<TrailerPart>& images =
        indexed.state == IndexState::Usable ? indexed.images : noImages;
    std::size_t at = layout.mainEnd;
    for (const TrailerPart& image : images) {
        if (image.begin > at) layout.parts.push_back({at, image.begin, std::nullopt});
        layout.parts.push_back(image);
        at = image.end;
    }
    if (at < file.size()) layout.parts.push_back({at, file.size(), std::nullopt});
    return layout;
}

std::vector<IndexedImage> ReadIndexedImages(jpeg::ByteSource& file) {
    std::vector<IndexedImage> images;
    std::optional<std::vector<std::uint8_t>> payload;
    std::uint64_t origin = 0;
    jpeg::SegmentWalker walker(file, jpeg::Strictness::Lenient);
    while (const auto segment = walker.next()) {
        if (segment->marker != kApp2 || segment->truncated) continue;
        payload = ReadPayload(file, *segment);
        if (payload && exif::IsMpfPayload(*payload)) {
            origin = segment->payloadStart + exif::kMpfTiffStart;
            break;
        }
        payload.reset();
    }
    const std::optional<exif::MpfIndex> index =
        payload ? exif::ParseMpfIndex(*payload) : std::nullopt;
    if (!index) return images;
    for (std::size_t i = 1; i < index->entries.size(); ++i) {
        jpeg::WindowSource image(file, origin + index->entries[i].offset, index->entries[i].size);
        if (const std::optional<exif::BlockLayout> blocks = exif::ReadBlockLayout(image))
            images.push_back({i, *blocks});
    }
    return images;
}

platform::Result TurnWholeFile(std::span<const std::uint8_t> file, const ImageTurn& turn,
                               std::vector<std::uint8_t>& out) {
    const FileLayout layout = ReadFileLayout(file);
    if (layout.index == IndexState::Broken)
        return platform::Result::Failure(platform::Result::Kind::Damaged,
                                         platform::Why::IndexMismatch);
    std::vector<std::uint8_t> main;
    if (platform::Result turned = turn(file.first(layout.mainEnd), main); !turned.ok())
        return turned;

    std::vector<TurnedImage> images;
    for (const TrailerPart& part : layout.parts) {
        if (!part.mpfEntry) continue;
        TurnedImage& image = images.emplace_back();
        image.entry = *part.mpfEntry;
        image.oldSize = part.end - part.begin;
        if (const platform::Result turned =
                turn(file.subspan(part.begin, part.end - part.begin), image.bytes);
            !turned.ok())
            return turned.within(platform::Why::OtherImage);
    }
    if (platform::Result followed = FollowXmpDirectory(main, images); !followed.ok())
        return followed;

    out = std::move(main);
    const std::size_t mainSize = out.size();
    std::vector<PlacedImage> placed;
    auto next = images.begin();
    for (const TrailerPart& part : layout.parts) {
        if (!part.mpfEntry) {
            out.insert(out.end(), file.begin() + std::ptrdiff_t(part.begin),
                       file.begin() + std::ptrdiff_t(part.end));
            continue;
        }
        placed.push_back({next->entry, out.size(), next->bytes.size()});
        out.insert(out.end(), next->bytes.begin(), next->bytes.end());
        ++next;
    }
    if (layout.index != IndexState::Usable) return {};
    return RewriteIndex(out, mainSize, placed);
}

} // namespace rotate
