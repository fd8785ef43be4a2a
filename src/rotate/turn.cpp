// SPDX-License-Identifier: GPL-3.0-or-later
#include "rotate/turn.h"

#include "jpeg/segments.h"
#include "rotate/crop_rule.h"
#include "rotate/lossless_turn.h"
#include "rotate/orientation_table.h"
#include "rotate/transform.h"
#include "rotate/turn_memory.h"

#include <QFile>
#include <QImageReader>

#include <fcntl.h>

#include <cerrno>
#include <sys/stat.h>

namespace rotate {
namespace {

// A photo that is not a JPEG still gets its size, so that the crop question comes before the
// turn refuses it, as for any other photo.
exif::JpegHeader ReadHeader(const QString& path) {
    if (auto header = exif::ReadJpegFileHeader(QFile::encodeName(path).toStdString()))
        return *header;
    exif::JpegHeader header;
    QImageReader reader(path);
    reader.setAutoTransform(false);
    if (const QSize size = reader.size(); size.isValid()) {
        header.width = size.width();
        header.height = size.height();
    }
    return header;
}

struct FileBlocks {
    std::optional<exif::BlockLayout> main;
    std::vector<IndexedImage> others;
};

// From the headers alone: the images' data is not read.
FileBlocks ReadFileBlocks(const std::string& path) {
    FileBlocks blocks;
    const platform::UniqueFd file(
        ::open(path.c_str(), O_RDONLY | O_CLOEXEC | O_NONBLOCK | O_NOCTTY));
    struct stat st {};
    if (!file.valid() || ::fstat(file.get(), &st) != 0 || !S_ISREG(st.st_mode)) return blocks;
    jpeg::FdSource source(file.get(), std::uint64_t(st.st_size));
    blocks.main = exif::ReadBlockLayout(source);
    blocks.others = ReadIndexedImages(source);
    return blocks;
}

// Without a frame header to read its blocks from (no JPEG, which the turn refuses anyway), the
// blocks of most photos.
exif::BlockLayout MainLayout(const TurnPlan& plan) {
    if (plan.mainBlocks) return *plan.mainBlocks;
    return {plan.header.width, plan.header.height, 16, 16};
}

} // namespace

bool TurnPlan::mayCrop() const {
    return TurnTrims(MainLayout(*this), transform) || partialImage;
}

std::optional<CropCause> TurnPlan::cropCause() const {
    if (const exif::BlockLayout main = MainLayout(*this); TurnTrims(main, transform))
        return CropCause{0, main.width, main.height, main.mcuWidth, main.mcuHeight};
    if (!partialImage) return std::nullopt;
    const exif::BlockLayout& b = partialImage->blocks;
    return CropCause{int(partialImage->entry + 1), b.width, b.height, b.mcuWidth, b.mcuHeight};
}

std::optional<TurnPlan> PlanTurn(const QString& path, RotationCode code, bool keepTimes) {
    const std::optional<QuarterTurns> transform = TransformValue(code);
    if (!transform) return std::nullopt;
    TurnPlan plan;
    plan.path = path;
    plan.code = code;
    plan.transform = *transform;
    const std::string native = QFile::encodeName(path).toStdString();
    plan.timesKept = keepTimes && platform::GetFileTimes(native, plan.times).ok();
    plan.header = ReadHeader(path);
    plan.newOrientation = NewOrientation(plan.header.orientation, code);
    const FileBlocks blocks = ReadFileBlocks(native);
    plan.mainBlocks = blocks.main;
    for (const IndexedImage& image : blocks.others) {
        if (!TurnTrims(image.blocks, plan.transform)) continue;
        plan.partialImage = image;
        break;
    }
    return plan;
}

TurnResult ApplyTurn(const TurnPlan& plan, bool trimAllowed, const TurnCalls& calls) {
    TurnResult outcome;
    const std::string native = QFile::encodeName(plan.path).toStdString();
    // Decided again from the photo as read under its lock: a turn by another process may have
    // changed its orientation since the plan was made.
    const OrientationAfter orientation = [code = plan.code](std::uint16_t old) {
        return NewOrientation(old, code);
    };
    outcome.result =
        TurnJpegFile(native, plan.transform, orientation, calls.replace, trimAllowed, calls.seen,
                     plan.timesKept ? &plan.times : nullptr, &outcome.times);
    if (!outcome.turned()) outcome.times = {};
    return outcome;
}

} // namespace rotate
