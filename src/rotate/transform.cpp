// SPDX-License-Identifier: GPL-3.0-or-later
#include "rotate/transform.h"

#include "exif/exif_reader.h"
#include "exif/ifd_view.h"
#include "exif/jpeg_header.h"
#include "exif/orientation_writer.h"
#include "exif/tags.h"
#include "exif/thumbnail_proportions.h"
#include "jpeg/byte_order.h"
#include "jpeg/stray_bytes.h"
#include "jpeg/turbo.h"
#include "rotate/lossless_turn.h"
#include "rotate/multi_picture.h"
#include "rotate/thumbnail_encoder.h"

#include <fcntl.h>

#include <algorithm>
#include <cerrno>
#include <cstring>

#include "platform/file_io.h"
#include "platform/photo_lock.h"
#include "platform/safe_replace.h"

namespace rotate {
namespace {

using jpeg::ByteOrder;
using jpeg::ByteReader;

constexpr std::size_t kMaxSegmentLength = 0xFFFF;

// None, and a value cast from an unchecked number, turn nothing.
bool IsTransformValue(QuarterTurns transform) {
    return std::find(kTransformValues.begin(), kTransformValues.end(), transform) !=
           kTransformValues.end();
}

// The entries (inside the TIFF block) that follow a turn.
struct ExifFields {
    ByteOrder order = ByteOrder::Little;
    std::optional<exif::IfdEntry> width, height;
    std::optional<exif::IfdEntry> thumbOffset, thumbLength;
};

ExifFields LocateFields(const exif::TiffView& tiff) {
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
                    int value) {
    if (!entry || entry->count != 1) return;
    if (entry->type == std::uint16_t(exif::ExifType::Short) && value <= 0xFFFF) {
        jpeg::Store16(tiff + entry->valueField(), std::uint16_t(value), order);
    } else if (entry->type == std::uint16_t(exif::ExifType::Long)) {
        jpeg::Store32(tiff + entry->valueField(), std::uint32_t(value), order);
    }
}

using JpegSize = jpeg::ImageSize;

// The thumbnail decoded, turned by `transform` quarter turns clockwise, cut to the photo's
// proportions about its centre and encoded again: derived data, so a re-encode is fair when a
// lossless turn would trim it out of shape. Without `quality` it keeps the old one's tables.
std::vector<std::uint8_t> ReencodeThumbnail(std::span<const std::uint8_t> thumbnail,
                                            QuarterTurns transform, JpegSize photo,
                                            std::optional<int> quality) {
    const jpeg::TjHandle decoder = jpeg::MakeDecompressor();
    const std::optional<JpegSize> size = jpeg::ReadImageSize(decoder.get(), thumbnail);
    // An embedded thumbnail is small; anything larger is not worth turning.
    if (!size || size->width <= 0 || size->height <= 0 ||
        std::int64_t(size->width) * size->height > 1 << 22)
        return {};
    const int w = size->width, h = size->height;
    std::vector<std::uint8_t> rgb(std::size_t(w) * h * 3);
    if (tjDecompress2(decoder.get(), thumbnail.data(), static_cast<unsigned long>(thumbnail.size()),
                      rgb.data(), w, 0, h, TJPF_RGB, 0) != 0)
        return {};
    const bool quarter = SwapsSides(transform);
    const int tw = quarter ? h : w, th = quarter ? w : h;
    // The largest centred box of the photo's proportions inside the turned thumbnail.
    int cw = tw, ch = int(std::int64_t(tw) * photo.height / photo.width);
    if (ch > th) {
        ch = th;
        cw = int(std::int64_t(th) * photo.width / photo.height);
    }
    if (cw <= 0 || ch <= 0) return {};
    const int x0 = (tw - cw) / 2, y0 = (th - ch) / 2;
    std::vector<std::uint8_t> turned(std::size_t(cw) * ch * 3);
    for (int y = 0; y < ch; ++y)
        for (int x = 0; x < cw; ++x) {
            const int tx = x + x0, ty = y + y0;
            // Where the pixel at (tx, ty) of the turned image came from.
            const bool right = transform == QuarterTurns::One,
                       half = transform == QuarterTurns::Two;
            const int sx = right ? ty : w - 1 - (half ? tx : ty);
            const int sy = right ? h - 1 - tx : half ? h - 1 - ty : tx;
            std::memcpy(&turned[(std::size_t(y) * cw + x) * 3],
                        &rgb[(std::size_t(sy) * w + sx) * 3], 3);
        }
    return EncodeLike(thumbnail, turned, cw, ch, quarter, quality);
}

// Ever smaller re-encodes, for a thumbnail that has to fit the room the old one had.
constexpr int kSmallerQualities[] = {75, 50, 30};

// Replaces the thumbnail in place when the turned one fits, or grows the APP1 segment when the
// thumbnail is its last part; otherwise it is encoded smaller, and dropped when even that does
// not fit. What stays always shows the photo as turned, in its proportions.
void ReplaceThumbnail(std::vector<std::uint8_t>& jpeg, const exif::ExifSegment& segment,
                      const ExifFields& fields, QuarterTurns transform, JpegSize photo) {
    if (!fields.thumbOffset || !fields.thumbLength || fields.thumbLength->count != 1) return;
    std::uint8_t* tiff = jpeg.data() + segment.tiffStart;
    const std::size_t tiffSize = segment.segmentEnd - segment.tiffStart;
    // Read now: the dimensions stored before may share bytes with these fields in an odd file.
    const std::uint32_t offset =
        jpeg::Load32(tiff + fields.thumbOffset->valueField(), fields.order);
    const std::uint32_t length =
        jpeg::Load32(tiff + fields.thumbLength->valueField(), fields.order);
    if (length == 0 || !ByteReader({tiff, tiffSize}).has(offset, length)) return;
    // Only a JPEG past the TIFF header and clear of the entries that locate it is ever rewritten:
    // a hostile pointer must not make the turn wipe the directories.
    const auto covers = [&](std::size_t at) { return at >= offset && at - offset < length; };
    if (offset < 8 || length < 2 || tiff[offset] != 0xFF || tiff[offset + 1] != 0xD8 ||
        covers(fields.thumbOffset->valueField()) || covers(fields.thumbLength->valueField()))
        return;
    const std::vector<std::uint8_t> old(tiff + offset, tiff + offset + length);

    LosslessTurnResult lossless = LosslessTurn(old, transform);
    std::vector<std::uint8_t> turned;
    if (lossless.ok() &&
        exif::ProportionsMatch(lossless.width, lossless.height, photo.width, photo.height))
        turned = std::move(lossless.bytes);
    else
        turned = ReencodeThumbnail(old, transform, photo, std::nullopt);

    const bool isLast = std::size_t(offset) + length == tiffSize;
    const std::size_t room =
        isLast ? kMaxSegmentLength - (segment.segmentEnd - segment.segmentStart - 2 - length)
               : length;
    for (std::size_t q = 0; turned.size() > room && q < std::size(kSmallerQualities); ++q)
        turned = ReencodeThumbnail(old, transform, photo, kSmallerQualities[q]);
    if (turned.empty() || turned.size() > room) {
        // No thumbnail beats a wrong one.
        std::memset(tiff + offset, 0, length);
        jpeg::Store32(tiff + fields.thumbLength->valueField(), 0, fields.order);
        return;
    }
    if (turned.size() <= length) {
        std::memcpy(tiff + offset, turned.data(), turned.size());
        std::memset(tiff + offset + turned.size(), 0, length - turned.size());
    } else {
        const std::size_t segmentLength =
            segment.segmentEnd - segment.segmentStart - 2 + (turned.size() - length);
        const auto at = jpeg.begin() + std::ptrdiff_t(segment.tiffStart + offset);
        jpeg.erase(at, at + length);
        jpeg.insert(jpeg.begin() + std::ptrdiff_t(segment.tiffStart + offset), turned.begin(),
                    turned.end());
        jpeg[segment.segmentStart + 2] = std::uint8_t(segmentLength >> 8);
        jpeg[segment.segmentStart + 3] = std::uint8_t(segmentLength & 0xFF);
        tiff = jpeg.data() + segment.tiffStart;
    }
    jpeg::Store32(tiff + fields.thumbLength->valueField(), std::uint32_t(turned.size()),
                  fields.order);
}

} // namespace

void UpdateExifAfterTurn(std::vector<std::uint8_t>& jpeg, QuarterTurns transform, int width,
                         int height) {
    const auto segment = exif::FindExifSegment(jpeg);
    if (!IsTransformValue(transform) || !segment) return;
    const auto view = exif::TiffView::Open(
        std::span(jpeg).subspan(segment->tiffStart, segment->segmentEnd - segment->tiffStart));
    if (!view) return;
    const ExifFields fields = LocateFields(*view);
    StoreDimension(jpeg.data() + segment->tiffStart, fields.width, fields.order, width);
    StoreDimension(jpeg.data() + segment->tiffStart, fields.height, fields.order, height);
    ReplaceThumbnail(jpeg, *segment, fields, transform, {width, height});
}

platform::Result TurnImage(std::span<const std::uint8_t> image, QuarterTurns transform,
                           std::optional<std::uint16_t> orientation, bool trim,
                           std::vector<std::uint8_t>& out) {
    if (!IsTransformValue(transform))
        return platform::Result::FromErrno(EINVAL, platform::Why::BadTurn);
    const std::optional<std::vector<std::uint8_t>> cleaned = jpeg::WithoutStrayHeaderBytes(image);
    LosslessTurnOptions options;
    options.trim = trim;
    LosslessTurnResult turned =
        LosslessTurn(cleaned ? std::span<const std::uint8_t>(*cleaned) : image, transform, options);
    if (!turned.ok()) {
        // Damage in the image data would be carried into the new file: the photo stays as it is.
        const bool isJpeg = image.size() >= 2 && image[0] == 0xFF && image[1] == 0xD8;
        if (turned.result.kind() != platform::Result::Kind::Damaged) return turned.result;
        if (!isJpeg)
            return platform::Result::Failure(platform::Result::Kind::Unsupported,
                                             platform::Why::NotAJpeg);
        return turned.result;
    }
    out = std::move(turned.bytes);
    UpdateExifAfterTurn(out, transform, turned.width, turned.height);
    if (orientation) {
        jpeg::MemoryFile file(std::move(out));
        exif::PatchOrientation(file, *orientation); // silent, as on disk
        out = file.release();
    }
    return {};
}

platform::Result TurnJpegBytes(std::span<const std::uint8_t> file, QuarterTurns transform,
                               std::optional<std::uint16_t> orientation, bool trim,
                               std::vector<std::uint8_t>& out) {
    const ImageTurn turn = [&](std::span<const std::uint8_t> image,
                               std::vector<std::uint8_t>& turned) {
        return TurnImage(image, transform, orientation, trim, turned);
    };
    return TurnWholeFile(file, turn, out);
}

platform::Result TurnJpegFile(const std::string& path, QuarterTurns transform,
                              std::optional<std::uint16_t> orientation,
                              const platform::ReplaceCalls& calls, bool trim) {
    const OrientationAfter fixed = [orientation](std::uint16_t) { return orientation; };
    return TurnJpegFile(path, transform, fixed, calls, trim);
}

platform::Result TurnJpegFile(const std::string& path, QuarterTurns transform,
                              const OrientationAfter& orientation,
                              const platform::ReplaceCalls& calls, bool trim, const SeenTurn& seen,
                              const platform::FileTimes* times, platform::Result* timesResult) {
    if (!IsTransformValue(transform))
        return platform::Result::FromErrno(EINVAL, platform::Why::BadTurn);
    // Held until the turned photo is in place: another turn of it waits, then reads this one's.
    platform::LockedPhoto photo;
    if (auto locked = platform::LockPhoto(path, O_RDONLY, calls.lockWait, photo); !locked.ok())
        return locked;
    std::vector<std::uint8_t> original;
    platform::PhotoAsRead read;
    if (auto got = platform::ReadLockedPhoto(photo, original, read); !got.ok()) return got;
    const auto header = exif::ParseJpegHeader(original);
    const std::optional<std::uint16_t> newOrientation =
        orientation(header ? header->orientation : 0);
    std::vector<std::uint8_t> turned;
    if (auto turn = TurnJpegBytes(original, transform, newOrientation, trim, turned); !turn.ok())
        return turn;
    if (seen) seen(read, turned);
    // The entry locked above, in the folder it was found in: the path is not looked up again.
    platform::ReplaceResult written =
        platform::ReplaceFileContents(photo, turned, calls, &read, times);
    if (!written.keptCopy.empty())
        return written.result.within(platform::Why::TurnedCopyKept, written.keptCopy);
    if (timesResult) *timesResult = std::move(written.times);
    return written.result;
}

} // namespace rotate
