// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

// What the parts of a lossless turn share: the session that owns every buffer, the error
// manager that libjpeg leaves through, and the plan of the turned picture.

#include "rotate/huffman_statistics.h"
#include "rotate/orientation_table.h"

#include "platform/result.h"

// clang-format off
#include <cstdio> // jpeglib.h needs FILE
#include <jpeglib.h>
// clang-format on

#include <csetjmp>
#include <cstddef>
#include <cstdint>
#include <functional>
#include <span>
#include <vector>

// libjpeg reports errors through a callback that must not return. It leaves by longjmp to
// LosslessTurn, so the functions it can leave from own nothing with a destructor: every
// buffer they use belongs to the Session, which is made before the jump point.

namespace rotate::lossless {

using Kind = platform::Result::Kind;

constexpr int kBlockSize = DCTSIZE;
constexpr int kCoefficients = DCTSIZE2;

struct ArrayAdvice;

struct ErrorManager {
    jpeg_error_mgr pub; // first: libjpeg sees only this part
    std::jmp_buf jump;
    bool readingHeader = false;
    Kind kind = Kind::Ok;
    char message[JMSG_LENGTH_MAX] = {};
    std::uint64_t memoryNeeded = 0, memoryLimit = 0;
    ArrayAdvice* arrays = nullptr;
};

struct OutputBuffer {
    jpeg_destination_mgr pub; // first: libjpeg sees only this part
    std::vector<std::uint8_t> bytes;
};

// The coefficient arrays libjpeg is asked for, source and turned, so that their memory can be
// advised once it exists and before anything is written to it.
struct ArrayAdvice {
    struct Requested {
        jvirt_barray_ptr array;
        std::uint64_t bytes;
    };
    Requested requested[2 * MAX_COMPONENTS] = {};
    int count = 0;
    jvirt_barray_ptr (*request)(j_common_ptr, int, boolean, JDIMENSION, JDIMENSION,
                                JDIMENSION) = nullptr;
    void (*realize)(j_common_ptr) = nullptr;
    std::function<void(void*, std::size_t)> advise;
};

struct Session {
    ErrorManager error;
    ArrayAdvice arrays;
    OutputBuffer out;
    jpeg_decompress_struct source{};
    jpeg_compress_struct target{};
    bool sourceMade = false, targetMade = false;
    jvirt_barray_ptr turned[MAX_COMPONENTS] = {};
    JCOEF* turnedDcs[MAX_COMPONENTS] = {}; // row by row, for the DC count of baseline scans
    long dcCounts[NUM_HUFF_TBLS][257] = {};
    long acCounts[NUM_HUFF_TBLS][257] = {};
    ProgressiveCounts* progressiveCounts = nullptr; // in the target's pool

    Session() = default;
    Session(const Session&) = delete;
    Session& operator=(const Session&) = delete;
    ~Session() {
        if (targetMade) jpeg_destroy_compress(&target);
        if (sourceMade) jpeg_destroy_decompress(&source);
    }
};

inline JDIMENSION RoundUp(JDIMENSION value, JDIMENSION step) {
    return (value + step - 1) / step * step;
}

// A single component is coded block by block whatever factors it declares, and its blocks are the
// unit of a turn: it is turned as 1x1 and written so, as jpegtran does.
struct Factors {
    int h = 1, v = 1;
};

struct Geometry {
    QuarterTurns turns = QuarterTurns::None;
    JDIMENSION iMcuWidth = 0, iMcuHeight = 0;    // in pixels, of the source
    JDIMENSION wholeIMcusX = 0, wholeIMcusY = 0; // whole iMCUs across and down the source
    JDIMENSION width = 0, height = 0;            // of the turned picture
};

struct ComponentSides {
    int h = 1, v = 1;                            // sampling factors after the turn
    JDIMENSION across = 0, down = 0;             // blocks inside the turned picture
    JDIMENSION paddedAcross = 0, paddedDown = 0; // rounded up to whole iMCUs
};

enum class Counting { None, Sequential, Progressive };

// ---- libjpeg glue (turn_glue.cpp) ----
ErrorManager& ErrorsOf(j_common_ptr cinfo);
void SetUpErrors(Session& session);
[[noreturn]] void Refuse(Session& session, Kind kind, const char* text);
// Makes the target write into session.out, which grows as needed.
void SetUpOutput(Session& session);
void ReadSourceHeader(Session& session, std::span<const std::uint8_t> jpeg, long memoryLimit);

// ---- plan and memory (turn_geometry.cpp) ----
Factors FactorsOf(const jpeg_decompress_struct& src, int ci);
Factors MaxFactorsOf(const jpeg_decompress_struct& src);
Geometry PlanGeometry(Session& session, QuarterTurns turns, bool trim);
ComponentSides TurnedSides(const jpeg_decompress_struct& src, const Geometry& g, int ci);
std::uint64_t MemoryOfTurn(const jpeg_decompress_struct& src, const Geometry& g,
                           std::uint64_t fileBytes);
void RequestTurnedArrays(Session& session, const Geometry& g, std::uint64_t fileBytes,
                         std::uint64_t maxMemory);

// ---- blocks (block_turn.cpp) ----
void TurnComponent(Session& session, const Geometry& g, int ci, jvirt_barray_ptr source,
                   Counting counting);

// ---- Huffman symbols (symbol_count.cpp) ----
void InstallOptimalTables(Session& session, const Geometry& g);

} // namespace rotate::lossless
