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

std::string SizeText(int width, int height) {
    return std::to_string(width) + "x" + std::to_string(height);
}

std::string BlockText(const exif::BlockLayout& blocks) {
    if (blocks.mcuWidth == blocks.mcuHeight) return std::to_string(blocks.mcuWidth);
    return SizeText(blocks.mcuWidth, blocks.mcuHeight);
}

// Without a frame header to read its blocks from (no JPEG, which the turn refuses anyway), the
// blocks of most photos.
exif::BlockLayout MainLayout(const TurnPlan& plan) {
    if (plan.mainBlocks) return *plan.mainBlocks;
    return {plan.header.width, plan.header.height, 16, 16};
}

// Read again from the file only on this rare way out, so that the message can say how much.
std::uint64_t MemoryToTurnFile(const TurnPlan& plan) {
    const std::string native = QFile::encodeName(plan.path).toStdString();
    struct stat st {};
    if (::stat(native.c_str(), &st) != 0) return 0;
    return MemoryToTurn(exif::ReadJpegHeader(native), plan.transform, std::uint64_t(st.st_size));
}

} // namespace

bool TurnPlan::mayCrop() const {
    return TurnTrims(MainLayout(*this), transform) || partialImage;
}

std::string TurnPlan::cropReason() const {
    if (const exif::BlockLayout main = MainLayout(*this); TurnTrims(main, transform))
        return SizeText(main.width, main.height) + " is not a multiple of " + BlockText(main);
    if (!partialImage) return {};
    const exif::BlockLayout& b = partialImage->blocks;
    return "its image " + std::to_string(partialImage->entry + 1) + " (" +
           SizeText(b.width, b.height) + ") is not a multiple of " +
           SizeText(b.mcuWidth, b.mcuHeight);
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

TurnOutcome ApplyTurn(const TurnPlan& plan, bool trimAllowed, const TurnCalls& calls) {
    TurnOutcome outcome;
    const std::string native = QFile::encodeName(plan.path).toStdString();
    // Decided again from the photo as read under its lock: a turn by another process may have
    // changed its orientation since the plan was made.
    const OrientationAfter orientation = [code = plan.code](std::uint16_t old) {
        return NewOrientation(old, code);
    };
    platform::Result times;
    outcome.result =
        TurnJpegFile(native, plan.transform, orientation, &outcome.warning, calls.replace,
                     trimAllowed, calls.seen, plan.timesKept ? &plan.times : nullptr, &times);
    if (!outcome.result.ok()) {
        outcome.status = TurnOutcome::Status::TransformFailed;
        // Too large may also mean a file or a segment too large; only memory is told as such.
        if (outcome.result.kind() == platform::Result::Kind::TooLarge) {
            const std::uint64_t needed = MemoryToTurnFile(plan);
            if (needed > TurnMemoryLimitNow()) outcome.memoryNeeded = needed;
        }
        return outcome;
    }
    if (!times.ok()) {
        outcome.status = TurnOutcome::Status::TimesFailed;
        outcome.result = std::move(times);
    }
    return outcome;
}

} // namespace rotate
