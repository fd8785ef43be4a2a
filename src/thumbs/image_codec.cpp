// SPDX-License-Identifier: GPL-3.0-or-later
#include "thumbs/image_codec.h"

#include "exif/exif_reader.h"
#include "exif/jpeg_header.h"
#include "jpeg/turbo.h"
#include "thumbs/letterbox.h"
#include "thumbs/thumbnail_size.h"

#include <QBuffer>
#include <QFileInfo>
#include <QImageReader>

#include "platform/file_io.h"

namespace thumbs {
namespace {

tjscalingfactor ChooseScale(int w, int h, QSize target) {
    tjscalingfactor best{1, 1};
    if (target.isEmpty()) return best;
    int count = 0;
    const tjscalingfactor* factors = tjGetScalingFactors(&count);
    std::int64_t bestArea = std::int64_t(w) * h;
    for (int i = 0; i < count; ++i) {
        const auto& f = factors[i];
        if (f.num > f.denom) continue; // never decode larger than stored
        const int sw = TJSCALED(w, f), sh = TJSCALED(h, f);
        const std::int64_t area = std::int64_t(sw) * sh;
        if (sw >= target.width() && sh >= target.height() && area < bestArea) {
            best = f;
            bestArea = area;
        }
    }
    return best;
}

QImage ScaleTo(const QImage& image, PixelSize size, bool smooth) {
    if (image.isNull() || (image.width() == size.width && image.height() == size.height))
        return image;
    return image.scaled(size.width, size.height, Qt::IgnoreAspectRatio,
                        smooth ? Qt::SmoothTransformation : Qt::FastTransformation);
}

// On a dense screen high quality decodes at twice the thumbnail's pixels at least: the smooth
// scale then averages whole pixels, where a DCT scale just covering the larger thumbnail would
// be resampled almost one to one, which blurs and aliases. A plain screen keeps the cheaper
// decode: its DCT scales already leave the smooth scale most of the averaging.
QSize DecodeTarget(PixelSize size, const ThumbnailOptions& options) {
    const int margin = options.highQuality && options.devicePixelRatio > 1.0 ? 2 : 1;
    return {margin * size.width, margin * size.height};
}

QImage DecodeWithQt(std::span<const std::uint8_t> bytes) {
    QByteArray data = QByteArray::fromRawData(reinterpret_cast<const char*>(bytes.data()),
                                              qsizetype(bytes.size()));
    QBuffer buffer(&data);
    buffer.open(QIODevice::ReadOnly);
    QImageReader reader(&buffer);
    reader.setAutoTransform(false);
    const QSize size = reader.size();
    if (size.isValid() && std::int64_t(size.width()) * size.height() > kMaxDecodedPixels) return {};
    QImage image = reader.read();
    return image.isNull() ? image : image.convertToFormat(QImage::Format_RGB32);
}

// The whole photo, bounded like every read of a file; empty when it cannot be read, and then
// `why` (if given) says why.
std::vector<std::uint8_t> ReadWholeFile(const QString& path, platform::Result* why = nullptr) {
    std::vector<std::uint8_t> bytes;
    platform::Result read =
        platform::ReadFileBytes(QFile::encodeName(path).toStdString(), bytes, kMaxFileBytes);
    if (read.ok()) return bytes;
    bytes.clear();
    if (why) *why = std::move(read);
    return bytes;
}

Thumbnail Missing() {
    return Thumbnail{};
}

QImage EmbeddedThumbnail(std::span<const std::uint8_t> header) {
    const auto segment = exif::FindExifSegment(header);
    if (!segment) return {};
    const auto tiff = header.subspan(segment->tiffStart, segment->segmentEnd - segment->tiffStart);
    const exif::ExifData data = exif::ReadExif(tiff);
    if (data.thumbnailLength == 0) return {};
    return DecodeJpeg(tiff.subspan(data.thumbnailOffset, data.thumbnailLength), {}, true);
}

} // namespace

QImage DecodeJpeg(std::span<const std::uint8_t> jpeg, QSize target, bool fast) {
    const jpeg::TjHandle handle = jpeg::MakeDecompressor();
    const std::optional<jpeg::ImageSize> info = jpeg::ReadImageSize(handle.get(), jpeg);
    if (!info) return {};
    const tjscalingfactor scale = ChooseScale(info->width, info->height, target);
    const int w = TJSCALED(info->width, scale), h = TJSCALED(info->height, scale);
    if (std::int64_t(w) * h > kMaxDecodedPixels) return {};
    QImage image(w, h, QImage::Format_RGB32);
    if (image.isNull()) return {};
    int flags = TJFLAG_LIMITSCANS;
    if (fast) flags |= TJFLAG_FASTDCT | TJFLAG_FASTUPSAMPLE;
    if (tjDecompress2(handle.get(), jpeg.data(), static_cast<unsigned long>(jpeg.size()),
                      image.bits(), w, int(image.bytesPerLine()), h, TJPF_BGRX, flags) != 0 &&
        tjGetErrorCode(handle.get()) != TJERR_WARNING)
        return {};
    return image;
}

ThumbnailShape ShapeOf(int w, int h, const ThumbnailOptions& options) {
    if (!ShouldScale(w, h, options.cellWidth, options.cellHeight, options.enlargeSmall))
        return {{w, h}, {w, h}};
    const PixelSize box = ThumbnailSize(w, h, options.cellWidth, options.cellHeight);
    return {box, DevicePixels(box, options.devicePixelRatio)};
}

void MarkDensity(QImage& image, const ThumbnailShape& shape) {
    if (!image.isNull() && shape.logical.width > 0)
        image.setDevicePixelRatio(double(shape.pixels.width) / shape.logical.width);
}

Thumbnail MakeThumbnailImage(const QString& path, const ThumbnailOptions& options) {
    const QFileInfo info(path);
    if (!info.exists() || info.isDir()) return Missing();
    Thumbnail result;
    result.failure = Undecodable();

    // Low quality first tries the embedded thumbnail, which needs only the leading segments.
    std::vector<std::uint8_t> bytes;
    if (!options.highQuality) bytes = exif::ReadJpegHeader(QFile::encodeName(path).toStdString());
    if (bytes.empty()) bytes = ReadWholeFile(path, &result.failure);
    if (bytes.empty()) return result;

    result.orientation = exif::OrientationOf(exif::ReadJpegExif(bytes));
    const jpeg::TjHandle handle = jpeg::MakeDecompressor();
    std::optional<jpeg::ImageSize> jpegInfo = jpeg::ReadImageSize(handle.get(), bytes);
    const bool isJpeg = jpegInfo.has_value();
    QImage natural;
    if (!isJpeg) {
        if (!options.highQuality) bytes = ReadWholeFile(path);
        natural = DecodeWithQt(bytes);
        if (natural.isNull()) return result;
        jpegInfo = jpeg::ImageSize{natural.width(), natural.height()};
    }

    const int w = jpegInfo->width, h = jpegInfo->height;
    const ThumbnailShape shape = ShapeOf(w, h, options);
    const bool scale =
        ShouldScale(w, h, options.cellWidth, options.cellHeight, options.enlargeSmall);
    const PixelSize size = shape.pixels;

    if (natural.isNull() && scale && !options.highQuality) {
        // A thumbnail of other proportions (stale after a turn elsewhere, or cropped) would
        // show the photo distorted: unless only bars make the difference, the photo is decoded.
        natural = PictureOfEmbeddedThumbnail(EmbeddedThumbnail(bytes), w, h);
    }
    if (natural.isNull()) {
        if (!options.highQuality && bytes.size() < std::size_t(QFileInfo(path).size()))
            bytes = ReadWholeFile(path);
        natural = DecodeJpeg(bytes, DecodeTarget(size, options), !options.highQuality);
        if (natural.isNull()) natural = DecodeWithQt(bytes); // CMYK and other rare kinds
        if (natural.isNull()) return result;
    }
    // Three bytes a pixel: a default thumbnail stays within 64 KB.
    result.image =
        ScaleTo(natural, size, options.highQuality).convertToFormat(QImage::Format_RGB888);
    MarkDensity(result.image, shape);
    result.failure = {};
    return result;
}

platform::Result Undecodable() {
    return platform::Result::Failure(platform::Result::Kind::Damaged, platform::Why::Undecodable);
}

ImageHeader ReadImageHeader(const QString& path) {
    ImageHeader header;
    if (const auto parsed = exif::ReadJpegFileHeader(QFile::encodeName(path).toStdString())) {
        header.width = parsed->width;
        header.height = parsed->height;
        header.orientation = parsed->orientation;
        return header;
    }
    QImageReader reader(path);
    reader.setAutoTransform(false);
    const QSize size = reader.size();
    if (size.isValid()) {
        header.width = size.width();
        header.height = size.height();
    }
    return header;
}

} // namespace thumbs
