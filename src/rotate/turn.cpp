// SPDX-License-Identifier: GPL-3.0-or-later
#include "rotate/turn.h"

#include "rotate/orientation_table.h"
#include "rotate/transform.h"

#include <QFile>
#include <QImageReader>

namespace rotate {
namespace {

// A photo that is not a JPEG still gets its size, so that the crop question comes before the
// turn refuses it, as for any other photo.
jpeg::JpegHeader ReadHeader(const QString& path) {
    if (auto header = jpeg::ReadJpegFileHeader(QFile::encodeName(path).toStdString()))
        return *header;
    jpeg::JpegHeader header;
    QImageReader reader(path);
    reader.setAutoTransform(false);
    if (const QSize size = reader.size(); size.isValid()) {
        header.width = size.width();
        header.height = size.height();
    }
    return header;
}

} // namespace

std::optional<TurnPlan> PlanTurn(const QString& path, RotationCode code, bool keepTimes) {
    const std::optional<int> transform = TransformValue(code);
    if (!transform) return std::nullopt;
    TurnPlan plan;
    plan.path = path;
    plan.code = code;
    plan.transform = *transform;
    const std::string native = QFile::encodeName(path).toStdString();
    plan.timesKept = keepTimes && platform::GetFileTimes(native, plan.times).ok();
    plan.header = ReadHeader(path);
    plan.newOrientation = NewOrientation(plan.header.orientation, code);
    return plan;
}

TurnOutcome ApplyTurn(const TurnPlan& plan, const TurnCalls& calls) {
    TurnOutcome outcome;
    const std::string native = QFile::encodeName(plan.path).toStdString();
    outcome.result = TurnJpegFile(native, plan.transform, plan.newOrientation, &outcome.warning);
    if (!outcome.result.ok()) {
        outcome.status = TurnOutcome::Status::TransformFailed;
        return outcome;
    }
    if (plan.timesKept) {
        outcome.result = calls.setFileTimes(native, plan.times);
        if (!outcome.result.ok()) outcome.status = TurnOutcome::Status::TimesFailed;
    }
    return outcome;
}

} // namespace rotate
