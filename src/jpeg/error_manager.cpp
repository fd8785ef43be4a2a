// SPDX-License-Identifier: GPL-3.0-or-later
#include "jpeg/error_manager.h"

#include <jerror.h>

#include <cstdio>
#include <type_traits>

namespace jpeg {
namespace {

using Kind = platform::Result::Kind;

Kind KindOfLibraryError(int code) {
    switch (code) {
    case JERR_OUT_OF_MEMORY:
    case JERR_NO_BACKING_STORE:
    case JERR_IMAGE_TOO_BIG:
    case JERR_WIDTH_OVERFLOW:
        return Kind::TooLarge;
    case JERR_BAD_PRECISION:
    case JERR_NOT_COMPILED:
    case JERR_NOTIMPL:
    case JERR_ARITH_NOTIMPL:
    case JERR_BAD_MCU_SIZE:
    case JERR_COMPONENT_COUNT:
        return Kind::Unsupported;
    default:
        return Kind::Damaged;
    }
}

[[noreturn]] void LeaveWithLibraryMessage(j_common_ptr cinfo, Kind kind) {
    ErrorManager& errors = ErrorsOf(cinfo);
    // The library's own words are English only: the kind says what the user needs to know.
    errors.why = kind == Kind::Damaged ? platform::Why::ImageDataDamaged : platform::Why::None;
    errors.kind = kind;
    std::longjmp(errors.jump, 1);
}

void OnError(j_common_ptr cinfo) {
    LeaveWithLibraryMessage(cinfo, KindOfLibraryError(cinfo->err->msg_code));
}

// Stray bytes between the segments ahead of the first scan and an unknown JFIF version touch no
// picture data; every other warning means the compressed data is damaged.
bool IsHarmlessWarning(const ErrorManager& errors, int code) {
    return errors.readingHeader && (code == JWRN_EXTRANEOUS_DATA || code == JWRN_JFIF_MAJOR);
}

void OnFatalWarning(j_common_ptr cinfo, int level) {
    if (level >= 0) return; // trace output
    ErrorManager& errors = ErrorsOf(cinfo);
    if (IsHarmlessWarning(errors, cinfo->err->msg_code)) {
        ++cinfo->err->num_warnings;
        return;
    }
    LeaveWithLibraryMessage(cinfo, Kind::Damaged);
}

void Silently(j_common_ptr) {}

} // namespace

ErrorManager::ErrorManager(Warnings warnings) : warnings(warnings) {
    jpeg_std_error(&pub);
    pub.error_exit = OnError;
    if (warnings == Warnings::Fatal) pub.emit_message = OnFatalWarning;
    pub.output_message = Silently;
}

static_assert(std::is_standard_layout_v<ErrorManager>, "libjpeg's part must come first");

ErrorManager& ErrorsOf(j_common_ptr cinfo) {
    return *reinterpret_cast<ErrorManager*>(cinfo->err);
}

[[noreturn]] void Leave(ErrorManager& errors, platform::Result::Kind kind, platform::Why why) {
    errors.why = why;
    errors.kind = kind;
    std::longjmp(errors.jump, 1);
}

} // namespace jpeg
