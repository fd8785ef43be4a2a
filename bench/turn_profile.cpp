// SPDX-License-Identifier: GPL-3.0-or-later
// Where the time of one turn of one photo goes (bench/profile.sh runs it; built always so that it
// keeps building). Each step is timed alone, the best of RUNS runs, on a copy of the photo:
//   tulvex_turn_profile PHOTO WORK_FOLDER [RUNS]
// Prints "step milliseconds" lines: processor time for the steps that compute, time on the wall
// for reading, writing, flushing and the whole turn of the file. Steps libjpeg runs inside the turn
// cannot be timed from outside one by one; they are timed as the same library calls on the same
// coefficients, and the rest of the turn is what the whole takes beyond them.
#include "exif/exif_reader.h"
#include "exif/orientation_writer.h"
#include "jpeg/random_access.h"
#include "rotate/lossless_turn.h"
#include "rotate/transform.h"
#include "session/messages.h"

#include "platform/file_io.h"
#include "platform/photo_lock.h"
#if __has_include("rotate/huffman_statistics.h")
#include "rotate/huffman_statistics.h"

#include "platform/safe_replace.h"
#define PROFILE_OWN_COUNTS 1
#endif

#include <fcntl.h>
#include <time.h>
#include <unistd.h>

// clang-format off
#include <cstdio>
#include <jpeglib.h>
// clang-format on

#include <algorithm>
#include <chrono>
#include <csetjmp>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <functional>
#include <iostream>
#include <memory>
#include <string>
#include <vector>

