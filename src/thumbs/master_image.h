// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include "thumbs/image_codec.h"

#include <QByteArray>
#include <QImage>

#include <cstdint>
#include <optional>
#include <span>
#include <vector>

namespace thumbs {

// Cells up to this width in pixels are served from a master image; larger cells decode the
// photo. A dense screen takes masters of a multiple of it (MasterSideFor).
inline constexpr int kMasterSide = 512;

// A photo decoded once at the smallest DCT scale whose longer side is at least the master side
// (the whole photo when it is smaller), from which the thumbnail of any such cell is made.
struct MasterImage {
    QImage image; // RGB888; RGB32 when only part of a master file was decoded, for one thumbnail
    int photoWidth = 0;
    int photoHeight = 0;
    std::uint16_t orientation = 0;
};

// The master side for thumbnails of these options: kMasterSide times the screen's density
// rounded up, so that a thumbnail of twice the pixels is averaged from twice as many.
int MasterSideFor(const ThumbnailOptions& options);

// The scale a master is decoded at.
QSize MasterSize(int photoWidth, int photoHeight, int side = kMasterSide);

// The master of a JPEG photo's bytes; nullopt when TurboJPEG cannot read it (other formats go
// the ordinary way). A truncated photo decodes as far as it goes, as for a thumbnail.
std::optional<MasterImage> DecodeMaster(std::span<const std::uint8_t> photo,
                                        int side = kMasterSide);

// The thumbnail the ordinary maker would make for this photo, made by one smooth scale.
Thumbnail ThumbnailFromMaster(const MasterImage& master, const ThumbnailOptions& options);

// True when the options ask for what a master can give: high quality, a cell of at most
// kMasterSide logical pixels.
bool MasterServes(const ThumbnailOptions& options);

// A master as a small JPEG whose first segment (a comment) carries `keyText`, the photo's size
// and orientation and a checksum of what follows, so that a file read back is checked against
// the photo it claims to be.
std::vector<std::uint8_t> EncodeMasterFile(const MasterImage& master, const QByteArray& keyText);

// Reads a master file back, for the thumbnail of `forThumbnail` when given (decoding no more
// pixels than it needs). nullopt for anything damaged, truncated, foreign or of another key.
std::optional<MasterImage> DecodeMasterFile(std::span<const std::uint8_t> file,
                                            const QByteArray& keyText,
                                            const ThumbnailOptions* forThumbnail = nullptr,
                                            int side = kMasterSide);

} // namespace thumbs
