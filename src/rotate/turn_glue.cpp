// SPDX-License-Identifier: GPL-3.0-or-later
// How libjpeg talks to a turn: its errors and warnings, the growing output buffer, the source
// in memory and the coefficient arrays it allocates.
#include "rotate/large_pages.h"
#include "rotate/turn_session.h"

#include <jerror.h>

#include <algorithm>
#include <iterator>

namespace rotate::lossless {
namespace {

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
    (*cinfo->err->format_message)(cinfo, errors.message);
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

void OnMessage(j_common_ptr cinfo, int level) {
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

ErrorManager& ErrorsOf(j_common_ptr cinfo) {
    return *reinterpret_cast<ErrorManager*>(cinfo->err);
}

[[noreturn]] void Refuse(Session& session, Kind kind, const char* text) {
    std::snprintf(session.error.message, sizeof session.error.message, "%s", text);
    session.error.kind = kind;
    std::longjmp(session.error.jump, 1);
}

void SetUpErrors(Session& session) {
    jpeg_std_error(&session.error.pub);
    session.error.pub.error_exit = OnError;
    session.error.pub.emit_message = OnMessage;
    session.error.pub.output_message = Silently;
}

// ---- output into a growing vector --------------------------------------------------------

namespace {

OutputBuffer& OutputOf(j_compress_ptr cinfo) {
    return *reinterpret_cast<OutputBuffer*>(cinfo->dest);
}

bool GrowBuffer(std::vector<std::uint8_t>& bytes) noexcept {
    try {
        bytes.resize(std::max<std::size_t>(bytes.size() * 2, 1 << 16));
        return true;
    } catch (...) {
        return false;
    }
}

void StartOutput(j_compress_ptr cinfo) {
    OutputBuffer& out = OutputOf(cinfo);
    out.pub.next_output_byte = out.bytes.data();
    out.pub.free_in_buffer = out.bytes.size();
}

boolean GrowOutput(j_compress_ptr cinfo) {
    OutputBuffer& out = OutputOf(cinfo);
    const std::size_t used = out.bytes.size(); // called only when the buffer is full
    if (!GrowBuffer(out.bytes)) ERREXIT1(cinfo, JERR_OUT_OF_MEMORY, 0);
    out.pub.next_output_byte = out.bytes.data() + used;
    out.pub.free_in_buffer = out.bytes.size() - used;
    return TRUE;
}

void FinishOutput(j_compress_ptr cinfo) {
    OutputBuffer& out = OutputOf(cinfo);
    out.bytes.resize(out.bytes.size() - out.pub.free_in_buffer);
}

} // namespace

void SetUpOutput(Session& session) {
    session.out.pub.init_destination = StartOutput;
    session.out.pub.empty_output_buffer = GrowOutput;
    session.out.pub.term_destination = FinishOutput;
    session.target.dest = &session.out.pub;
}

// ---- memory of the coefficient arrays ------------------------------------------------------

namespace {

// libjpeg allocates an array as one piece up to this size, beyond it in several.
constexpr std::uint64_t kOnePieceBytes = 1000000000;

jvirt_barray_ptr RequestArray(j_common_ptr cinfo, int pool, boolean preZero, JDIMENSION across,
                              JDIMENSION down, JDIMENSION maxAccess) {
    ArrayAdvice& a = *ErrorsOf(cinfo).arrays;
    const jvirt_barray_ptr array = (*a.request)(cinfo, pool, preZero, across, down, maxAccess);
    if (a.count < int(std::size(a.requested)))
        a.requested[a.count++] = {array, std::uint64_t(across) * down * sizeof(JBLOCK)};
    return array;
}

// Touching row 0 to learn where an array lies is harmless: libjpeg fills or zeroes it next.
void RealizeArrays(j_common_ptr cinfo) {
    ArrayAdvice& a = *ErrorsOf(cinfo).arrays;
    (*a.realize)(cinfo);
    for (int i = 0; i < a.count; ++i) {
        const ArrayAdvice::Requested& r = a.requested[i];
        if (r.bytes == 0 || r.bytes > kOnePieceBytes) continue;
        JBLOCKROW first = (*cinfo->mem->access_virt_barray)(cinfo, r.array, 0, 1, TRUE)[0];
        if (a.advise)
            a.advise(first, std::size_t(r.bytes));
        else
            AdviseLargePages(first, std::size_t(r.bytes));
    }
}

void WatchArrays(Session& session, j_decompress_ptr cinfo) {
    session.error.arrays = &session.arrays;
    session.arrays.request = cinfo->mem->request_virt_barray;
    session.arrays.realize = cinfo->mem->realize_virt_arrays;
    cinfo->mem->request_virt_barray = RequestArray;
    cinfo->mem->realize_virt_arrays = RealizeArrays;
}

} // namespace

void ReadSourceHeader(Session& session, std::span<const std::uint8_t> jpeg, long memoryLimit) {
    jpeg_decompress_struct& src = session.source;
    src.err = &session.error.pub;
    session.sourceMade = true;
    jpeg_create_decompress(&src);
    src.mem->max_memory_to_use = memoryLimit;
    WatchArrays(session, &src);
    jpeg_mem_src(&src, jpeg.data(), static_cast<unsigned long>(jpeg.size()));
    jpeg_save_markers(&src, JPEG_COM, 0xFFFF);
    for (int n = 0; n < 16; ++n)
        jpeg_save_markers(&src, JPEG_APP0 + n, 0xFFFF);

    session.error.readingHeader = true;
    jpeg_read_header(&src, TRUE);
    session.error.readingHeader = false;
}

} // namespace rotate::lossless
