// SPDX-License-Identifier: GPL-3.0-or-later
#include "rotate/transform.h"

#include "exif/exif_reader.h"
#include "exif/ifd_view.h"
#include "exif/tags.h"
#include "jpeg/byte_order.h"
#include "jpeg/orientation_writer.h"
#include "jpeg/turbo.h"
#include "platform/file_io.h"

#include <cerrno>
#include <cstring>

namespace rotate {
namespace {

using jpeg::ByteOrder;
using jpeg::ByteReader;

constexpr std::size_t kMaxSegmentLength = 0xFFFF;

int TransformOperation(int transform)
{
    switch (transform) {
    case 1: return TJXOP_ROT90;
    case 2: return TJXOP_ROT180;
    case 3: return TJXOP_ROT270;
    default: return -1;
    }
}

// The entries (inside the TIFF block) that follow a turn.
struct ExifFields {
    ByteOrder order = ByteOrder::Little;
    std::optional<exif::IfdEntry> width, height;
    std::optional<exif::IfdEntry> thumbOffset, thumbLength;
};

ExifFields LocateFields(const exif::TiffView& tiff)
{
    ExifFields fields;
    fields.order = tiff.order();
    const std::uint32_t ifd0 = tiff.firstDirectory();
    const exif::IfdView dir0(tiff, ifd0);
    // Only directories whose entries and next pointer all lie inside the block are used.
    const std::size_t count0 = dir0.complete() ? dir0.entries() : 0;
    for (std::size_t i = 0; i < count0; ++i) {
        const exif::IfdEntry entry = dir0.entry(i);
        if (entry.tag != exif::tag::ExifIfd || entry.value == ifd0) continue;
        const exif::IfdView exifDir(tiff, entry.value);
        for (std::size_t k = 0; exifDir.complete() && k < exifDir.entries(); ++k) {
            const exif::IfdEntry sub = exifDir.entry(k);
            if (sub.tag == exif::tag::PixelWidth) fields.width = sub;
            if (sub.tag == exif::tag::PixelHeight) fields.height = sub;
        }
        break;
    }
    const std::uint32_t ifd1 = dir0.next().value_or(0);
    if (count0 == 0 || ifd1 == 0 || ifd1 == ifd0) return fields;
    const exif::IfdView dir1(tiff, ifd1);
    for (std::size_t i = 0; dir1.complete() && i < dir1.entries(); ++i) {
        const exif::IfdEntry entry = dir1.entry(i);
        if (entry.tag == exif::tag::ThumbnailOffset) fields.thumbOffset = entry;
        if (entry.tag == exif::tag::ThumbnailLength) fields.thumbLength = entry;
    }
    return fields;
}

void StoreDimension(std::uint8_t* tiff, const std::optional<exif::IfdEntry>& entry, ByteOrder order,
                    int value)
{
    if (!entry || entry->count != 1) return;
    if (entry->type == std::uint16_t(exif::ExifType::Short) && value <= 0xFFFF) {
        jpeg::Store16(tiff + entry->valueField(), std::uint16_t(value), order);
    } else if (entry->type == std::uint16_t(exif::ExifType::Long)) {
        jpeg::Store32(tiff + entry->valueField(), std::uint32_t(value), order);
    }
}

bool TurnBytes(void* handle, std::span<const std::uint8_t> in, int op, std::vector<std::uint8_t>& out)
{
    unsigned char* dst = nullptr;
    unsigned long dstSize = 0;
    tjtransform xform{};
    xform.op = op;
    xform.options = TJXOPT_TRIM;
    const int rc = tjTransform(handle, in.data(), static_cast<unsigned long>(in.size()), 1, &dst,
                               &dstSize, &xform, 0);
    const jpeg::TjBuffer owned(dst);
    if (rc != 0 || !dst || dstSize == 0) return false;
    out.assign(dst, dst + dstSize);
    return true;
}

// Replaces the thumbnail in place when the turned one fits, or grows the APP1 segment when the
// thumbnail is its last part; otherwise the old thumbnail stays.
void ReplaceThumbnail(std::vector<std::uint8_t>& jpeg, const exif::ExifSegment& segment,
                      const ExifFields& fields, int op)
{
    if (!fields.thumbOffset || !fields.thumbLength || fields.thumbLength->count != 1) return;
    std::uint8_t* tiff = jpeg.data() + segment.tiffStart;
    const std::size_t tiffSize = segment.segmentEnd - segment.tiffStart;
    // Read now: the dimensions stored before may share bytes with these fields in an odd file.
    const std::uint32_t offset = jpeg::Load32(tiff + fields.thumbOffset->valueField(), fields.order);
    const std::uint32_t length = jpeg::Load32(tiff + fields.thumbLength->valueField(), fields.order);
    if (length == 0 || !ByteReader({tiff, tiffSize}).has(offset, length)) return;

    const jpeg::TjHandle handle = jpeg::MakeTransformer();
    std::vector<std::uint8_t> turned;
    if (!handle || !TurnBytes(handle.get(), {tiff + offset, length}, op, turned)) return;

    if (turned.size() <= length) {
        std::memcpy(tiff + offset, turned.data(), turned.size());
        std::memset(tiff + offset + turned.size(), 0, length - turned.size());
    } else if (std::size_t(offset) + length == tiffSize) {
        const std::size_t segmentLength = segment.segmentEnd - segment.segmentStart - 2 + (turned.size() - length);
        if (segmentLength > kMaxSegmentLength) return;
        const auto at = jpeg.begin() + std::ptrdiff_t(segment.tiffStart + offset);
        jpeg.erase(at, at + length);
        jpeg.insert(jpeg.begin() + std::ptrdiff_t(segment.tiffStart + offset), turned.begin(), turned.end());
        jpeg[segment.segmentStart + 2] = std::uint8_t(segmentLength >> 8);
        jpeg[segment.segmentStart + 3] = std::uint8_t(segmentLength & 0xFF);
        tiff = jpeg.data() + segment.tiffStart;
    } else {
        return;
    }
    jpeg::Store32(tiff + fields.thumbLength->valueField(), std::uint32_t(turned.size()), fields.order);
}

} // namespace

void UpdateExifAfterTurn(std::vector<std::uint8_t>& jpeg, int transform, int width, int height)
{
    const int op = TransformOperation(transform);
    const auto segment = exif::FindExifSegment(jpeg);
    if (op < 0 || !segment) return;
    const auto view = exif::TiffView::Open(
        std::span(jpeg).subspan(segment->tiffStart, segment->segmentEnd - segment->tiffStart));
    if (!view) return;
    const ExifFields fields = LocateFields(*view);
    StoreDimension(jpeg.data() + segment->tiffStart, fields.width, fields.order, width);
    StoreDimension(jpeg.data() + segment->tiffStart, fields.height, fields.order, height);
    ReplaceThumbnail(jpeg, *segment, fields, op);
}

platform::Result TransformJpegBytes(const std::vector<std::uint8_t>& jpeg, int transform,
                                    std::vector<std::uint8_t>& out)
{
    const int op = TransformOperation(transform);
    if (op < 0) return platform::Result::FromErrno(EINVAL, "bad transform value");
    const jpeg::TjHandle handle = jpeg::MakeTransformer();
    if (!handle) return platform::Result::FromLibrary("the JPEG library could not start");
    if (!TurnBytes(handle.get(), jpeg, op, out))
        return platform::Result::FromLibrary(jpeg::TjErrorText(handle.get()));
    int width = 0, height = 0, subsamp = 0, colorspace = 0;
    if (tjDecompressHeader3(handle.get(), out.data(), static_cast<unsigned long>(out.size()), &width,
                            &height, &subsamp, &colorspace) != 0)
        return platform::Result::FromLibrary(jpeg::TjErrorText(handle.get()));
    UpdateExifAfterTurn(out, transform, width, height);
    return {};
}

platform::Result JpegLosslessTransform(const std::string& path, int transform)
{
    return TurnJpegFile(path, transform, std::nullopt);
}

platform::Result TurnJpegFile(const std::string& path, int transform,
                              std::optional<std::uint16_t> orientation)
{
    if (TransformOperation(transform) < 0)
        return platform::Result::FromErrno(EINVAL, "bad transform value");
    std::vector<std::uint8_t> original;
    if (auto read = platform::ReadFileBytes(path, original); !read.ok()) return read;
    std::vector<std::uint8_t> turned;
    if (auto turn = TransformJpegBytes(original, transform, turned); !turn.ok()) return turn;
    if (orientation) {
        jpeg::MemoryFile file(std::move(turned));
        jpeg::PatchOrientation(file, *orientation); // silent, as on disk
        turned = file.release();
    }
    return platform::ReplaceFileContents(path, turned);
}

} // namespace rotate
