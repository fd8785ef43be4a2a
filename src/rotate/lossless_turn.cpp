// SPDX-License-Identifier: GPL-3.0-or-later
#include "rotate/lossless_turn.h"

#include "jpeg/quant_tables.h"
#include "rotate/huffman_statistics.h"
#include "rotate/turn_memory.h"
#include "rotate/turn_session.h"

#include <algorithm>
#include <climits>
#include <memory>

namespace rotate {
namespace lossless {
namespace {

// The target takes the source's tables, components and coding mode, turned; libjpeg adds no
// JFIF or Adobe segment of its own, since the source's segments are copied as they were.
void SetUpTarget(Session& session, const Geometry& g, long memoryLimit) {
    jpeg_decompress_struct& src = session.source;
    jpeg_compress_struct& dst = session.target;
    dst.err = &session.error.pub;
    session.targetMade = true;
    jpeg_create_compress(&dst);
    dst.mem->max_memory_to_use = memoryLimit;
    SetUpOutput(session);

    jpeg_copy_critical_parameters(&src, &dst);
    dst.image_width = g.width;
    dst.image_height = g.height;
    if (dst.num_components == 1)
        dst.comp_info[0].h_samp_factor = dst.comp_info[0].v_samp_factor = 1;
    if (SwapsSides(g.turns)) {
        for (int ci = 0; ci < dst.num_components; ++ci)
            std::swap(dst.comp_info[ci].h_samp_factor, dst.comp_info[ci].v_samp_factor);
        jpeg::TransposeQuantTables(dst);
    }
    dst.write_JFIF_header = FALSE;
    dst.write_Adobe_marker = FALSE;
    dst.arith_code = src.arith_code;
    dst.optimize_coding = dst.arith_code ? FALSE : TRUE; // arithmetic coding adapts by itself
    if (src.progressive_mode) jpeg_simple_progression(&dst);
}

void CopySavedMarkers(Session& session) {
    for (jpeg_saved_marker_ptr m = session.source.marker_list; m; m = m->next)
        jpeg_write_marker(&session.target, m->marker, m->data, m->data_length);
}

// Beyond the coefficient arrays libjpeg keeps the saved segments and small tables.
long LibraryMemoryLimit(std::uint64_t maxMemory, std::size_t jpegBytes) {
    const std::uint64_t limit =
        std::min(maxMemory, std::uint64_t(1) << 60) + jpegBytes + (std::uint64_t(16) << 20);
    return long(std::min<std::uint64_t>(limit, std::uint64_t(LONG_MAX)));
}

void RunTurn(Session& session, std::span<const std::uint8_t> jpeg, QuarterTurns turns,
             const LosslessTurnOptions& options, std::uint64_t maxMemory) {
    jpeg_decompress_struct& src = session.source;
    session.arrays.advise = options.adviseArray;
    const long memoryLimit = LibraryMemoryLimit(maxMemory, jpeg.size());
    ReadSourceHeader(session, jpeg, memoryLimit);
    const Geometry g = PlanGeometry(session, turns, options.trim);
    RequestTurnedArrays(session, g, jpeg.size(), maxMemory);
    jvirt_barray_ptr* source = jpeg_read_coefficients(&src);

    SetUpTarget(session, g, memoryLimit);
    // Arithmetic coding adapts by itself: it has no tables to count for. The target learns that
    // its script is progressive only when writing starts; it keeps the source's mode.
    jpeg_compress_struct& dst = session.target;
    const Counting counting = dst.arith_code         ? Counting::None
                              : src.progressive_mode ? Counting::Progressive
                                                     : Counting::Sequential;
    if (counting == Counting::Progressive) session.progressiveCounts = StartProgressiveCounts(&dst);
    for (int ci = 0; ci < src.num_components; ++ci)
        TurnComponent(session, g, ci, source[ci], counting);
    if (counting == Counting::Sequential) InstallOptimalTables(session, g);
    if (counting == Counting::Progressive)
        FinishProgressiveCounts(&dst, *session.progressiveCounts);

    jpeg_write_coefficients(&dst, session.turned);
    if (counting == Counting::Progressive)
        WriteWithProgressiveCounts(&dst, *session.progressiveCounts, session.turned);
    CopySavedMarkers(session);
    jpeg_finish_compress(&session.target);
    jpeg_finish_decompress(&src);
    // The caller hands over one image; bytes after its end would be lost with the turn.
    if (src.src->bytes_in_buffer > 0)
        Refuse(session, Kind::Unsupported,
               "data follows the end of the image where none was expected");
}

} // namespace
} // namespace lossless

using namespace lossless;

LosslessTurnResult LosslessTurn(std::span<const std::uint8_t> jpeg, QuarterTurns turns,
                                const LosslessTurnOptions& options) {
    LosslessTurnResult result;
    if (!QuarterTurnsFrom(int(turns))) { // a value cast from an unchecked number
        result.result = platform::Result::Failure(Kind::BadArgument, "bad number of quarter turns");
        return result;
    }
    if (jpeg.empty()) {
        result.result = platform::Result::Failure(Kind::Damaged, "empty file");
        return result;
    }
    const auto session = std::make_unique<Session>();
    Session* s = session.get();
    SetUpErrors(*s);
    // Turned data rarely outgrows its source; the buffer grows when it does.
    s->out.bytes.resize(jpeg.size() + jpeg.size() / 16 + 4096);
    const std::uint64_t maxMemory = options.maxMemory ? *options.maxMemory : TurnMemoryLimitNow();

    if (setjmp(s->error.jump) != 0) {
        result.result = platform::Result::Failure(s->error.kind, s->error.message);
        result.memoryNeeded = s->error.memoryNeeded;
        result.memoryLimit = s->error.memoryLimit;
        return result;
    }
    RunTurn(*s, jpeg, turns, options, maxMemory);
    result.width = int(s->target.image_width);
    result.height = int(s->target.image_height);
    result.bytes = std::move(s->out.bytes);
    return result;
}

std::uint64_t MemoryToTurn(std::span<const std::uint8_t> header, QuarterTurns turns,
                           std::uint64_t fileBytes) {
    if (header.empty() || !QuarterTurnsFrom(int(turns))) return 0;
    const auto session = std::make_unique<Session>();
    Session* s = session.get();
    SetUpErrors(*s);
    if (setjmp(s->error.jump) != 0) return 0;
    ReadSourceHeader(*s, header, LibraryMemoryLimit(0, header.size()));
    return MemoryOfTurn(s->source, PlanGeometry(*s, turns, true), fileBytes);
}

} // namespace rotate