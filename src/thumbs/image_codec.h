// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include "thumbs/thumbnail_size.h"

#include <QImage>
#include <QString>

#include <cerrno>
#include <cstdint>
#include <span>
#include <vector>

#include "platform/result.h"

namespace thumbs {

// Decoded pixels we are willing to hold for one thumbnail (64 MiB of RGB32); a header that
// claims more even at the smallest scale is treated as unreadable.
inline constexpr std::int64_t kMaxDecodedPixels = 16ll << 20;
inline constexpr std::int64_t kMaxFileBytes = 1ll << 30;

struct ThumbnailOptions {
    int cellWidth = 150;
    int cellHeight = 170;
    bool highQuality = true;
    bool enlargeSmall = true;
    // Device pixels to a logical one on the screen the thumbnails are drawn on; the cell is
    // logical, a scaled thumbnail gets this many more pixels per side.
    double devicePixelRatio = 1.0;
};

// A photo that is there but gave no thumbnail (damaged, refused, too large, ...).
inline bool IsUnreadable(const platform::Result& made) {
    return !made.ok() && made.kind() != platform::Result::Kind::NotFound;
}

struct Thumbnail {
    QImage image;
    std::uint16_t orientation = 0; // EXIF orientation of the photo, 0 when it has none
    // Why it was not made: NotFound when the photo is gone; Damaged, or why the file could not
    // be read, when it is unreadable. Ok when made; nothing made yet reads as gone.
    platform::Result failure = platform::Result::FromErrno(ENOENT);

    bool made() const { return failure.ok(); }
    bool missing() const { return failure.kind() == platform::Result::Kind::NotFound; }
    bool unreadable() const { return IsUnreadable(failure); }
};

// A photo that cannot be turned into pixels, however it was read.
platform::Result Undecodable();
// A w x h photo's thumbnail: its box in the cell, or the photo's own size when it is small and
// not enlarged; in pixels the box takes the screen's density, a small photo keeps its own.
struct ThumbnailShape {
    PixelSize logical;
    PixelSize pixels;
};
ThumbnailShape ShapeOf(int w, int h, const ThumbnailOptions& options);
// Marks a thumbnail of that shape with its density, so that it draws at its logical size.
void MarkDensity(QImage& image, const ThumbnailShape& shape);

// Decodes a photo into a thumbnail sized for one grid cell. Thread-safe: touches no widget.
Thumbnail MakeThumbnailImage(const QString& path, const ThumbnailOptions& options);

struct ImageHeader {
    int width = 0;
    int height = 0;
    std::uint16_t orientation = 0;
};

// Size and orientation of a photo without decoding its pixels; zeros when it cannot be read.
ImageHeader ReadImageHeader(const QString& path);

// Decodes JPEG bytes at the smallest DCT scale that still covers `target` (natural size when
// target is empty). A truncated file decodes as far as it goes. Null when it cannot decode.
QImage DecodeJpeg(std::span<const std::uint8_t> jpeg, QSize target, bool fast);

} // namespace thumbs