namespace {

using Bytes = std::vector<std::uint8_t>;
using Clock = std::chrono::steady_clock;

double Milliseconds(Clock::duration d) {
    return std::chrono::duration<double, std::milli>(d).count();
}

double Best(int runs, const std::function<double()>& once) {
    double best = 1e300;
    for (int i = 0; i < runs; ++i)
        best = std::min(best, once());
    return best;
}

// The computing steps count the processor time of this thread: on a shared machine that is far
// steadier than the time on the wall, which the steps that wait for the disk count instead.
double CpuMilliseconds() {
    timespec t{};
    clock_gettime(CLOCK_THREAD_CPUTIME_ID, &t);
    return double(t.tv_sec) * 1e3 + double(t.tv_nsec) / 1e6;
}

double Timed(const std::function<void()>& step) {
    const double t0 = CpuMilliseconds();
    step();
    return CpuMilliseconds() - t0;
}

double WallTimed(const std::function<void()>& step) {
    const auto t0 = Clock::now();
    step();
    return Milliseconds(Clock::now() - t0);
}

Bytes ReadAll(const std::string& path) {
    std::ifstream in(path, std::ios::binary);
    return Bytes(std::istreambuf_iterator<char>(in), {});
}

void WriteAll(const std::string& path, const Bytes& bytes) {
    std::ofstream(path, std::ios::binary)
        .write(reinterpret_cast<const char*>(bytes.data()), std::streamsize(bytes.size()));
}

// ---- libjpeg steps on their own ----------------------------------------------------------

struct Errors {
    jpeg_error_mgr pub;
    std::jmp_buf jump;
};

struct Output {
    jpeg_destination_mgr pub;
    Bytes bytes;
};

struct Coder {
    Errors errors;
    Output out;
    jpeg_decompress_struct source{};
    jpeg_compress_struct target{};
    jvirt_barray_ptr* arrays = nullptr;
    Coder() {
        source.err = target.err = jpeg_std_error(&errors.pub);
        errors.pub.error_exit = [](j_common_ptr c) {
            std::longjmp(reinterpret_cast<Errors*>(c->err)->jump, 1);
        };
        jpeg_create_decompress(&source);
        jpeg_create_compress(&target);
        out.pub.init_destination = [](j_compress_ptr c) {
            auto& o = *reinterpret_cast<Output*>(c->dest);
            o.pub.next_output_byte = o.bytes.data();
            o.pub.free_in_buffer = o.bytes.size();
        };
        out.pub.empty_output_buffer = [](j_compress_ptr c) -> boolean {
            auto& o = *reinterpret_cast<Output*>(c->dest);
            const std::size_t used = o.bytes.size();
            o.bytes.resize(used * 2);
            o.pub.next_output_byte = o.bytes.data() + used;
            o.pub.free_in_buffer = o.bytes.size() - used;
            return TRUE;
        };
        out.pub.term_destination = [](j_compress_ptr c) {
            auto& o = *reinterpret_cast<Output*>(c->dest);
            o.bytes.resize(o.bytes.size() - o.pub.free_in_buffer);
        };
    }
    ~Coder() {
        jpeg_destroy_compress(&target);
        jpeg_destroy_decompress(&source);
    }
};

// As the turn reads: every APPn and COM segment saved, all coefficients in memory.
void Decode(Coder& c, const Bytes& jpeg) {
    jpeg_mem_src(&c.source, jpeg.data(), static_cast<unsigned long>(jpeg.size()));
    jpeg_save_markers(&c.source, JPEG_COM, 0xFFFF);
    for (int n = 0; n < 16; ++n)
        jpeg_save_markers(&c.source, JPEG_APP0 + n, 0xFFFF);
    jpeg_read_header(&c.source, TRUE);
    c.arrays = jpeg_read_coefficients(&c.source);
}

enum class Tables { LibraryStatistics, Counted };

void SetUpTarget(Coder& c, std::size_t size) {
    jpeg_copy_critical_parameters(&c.source, &c.target);
    c.target.write_JFIF_header = FALSE;
    c.target.optimize_coding = TRUE;
    if (c.source.progressive_mode) jpeg_simple_progression(&c.target);
    c.out.bytes.resize(size + size / 16 + 4096);
    c.target.dest = &c.out.pub;
}

// Counts the decoded blocks for the progressive scans, as the turn does while it turns them.
#ifdef PROFILE_OWN_COUNTS
rotate::ProgressiveCounts* Count(Coder& c) {
    rotate::ProgressiveCounts* counts = rotate::StartProgressiveCounts(&c.target);
    for (int ci = 0; ci < c.source.num_components; ++ci) {
        const jpeg_component_info& info = c.source.comp_info[ci];
        for (JDIMENSION y = 0; y < info.height_in_blocks; ++y) {
            JBLOCKROW row = (*c.source.mem->access_virt_barray)(
                reinterpret_cast<j_common_ptr>(&c.source), c.arrays[ci], y, 1, FALSE)[0];
            for (JDIMENSION x = 0; x < info.width_in_blocks; ++x)
                rotate::CountProgressiveBlock(*counts, ci, row[x]);
        }
    }
    rotate::FinishProgressiveCounts(&c.target, *counts);
    return counts;
}
#endif

struct EncodeTimes {
    double count = 0, encode = 0;
};

// Writes the decoded coefficients again, unturned, with tables made one way or the other.
EncodeTimes TimeEncode(const Bytes& jpeg, Tables tables) {
    EncodeTimes times;
    const auto c = std::make_unique<Coder>();
    if (setjmp(c->errors.jump)) return {-1, -1};
    Decode(*c, jpeg);
    SetUpTarget(*c, jpeg.size());
    // Baseline is written with the turn's own counts: its writing is the output pass alone.
    if (tables == Tables::Counted && !c->source.progressive_mode) c->target.optimize_coding = FALSE;
    const bool counted = tables == Tables::Counted && c->source.progressive_mode;
#ifdef PROFILE_OWN_COUNTS
    rotate::ProgressiveCounts* counts = nullptr;
    if (counted) times.count = Timed([&] { counts = Count(*c); });
#else
    if (counted) return {-1, -1};
#endif
    const double t0 = CpuMilliseconds();
    jpeg_write_coefficients(&c->target, c->arrays);
#if __has_include("rotate/progressive_writer.h") // the scans written by our own coder
    if (counted) rotate::WriteWithProgressiveCounts(&c->target, *counts, c->arrays);
#elif defined(PROFILE_OWN_COUNTS)
    if (counted) rotate::WriteWithProgressiveCounts(&c->target, *counts);
#endif
    jpeg_finish_compress(&c->target);
    times.encode = CpuMilliseconds() - t0;
    return times;
}

double TimeDecode(const Bytes& jpeg) {
    const auto c = std::make_unique<Coder>();
    if (setjmp(c->errors.jump)) return -1;
    return Timed([&] { Decode(*c, jpeg); });
}

} // namespace

