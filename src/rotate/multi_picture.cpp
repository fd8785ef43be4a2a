// SPDX-License-Identifier: GPL-3.0-or-later
#include "rotate/multi_picture.h"

#include "jpeg/segments.h"

#include <algorithm>

namespace rotate {
namespace {

constexpr std::uint8_t kApp2 = 0xE2;

struct MpfLocation {
    std::size_t payloadStart = 0, payloadEnd = 0;
    std::size_t origin() const { return payloadStart + jpeg::kMpfTiffStart; }
};

// The first APP2 "MPF" segment ahead of the main image's scan.
std::optional<MpfLocation> FindMpfSegment(std::span<const std::uint8_t> image) {
    jpeg::SpanSource source(image);
    for (const jpeg::Segment& segment : jpeg::ReadSegments(source, jpeg::Strictness::Lenient)) {
        if (segment.marker != kApp2 || segment.truncated) continue;
        const auto payload =
            image.subspan(std::size_t(segment.payloadStart), std::size_t(segment.payloadSize()));
        if (jpeg::IsMpfPayload(payload))
            return MpfLocation{std::size_t(segment.payloadStart), std::size_t(segment.payloadEnd)};
    }
    return std::nullopt;
}

bool StartsWithSoi(std::span<const std::uint8_t> file, std::size_t at) {
    return at <= file.size() && file.size() - at >= 2 && file[at] == 0xFF &&
           file[at + 1] == jpeg::marker::Soi;
}

// The images of the index as parts, in file order; empty when any of them is out of place.
std::vector<TrailerPart> IndexedImages(std::span<const std::uint8_t> file, std::size_t mainEnd) {
    const std::span<const std::uint8_t> main = file.first(mainEnd);
    const std::optional<MpfLocation> location = FindMpfSegment(main);
    if (!location) return {};
    const auto index = jpeg::ParseMpfIndex(
        main.subspan(location->payloadStart, location->payloadEnd - location->payloadStart));
    if (!index || index->entries.front().offset != 0) return {};
    std::vector<TrailerPart> images;
    for (std::size_t i = 1; i < index->entries.size(); ++i) {
        const jpeg::MpfEntry& entry = index->entries[i];
        const std::uint64_t begin = std::uint64_t(location->origin()) + entry.offset;
        if (entry.size == 0 || begin < mainEnd || begin > file.size() ||
            entry.size > file.size() - begin || !StartsWithSoi(file, std::size_t(begin)))
            return {};
        images.push_back({std::size_t(begin), std::size_t(begin + entry.size), i});
    }
    std::sort(images.begin(), images.end(),
              [](const TrailerPart& a, const TrailerPart& b) { return a.begin < b.begin; });
    for (std::size_t i = 1; i < images.size(); ++i)
        if (images[i].begin < images[i - 1].end) return {};
    return images;
}

} // namespace

FileLayout ReadFileLayout(std::span<const std::uint8_t> file) {
    FileLayout layout;
    jpeg::SpanSource source(file);
    const std::optional<std::uint64_t> end = jpeg::EndOfImage(source);
    layout.mainEnd = end ? std::size_t(*end) : file.size();
    if (layout.mainEnd == file.size()) return layout;

    const std::vector<TrailerPart> images = IndexedImages(file, layout.mainEnd);
    layout.indexUsable = !images.empty();
    std::size_t at = layout.mainEnd;
    for (const TrailerPart& image : images) {
        if (image.begin > at) layout.parts.push_back({at, image.begin, std::nullopt});
        layout.parts.push_back(image);
        at = image.end;
    }
    if (at < file.size()) layout.parts.push_back({at, file.size(), std::nullopt});
    return layout;
}

platform::Result TurnWholeFile(std::span<const std::uint8_t> file, const ImageTurn& turn,
                               std::vector<std::uint8_t>& out) {
    const FileLayout layout = ReadFileLayout(file);
    if (platform::Result turned = turn(file.first(layout.mainEnd), out); !turned.ok())
        return turned;
    const std::size_t mainSize = out.size();

    std::vector<std::pair<std::size_t, jpeg::MpfEntry>> placed; // index entry, where it went
    std::vector<std::uint8_t> image;
    for (const TrailerPart& part : layout.parts) {
        const auto bytes = file.subspan(part.begin, part.end - part.begin);
        if (!part.mpfEntry) {
            out.insert(out.end(), bytes.begin(), bytes.end());
            continue;
        }
        if (const platform::Result turned = turn(bytes, image); !turned.ok())
            return platform::Result::FromLibrary(
                "an image the photo holds besides the main one cannot be turned (" + turned.text() +
                ")");
        placed.push_back(
            {*part.mpfEntry, {0, std::uint32_t(image.size()), std::uint32_t(out.size()), 0, 0}});
        out.insert(out.end(), image.begin(), image.end());
    }
    if (!layout.indexUsable) return {};

    // The index travelled with the main image's segments; its offsets count from its own place.
    const std::optional<MpfLocation> location = FindMpfSegment({out.data(), mainSize});
    const std::span<std::uint8_t> payload(out.data() + (location ? location->payloadStart : 0),
                                          location ? location->payloadEnd - location->payloadStart
                                                   : 0);
    std::optional<jpeg::MpfIndex> index = jpeg::ParseMpfIndex(payload);
    if (!index)
        return platform::Result::FromLibrary("the turned photo lost its multi-picture index");
    index->entries[0].size = std::uint32_t(mainSize);
    for (const auto& [entry, where] : placed) {
        index->entries[entry].size = where.size;
        index->entries[entry].offset = std::uint32_t(where.offset - location->origin());
    }
    if (!jpeg::WriteMpfEntries(payload, *index))
        return platform::Result::FromLibrary("the multi-picture index could not be rewritten");
    return {};
}

} // namespace rotate
