// SPDX-License-Identifier: GPL-3.0-or-later
#include "thumbs/master_image.h"

#include "exif/exif_reader.h"
#include "jpeg/turbo.h"
#include "thumbs/thumbnail_size.h"

#include <algorithm>
#include <charconv>
#include <cmath>
#include <cstring>

namespace thumbs {
namespace {

constexpr char kMagic[] = "TLVXM2\n";
constexpr int kFileQuality = 90;
constexpr std::size_t kMaxMasterFileBytes = 16u << 20;
// A hit decodes its file at twice the thumbnail's size at least, at a halving scale: the
// transform's own averaging then brings it closest to the thumbnail made from the photo
// (45 to 50 dB on average on the benchmark corpora, against 44 to 49 at four times).
constexpr int kMargin = 2;

// Halving scales have SIMD inverse transforms; the others (3/8, 6/8, ...) decode a small file
// up to twice as slowly as the whole picture.
bool IsFastScale(const tjscalingfactor& f) {
    return f.num == 1 && (f.denom == 1 || f.denom == 2 || f.denom == 4 || f.denom == 8);
}

// Eight bytes a step, since every hit runs it over a whole file. Each step is a bijection of
// the state, so any one changed word changes the result.

std::uint64_t Checksum(std::span<const std::uint8_t> bytes) {
    constexpr std::uint64_t kOdd = 0x9e3779b97f4a7c15ull;
    std::uint64_t h = kOdd ^ bytes.size();
    std::size_t i = 0;
    for (; bytes.size() - i >= 8; i += 8) {
        std::uint64_t word = 0;
        std::memcpy(&word, bytes.data() + i, 8);
        h = (h ^ word) * kOdd;
        h ^= h >> 29;
    }
    for (; i < bytes.size(); ++i)
        h = ((h ^ bytes[i]) * kOdd) ^ (h >> 29);
    return h;
}

// `strict`: a warning (truncated or corrupt data) is a failure instead of a partial image.
// RGB888 keeps masters small in memory; RGB32 is what the smooth scale works in, so a picture
// decoded for one thumbnail only is decoded straight into it.
QImage DecodeRgb(void* handle, std::span<const std::uint8_t> jpeg, int w, int h, bool strict,
                 QImage::Format format = QImage::Format_RGB888) {
    if (std::int64_t(w) * h > kMaxDecodedPixels) return {};
    QImage image(w, h, format);
    if (image.isNull()) return {};
    const int pixelFormat = format == QImage::Format_RGB32 ? TJPF_BGRX : TJPF_RGB;
    if (tjDecompress2(handle, jpeg.data(), static_cast<unsigned long>(jpeg.size()), image.bits(), w,
                      int(image.bytesPerLine()), h, pixelFormat, TJFLAG_LIMITSCANS) != 0 &&
        (strict || tjGetErrorCode(handle) != TJERR_WARNING))
        return {};
    return image;
}

// The size the ordinary maker gives the thumbnail of a w x h photo.
PixelSize TargetSize(int w, int h, const ThumbnailOptions& options) {
    return ShapeOf(w, h, options).pixels;
}

std::optional<std::uint64_t> ParseNumber(std::string_view& text) {
    std::uint64_t value = 0;
    const auto [end, error] = std::from_chars(text.data(), text.data() + text.size(), value);
    if (error != std::errc() || end == text.data() + text.size() || (*end != ' ' && *end != '\n'))
        return std::nullopt;
    text.remove_prefix(std::size_t(end - text.data()) + 1);
    return value;
}

} // namespace

int MasterSideFor(const ThumbnailOptions& options) {
    const double ratio = options.devicePixelRatio;
    return ratio > 1.0 && ratio <= 8.0 ? kMasterSide * int(std::ceil(ratio)) : kMasterSide;
}

QSize MasterSize(int photoWidth, int photoHeight, int side) {
    int count = 0;
    const tjscalingfactor* factors = tjGetScalingFactors(&count);
    QSize best(photoWidth, photoHeight);
    for (int i = 0; i < count; ++i) {
        const tjscalingfactor& f = factors[i];
        if (f.num > f.denom) continue;
        const int w = TJSCALED(photoWidth, f), h = TJSCALED(photoHeight, f);
        if (std::max(w, h) >= side &&
            std::int64_t(w) * h < std::int64_t(best.width()) * best.height())
            best = QSize(w, h);
    }
    return best;
}

std::optional<MasterImage> DecodeMaster(std::span<const std::uint8_t> photo, int side) {
    const jpeg::TjHandle handle = jpeg::MakeDecompressor();
    if (!handle) return std::nullopt;
    const std::optional<jpeg::ImageSize> size = jpeg::ReadImageSize(handle.get(), photo);
    if (!size) return std::nullopt;
    const QSize master = MasterSize(size->width, size->height, side);
    MasterImage result;
    result.image = DecodeRgb(handle.get(), photo, master.width(), master.height(), false);
    if (result.image.isNull()) return std::nullopt;
    result.photoWidth = size->width;
    result.photoHeight = size->height;
    result.orientation = exif::OrientationOf(exif::ReadJpegExif(photo));
    return result;
}

bool MasterServes(const ThumbnailOptions& options) {
    return options.highQuality && options.cellWidth <= kMasterSide &&
           options.cellHeight <= kMasterSide + 20;
}

Thumbnail ThumbnailFromMaster(const MasterImage& master, const ThumbnailOptions& options) {
    Thumbnail result;
    result.failure = Undecodable();
    if (master.image.isNull()) return result;
    const ThumbnailShape shape = ShapeOf(master.photoWidth, master.photoHeight, options);
    const PixelSize size = shape.pixels;
    QImage image = master.image;
    if (image.width() != size.width || image.height() != size.height)
        image =
            image.scaled(size.width, size.height, Qt::IgnoreAspectRatio, Qt::SmoothTransformation);
    // Three bytes a pixel: a default thumbnail stays within 64 KB.
    result.image = image.convertToFormat(QImage::Format_RGB888);
    MarkDensity(result.image, shape);
    result.orientation = master.orientation;
    result.failure = {};
    return result;
}

std::vector<std::uint8_t> EncodeMasterFile(const MasterImage& master, const QByteArray& keyText) {
    const QImage image = master.image.convertToFormat(QImage::Format_RGB888);
    const jpeg::TjHandle handle(tjInitCompress());
    if (!handle || image.isNull()) return {};
    unsigned char* out = nullptr;
    unsigned long length = 0;
    const int status =
        tjCompress2(handle.get(), image.constBits(), image.width(), int(image.bytesPerLine()),
                    image.height(), TJPF_RGB, &out, &length, TJSAMP_420, kFileQuality, 0);
    const jpeg::TjBuffer owned(out);
    if (status != 0 || length < 4) return {};
    const std::span<const std::uint8_t> body(out + 2, length - 2); // after SOI

    QByteArray comment = QByteArray(kMagic) + keyText + '\n';
    comment += QByteArray::number(master.photoWidth) + ' ' +
               QByteArray::number(master.photoHeight) + ' ' +
               QByteArray::number(master.orientation) + ' ' + QByteArray::number(image.width()) +
               ' ' + QByteArray::number(image.height()) + ' ' +
               QByteArray::number(qulonglong(Checksum(body))) + '\n';
    if (comment.size() > 65533) return {};
    std::vector<std::uint8_t> file{0xFF,
                                   0xD8,
                                   0xFF,
                                   0xFE,
                                   std::uint8_t((comment.size() + 2) >> 8),
                                   std::uint8_t((comment.size() + 2) & 0xFF)};
    file.insert(file.end(), comment.begin(), comment.end());
    file.insert(file.end(), body.begin(), body.end());
    return file;
}

std::optional<MasterImage> DecodeMasterFile(std::span<const std::uint8_t> file,
                                            const QByteArray& keyText,
                                            const ThumbnailOptions* forThumbnail, int side) {
    // SOI, then our comment, then the picture, which must end with EOI.
    if (file.size() < 8 || file.size() > kMaxMasterFileBytes || file[0] != 0xFF ||
        file[1] != 0xD8 || file[2] != 0xFF || file[3] != 0xFE || file[file.size() - 2] != 0xFF ||
        file[file.size() - 1] != 0xD9)
        return std::nullopt;
    const std::size_t length = std::size_t(file[4]) << 8 | file[5];
    if (length < 2 || length - 2 > file.size() - 6) return std::nullopt;
    const std::string_view comment(reinterpret_cast<const char*>(file.data() + 6), length - 2);
    const QByteArray prefix = QByteArray(kMagic) + keyText + '\n';
    if (comment.size() < std::size_t(prefix.size()) ||
        std::memcmp(comment.data(), prefix.constData(), std::size_t(prefix.size())) != 0)
        return std::nullopt;
    std::string_view info = comment.substr(std::size_t(prefix.size()));
    std::uint64_t fields[6] = {};
    for (std::uint64_t& field : fields) {
        const std::optional<std::uint64_t> value = ParseNumber(info);
        if (!value) return std::nullopt;
        field = *value;
    }
    const std::uint64_t photoW = fields[0], photoH = fields[1], orientation = fields[2];
    if (!info.empty() || photoW < 1 || photoH < 1 || photoW > 65535 || photoH > 65535 ||
        orientation > 8 || fields[3] > 65535 || fields[4] > 65535 ||
        MasterSize(int(photoW), int(photoH), side) != QSize(int(fields[3]), int(fields[4])))
        return std::nullopt;
    const std::span<const std::uint8_t> body = file.subspan(4 + length);
    if (fields[5] != Checksum(body)) return std::nullopt;

    const jpeg::TjHandle handle = jpeg::MakeDecompressor();
    if (!handle) return std::nullopt;
    const std::optional<jpeg::ImageSize> size = jpeg::ReadImageSize(handle.get(), file);
    if (!size || std::uint64_t(size->width) != fields[3] ||
        std::uint64_t(size->height) != fields[4])
        return std::nullopt;
    // The whole master when no thumbnail is named.
    int w = size->width, h = size->height;
    if (forThumbnail) {
        const PixelSize target = TargetSize(int(photoW), int(photoH), *forThumbnail);
        int count = 0;
        const tjscalingfactor* factors = tjGetScalingFactors(&count);
        for (int i = 0; i < count; ++i) {
            const tjscalingfactor& f = factors[i];
            const int sw = TJSCALED(size->width, f), sh = TJSCALED(size->height, f);
            if (IsFastScale(f) && sw >= kMargin * target.width && sh >= kMargin * target.height &&
                std::int64_t(sw) * sh < std::int64_t(w) * h)
                w = sw, h = sh;
        }
    }
    MasterImage result;
    const bool whole = w == size->width && h == size->height;
    result.image = DecodeRgb(handle.get(), file, w, h, true,
                             whole ? QImage::Format_RGB888 : QImage::Format_RGB32);
    if (result.image.isNull()) return std::nullopt;
    result.photoWidth = int(photoW);
    result.photoHeight = int(photoH);
    result.orientation = std::uint16_t(orientation);
    return result;
}

} // namespace thumbs
