// SPDX-License-Identifier: GPL-3.0-or-later
#include "rotate/transform.h"

#include "exif/exif_reader.h"
#include "exif/tags.h"
#include "jpeg/byte_order.h"
#include "jpeg/orientation_writer.h"
#include "platform/file_io.h"
#include "rotate/lossless_turn.h"

#include <cstring>

namespace rotate {
namespace {

using jpeg::ByteOrder;
using jpeg::ByteReader;

constexpr std::size_t kMaxSegmentLength = 0xFFFF;

bool IsTransformValue(int transform) { return transform >= 1 && transform <= 3; }

void SetError(std::string* error, std::string text)
{
    if (error) *error = std::move(text);
}

// Positions (inside the TIFF block) of the entries that follow a turn.
struct ExifFields {
    ByteOrder order = ByteOrder::Little;
    std::size_t widthEntry = 0, heightEntry = 0;           // 0: none
    std::size_t thumbOffsetEntry = 0, thumbLengthEntry = 0; // 0: none
};

std::size_t EntryCountOk(const ByteReader& tiff, std::uint32_t ifd, ByteOrder order)
{
    std::uint16_t count = 0;
    if (!tiff.u16(ifd, order, count) || !tiff.has(std::size_t(ifd) + 2, 12u * count + 4))
        return 0;
    return count;
}

ExifFields LocateFields(const ByteReader& tiff, ByteOrder order)
{
    ExifFields fields;
    fields.order = order;
    std::uint32_t ifd0 = 0;
    if (!tiff.u32(4, order, ifd0)) return fields;
    const std::size_t count0 = EntryCountOk(tiff, ifd0, order);
    for (std::size_t i = 0; i < count0; ++i) {
        const std::size_t entry = ifd0 + 2 + 12 * i;
        std::uint16_t tag = 0;
        std::uint32_t exifIfd = 0;
        tiff.u16(entry, order, tag);
        if (tag != exif::tag::ExifIfd || !tiff.u32(entry + 8, order, exifIfd) || exifIfd == ifd0) continue;
        const std::size_t count = EntryCountOk(tiff, exifIfd, order);
        for (std::size_t k = 0; k < count; ++k) {
            const std::size_t sub = exifIfd + 2 + 12 * k;
            tiff.u16(sub, order, tag);
            if (tag == exif::tag::PixelWidth) fields.widthEntry = sub;
            if (tag == exif::tag::PixelHeight) fields.heightEntry = sub;
        }
        break;
    }
    std::uint32_t ifd1 = 0;
    if (count0 == 0 || !tiff.u32(ifd0 + 2 + 12 * count0, order, ifd1) || ifd1 == 0 || ifd1 == ifd0)
        return fields;
    const std::size_t count1 = EntryCountOk(tiff, ifd1, order);
    for (std::size_t i = 0; i < count1; ++i) {
        const std::size_t entry = ifd1 + 2 + 12 * i;
        std::uint16_t tag = 0;
        tiff.u16(entry, order, tag);
        if (tag == exif::tag::ThumbnailOffset) fields.thumbOffsetEntry = entry;
        if (tag == exif::tag::ThumbnailLength) fields.thumbLengthEntry = entry;
    }
    return fields;
}

void StoreDimension(std::uint8_t* tiff, std::size_t entry, ByteOrder order, int value)
{
    if (entry == 0) return;
    const std::uint16_t type = jpeg::Load16(tiff + entry + 2, order);
    const std::uint32_t count = jpeg::Load32(tiff + entry + 4, order);
    if (count != 1) return;
    if (type == 3 && value <= 0xFFFF) {
        jpeg::Store16(tiff + entry + 8, std::uint16_t(value), order);
    } else if (type == 4) {
        jpeg::Store32(tiff + entry + 8, std::uint32_t(value), order);
    }
}

std::string ReasonOf(const LosslessTurnResult& result)
{
    if (result.error == LosslessTurnError::Damaged) return "the photo is damaged (" + result.message + ")";
    return result.message;
}

// Replaces the thumbnail in place when the turned one fits, or grows the APP1 segment when the
// thumbnail is its last part; otherwise the old thumbnail stays.
void ReplaceThumbnail(std::vector<std::uint8_t>& jpeg, const exif::ExifSegment& segment,
                      const ExifFields& fields, int transform)
{
    if (fields.thumbOffsetEntry == 0 || fields.thumbLengthEntry == 0) return;
    std::uint8_t* tiff = jpeg.data() + segment.tiffStart;
    const std::size_t tiffSize = segment.segmentEnd - segment.tiffStart;
    if (jpeg::Load32(tiff + fields.thumbLengthEntry + 4, fields.order) != 1) return;
    const std::uint32_t offset = jpeg::Load32(tiff + fields.thumbOffsetEntry + 8, fields.order);
    const std::uint32_t length = jpeg::Load32(tiff + fields.thumbLengthEntry + 8, fields.order);
    if (length == 0 || !ByteReader({tiff, tiffSize}).has(offset, length)) return;

    LosslessTurnResult result = LosslessTurn({tiff + offset, length}, transform);
    if (!result.ok()) return;
    const std::vector<std::uint8_t> turned = std::move(result.bytes);

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
    jpeg::Store32(tiff + fields.thumbLengthEntry + 8, std::uint32_t(turned.size()), fields.order);
}

} // namespace

void UpdateExifAfterTurn(std::vector<std::uint8_t>& jpeg, int transform, int width, int height)
{
    const auto segment = exif::FindExifSegment(jpeg);
    if (!IsTransformValue(transform) || !segment || segment->segmentEnd - segment->tiffStart < 8) return;
    const std::uint8_t* tiff = jpeg.data() + segment->tiffStart;
    const std::optional<ByteOrder> order = jpeg::ByteOrderMark(tiff);
    if (!order) return;
    const ByteReader reader({tiff, segment->segmentEnd - segment->tiffStart});
    const ExifFields fields = LocateFields(reader, *order);
    StoreDimension(jpeg.data() + segment->tiffStart, fields.widthEntry, *order, width);
    StoreDimension(jpeg.data() + segment->tiffStart, fields.heightEntry, *order, height);
    ReplaceThumbnail(jpeg, *segment, fields, transform);
}

int TransformJpegBytes(const std::vector<std::uint8_t>& jpeg, int transform,
                       std::vector<std::uint8_t>& out, std::string* error)
{
    if (!IsTransformValue(transform)) {
        SetError(error, "bad transform value");
        return kTransformBadArgument;
    }
    LosslessTurnResult result = LosslessTurn(jpeg, transform);
    if (!result.ok()) {
        SetError(error, ReasonOf(result));
        return kTransformFailed;
    }
    out = std::move(result.bytes);
    UpdateExifAfterTurn(out, transform, result.width, result.height);
    return kTransformOk;
}

int JpegLosslessTransform(const std::string& path, int transform, std::string* error)
{
    return TurnJpegFile(path, transform, std::nullopt, error);
}

int TurnJpegFile(const std::string& path, int transform, std::optional<std::uint16_t> orientation,
                 std::string* error)
{
    if (!IsTransformValue(transform)) {
        SetError(error, "bad transform value");
        return kTransformBadArgument;
    }
    std::vector<std::uint8_t> original;
    if (!platform::ReadFileBytes(path, original)) {
        SetError(error, std::strerror(errno));
        return kTransformUnreadable;
    }
    std::vector<std::uint8_t> turned;
    if (const int rc = TransformJpegBytes(original, transform, turned, error)) return rc;
    if (orientation) {
        jpeg::MemoryFile file(std::move(turned));
        jpeg::PatchOrientation(file, *orientation); // silent, as on disk
        turned = file.release();
    }
    if (const int rc = platform::ReplaceFileContents(path, turned)) {
        SetError(error, std::strerror(rc));
        return kTransformWriteFailed;
    }
    return kTransformOk;
}

} // namespace rotate
