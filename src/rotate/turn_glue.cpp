// SPDX-License-Identifier: GPL-3.0-or-later
// How libjpeg talks to a turn: the refusals that leave through its error manager, the growing
// output buffer, the source in memory and the coefficient arrays it allocates.
#include "rotate/large_pages.h"
#include "rotate/turn_session.h"

#include <jerror.h>

#include <algorithm>
#include <iterator>

namespace rotate::lossless {

[[noreturn]] void Refuse(Session& session, Kind kind, platform::Why why) {
    jpeg::Leave(session.error, kind, why);
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
    ArrayAdvice& a = *static_cast<ArrayAdvice*>(cinfo->client_data);
    const jvirt_barray_ptr array = (*a.request)(cinfo, pool, preZero, across, down, maxAccess);
    if (a.count < int(std::size(a.requested)))
        a.requested[a.count++] = {array, std::uint64_t(across) * down * sizeof(JBLOCK)};
    return array;
}

// Touching row 0 to learn where an array lies is harmless: libjpeg fills or zeroes it next.
void RealizeArrays(j_common_ptr cinfo) {
    ArrayAdvice& a = *static_cast<ArrayAdvice*>(cinfo->client_data);
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
    cinfo->client_data = &session.arrays;
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
