// SPDX-License-Identifier: GPL-3.0-or-later
#include "thumbs/letterbox.h"

#include "exif/thumbnail_proportions.h"

#include <algorithm>
#include <cstdlib>

namespace thumbs {
namespace {

// A bar is black when written; JPEG noise and ringing next to the picture lift it a little.
constexpr int kBrightestBarLevel = 56;
// A measured bar may be this far from the predicted one: rounding, and ringing at its edge.
constexpr int kBarSlack = 2;
// Larger thumbnails are not what cameras write; scanning them is not worth the time.
constexpr int kMaxThumbnailSide = 1024;

bool IsDark(QRgb pixel) {
    return std::max({qRed(pixel), qGreen(pixel), qBlue(pixel)}) <= kBrightestBarLevel;
}

bool RowIsDark(const QImage& image, int y) {
    const auto* line = reinterpret_cast<const QRgb*>(image.constScanLine(y));
    return std::all_of(line, line + image.width(), IsDark);
}

bool ColumnIsDark(const QImage& image, int x) {
    for (int y = 0; y < image.height(); ++y)
        if (!IsDark(reinterpret_cast<const QRgb*>(image.constScanLine(y))[x])) return false;
    return true;
}

// Dark lines from one edge inward, among `count` lines; `isDarkLine(i)` looks at the i-th from that
// edge.
template <class IsDarkLine> int DarkLinesFromEdge(int count, IsDarkLine isDarkLine) {
    int n = 0;
    while (n < count && isDarkLine(n))
        ++n;
    return n;
}

bool NearPrediction(int measured, int predicted) {
    return measured >= 1 && std::abs(measured - predicted) <= kBarSlack;
}

} // namespace

QImage PictureOfEmbeddedThumbnail(const QImage& thumbnail, int photoW, int photoH) {
    const int w = thumbnail.width(), h = thumbnail.height();
    if (thumbnail.isNull() || photoW <= 0 || photoH <= 0) return {};
    if (exif::ProportionsMatch(w, h, photoW, photoH)) return thumbnail;
    if (w > kMaxThumbnailSide || h > kMaxThumbnailSide) return {};
    const QImage image = thumbnail.format() == QImage::Format_RGB32
                             ? thumbnail
                             : thumbnail.convertToFormat(QImage::Format_RGB32);
    const exif::PictureRect fit = exif::FittedPicture(w, h, photoW, photoH);
    if (fit.width == w) { // bars above and below
        const int top = DarkLinesFromEdge(h, [&](int i) { return RowIsDark(image, i); });
        const int bottom =
            DarkLinesFromEdge(h - top, [&](int i) { return RowIsDark(image, h - 1 - i); });
        if (!NearPrediction(top, fit.y) || !NearPrediction(bottom, h - fit.y - fit.height))
            return {};
        // What lies between the bars, even a line off the prediction: a line of bar would show.
        return image.copy(0, top, w, h - top - bottom);
    }
    const int left = DarkLinesFromEdge(w, [&](int i) { return ColumnIsDark(image, i); });
    const int right =
        DarkLinesFromEdge(w - left, [&](int i) { return ColumnIsDark(image, w - 1 - i); });
    if (!NearPrediction(left, fit.x) || !NearPrediction(right, w - fit.x - fit.width)) return {};
    return image.copy(left, 0, w - left - right, h);
}

} // namespace thumbs
