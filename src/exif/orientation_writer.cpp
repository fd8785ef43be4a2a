// SPDX-License-Identifier: GPL-3.0-or-later
#include "exif/orientation_writer.h"

#include "exif/ifd_view.h"
#include "exif/tags.h"
#include "exif/xmp.h"
#include "jpeg/segments.h"

#include <algorithm>
#include <array>
#include <cerrno>
#include <cstring>
#include <limits>
#include <vector>

#include "platform/photo_lock.h"

namespace exif {

using jpeg::LockedFile;
using jpeg::RandomAccessFile;
using jpeg::Segment;
using jpeg::SegmentWalker;
using jpeg::Store16;
using jpeg::Strictness;
namespace marker = jpeg::marker;

namespace {

// Real files nest three deep (IFD0 -> Exif -> chain); anything deeper is hostile.
constexpr int kMaxIfdDepth = 8;
constexpr std::uint32_t kLastChainedOffset = 0xFFFE;
constexpr std::array<std::uint8_t, 6> kExifHeader{'E', 'x', 'i', 'f', 0, 0};

// The segment walk of the patch is strict on purpose, so that anything unusual leaves the file
// alone (no fill bytes). It gives the APP1 segments ahead of the scan: the first with the EXIF
// header is the one the reader reads, wherever XMP or other APP1 segments stand.
std::vector<Segment> App1Segments(RandomAccessFile& file) {
    std::vector<Segment> app1;
    SegmentWalker walker(file, Strictness::Strict);
    while (const auto segment = walker.next())
        if (segment->marker == marker::App1 && !segment->truncated) app1.push_back(*segment);
    return app1;
}

std::vector<std::uint8_t> ReadPayload(RandomAccessFile& file, const Segment& segment) {
    std::vector<std::uint8_t> payload(std::size_t(segment.payloadSize()));
    if (!file.readAt(segment.payloadStart, payload.data(), payload.size())) payload.clear();
    return payload;
}

bool IsExifPayload(std::span<const std::uint8_t> payload) {
    return payload.size() >= kExifHeader.size() &&
           std::equal(kExifHeader.begin(), kExifHeader.end(), payload.begin());
}

// tiff:Orientation of the XMP packets, set in place; extended XMP is left alone.
void PatchXmp(RandomAccessFile& file, const std::vector<Segment>& app1, std::uint16_t value) {
    for (const Segment& segment : app1) {
        std::vector<std::uint8_t> payload = ReadPayload(file, segment);
        if (!IsXmpPayload(payload) || PatchXmpOrientation(payload, value) == 0) continue;
        file.writeAt(segment.payloadStart, payload.data(), payload.size());
    }
}

// Writes go to the file and to the copy of the TIFF block the walk reads, so that later reads
// see what the file holds.
class OrientationPatch {
public:
    OrientationPatch(RandomAccessFile& file, std::uint64_t tiffBase, std::span<std::uint8_t> tiff,
                     const exif::TiffView& view, std::uint16_t value)
        : m_file(file), m_tiffBase(tiffBase), m_tiff(tiff), m_view(view), m_value(value) {}

    int stored() const { return m_stored; }

    // One directory, its Exif sub-directory and its chain; false means give up.
    bool patchDirectory(std::uint32_t offset, int depth) {
        if (!m_visits.enter(offset, depth)) return false;
        const exif::IfdView dir(m_view, offset);
        if (!dir.valid()) return false;
        for (std::size_t i = 0; i < dir.entries(); ++i) {
            const exif::IfdEntry entry = dir.entry(i);
            if (entry.tag == exif::tag::Orientation) {
                if (!storeValue(entry.valueField())) return false;
            } else if (entry.tag == exif::tag::ExifIfd) {
                if (!patchDirectory(entry.value, depth + 1)) return false;
            }
        }
        const std::optional<std::uint32_t> next = dir.next();
        if (dir.entries() < dir.declaredCount() || !next) return false;
        if (*next >= 1 && *next <= kLastChainedOffset) return patchDirectory(*next, depth + 1);
        return true;
    }

private:
    bool storeValue(std::size_t field) {
        std::array<std::uint8_t, 4> bytes{};
        Store16(bytes.data(), m_value, m_view.order());
        if (!m_file.writeAt(m_tiffBase + field, bytes.data(), bytes.size())) return false;
        std::memcpy(m_tiff.data() + field, bytes.data(), bytes.size());
        ++m_stored;
        return true;
    }

    RandomAccessFile& m_file;
    std::uint64_t m_tiffBase;
    std::span<std::uint8_t> m_tiff;
    const exif::TiffView& m_view;
    std::uint16_t m_value;
    int m_stored = 0;
    exif::IfdVisits m_visits{std::numeric_limits<std::size_t>::max(), kMaxIfdDepth};
};

// How many orientation entries were written, and whether the walk ran to its end.
struct PatchResult {
    int stored = 0;
    bool complete = false;
};

PatchResult Patch(RandomAccessFile& file, std::uint16_t value) {
    if (value == 0) return {};
    const std::vector<Segment> app1 = App1Segments(file);
    std::vector<std::uint8_t> payload;
    const auto exif = std::find_if(app1.begin(), app1.end(), [&](const Segment& segment) {
        payload = ReadPayload(file, segment);
        return IsExifPayload(payload);
    });
    if (exif == app1.end()) return {};
    PatchXmp(file, app1, value);

    const std::span<std::uint8_t> tiff = std::span(payload).subspan(kExifHeader.size());
    const std::optional<exif::TiffView> view = exif::TiffView::Open(tiff);
    if (!view || view->magic() != 42) return {};
    OrientationPatch patch(file, exif->payloadStart + kExifHeader.size(), tiff, *view, value);
    const bool complete = patch.patchDirectory(view->firstDirectory(), 0);
    return {patch.stored(), complete};
}

} // namespace

bool PatchOrientation(RandomAccessFile& file, std::uint16_t value) {
    return Patch(file, value).complete;
}

platform::Result WriteOrientation(const std::string& path, std::uint16_t value,
                                  const platform::LockWait& wait) {
    if (value == 0)
        return platform::Result::FromErrno(EINVAL, platform::Why::NotAnOrientation).withFigures(0);
    LockedFile file(path, wait);
    if (!file.isOpen()) return file.status();
    if (Patch(file, value).stored == 0)
        return platform::Result::Failure(platform::Result::Kind::Unsupported,
                                         platform::Why::NoOrientationEntry);
    return {};
}

} // namespace exif