int main(int argc, char** argv) {
    if (argc < 3) {
        std::cerr << "usage: tulvex_turn_profile PHOTO WORK_FOLDER [RUNS]\n";
        return 2;
    }
    const std::string photo = argv[1], work = argv[2];
    const int runs = argc > 3 ? std::max(1, std::atoi(argv[3])) : 5;
    const std::string copy = work + "/profile-copy.jpg";
    const Bytes original = ReadAll(photo);
    if (original.empty()) return 1;
    WriteAll(copy, original);
    const auto row = [](const char* step, double ms) { std::printf("%s %.2f\n", step, ms); };

    row("read", Best(runs, [&] {
            return WallTimed([&] {
                platform::LockedPhoto locked;
                std::vector<std::uint8_t> bytes;
                platform::PhotoAsRead read;
                if (!platform::LockPhoto(copy, O_RDONLY, {}, locked).ok() ||
                    !platform::ReadLockedPhoto(locked, bytes, read).ok())
                    std::exit(1);
            });
        }));
    const double decode = Best(runs, [&] { return TimeDecode(original); });
    rotate::LosslessTurnResult turned;
    const double turn = Best(runs, [&] {
        return Timed([&] { turned = rotate::LosslessTurn(original, rotate::QuarterTurns::One); });
    });
    if (!turned.ok()) return 1;
    EncodeTimes own{-1, -1}, library{-1, -1};
    for (int i = 0; i < runs; ++i) {
        const EncodeTimes a = TimeEncode(original, Tables::Counted);
        const EncodeTimes b = TimeEncode(original, Tables::LibraryStatistics);
        if (a.encode >= 0 && (own.encode < 0 || a.encode < own.encode)) own = a;
        if (b.encode >= 0 && (library.encode < 0 || b.encode < library.encode)) library = b;
    }
    row("decode", decode);
    // A build without the progressive counts wrote progressive photos with libjpeg's statistics.
    const double encode = own.encode >= 0 ? own.encode : library.encode;
    row("encode", encode);
    if (own.count > 0) row("count_alone", own.count);
    row("encode_with_library_statistics", library.encode);
    row("transpose_and_count", std::max(0.0, turn - decode - encode));
    row("lossless_turn", turn);

    row("metadata_and_thumbnail", Best(runs, [&] {
            Bytes bytes = turned.bytes;
            return Timed([&] {
                rotate::UpdateExifAfterTurn(bytes, rotate::QuarterTurns::One, turned.width,
                                            turned.height);
                jpeg::MemoryFile file(std::move(bytes));
                exif::PatchOrientation(file, 1);
            });
        }));
    const exif::ExifData exif = exif::ReadJpegExif(original);
    const auto segment = exif::FindExifSegment(original);
    if (segment && exif.thumbnailLength > 0) {
        const std::size_t at = segment->tiffStart + exif.thumbnailOffset;
        const Bytes thumbnail(original.begin() + std::ptrdiff_t(at),
                              original.begin() + std::ptrdiff_t(at + exif.thumbnailLength));
        row("embedded_thumbnail_turn", Best(runs, [&] {
                return Timed([&] { rotate::LosslessTurn(thumbnail, rotate::QuarterTurns::One); });
            }));
    }

    double flush = 0;
    platform::ReplaceCalls calls;
    calls.fsyncFile = [&flush](int fd) {
        const auto t0 = Clock::now();
        const int rc = ::fsync(fd);
        flush += Milliseconds(Clock::now() - t0);
        return rc;
    };
    calls.fsyncFolder = calls.fsyncFile;
    double write = 1e300, bestFlush = 1e300;
    for (int i = 0; i < runs; ++i) {
        WriteAll(copy, original);
        flush = 0;
        const double all = WallTimed([&] {
            if (!platform::ReplaceFileContents(copy, turned.bytes, calls).result.ok()) std::exit(1);
        });
        write = std::min(write, all - flush);
        bestFlush = std::min(bestFlush, flush);
    }
    row("write", write);
    row("flush", bestFlush);
    row("whole_turn_of_the_file", Best(runs, [&] {
            WriteAll(copy, original);
            return WallTimed([&] {
                const platform::Result done =
                    rotate::TurnJpegFile(copy, rotate::QuarterTurns::One, 1);
                if (!done.ok())
                    std::cerr << "turn failed: "
                              << session::RenderEnglish(session::ReasonOf(done),
                                                        [](const std::string& s) { return s; })
                              << "\n",
                        std::exit(1);
            });
        }));
    std::filesystem::remove(copy);
    return 0;
}
