// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include <QImage>

namespace thumbs {

// The part of an embedded thumbnail that shows a photoW x photoH photo: the whole thumbnail when
// its proportions are the photo's, the picture between two dark bars when a camera letterboxed
// it (bars of the size the proportions predict, found in the pixels), else a null image, since
// a stretched or cropped thumbnail would show the photo wrongly.
QImage PictureOfEmbeddedThumbnail(const QImage& thumbnail, int photoW, int photoH);

} // namespace thumbs
