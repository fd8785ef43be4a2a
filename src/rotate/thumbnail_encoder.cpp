// SPDX-License-Identifier: GPL-3.0-or-later
#include "rotate/thumbnail_encoder.h"

#include "jpeg/error_manager.h"
#include "jpeg/quant_tables.h"

// clang-format off
#include <cstdio> // ahead of jpeglib.h, which needs FILE
#include <jpeglib.h>
// clang-format on

#include <csetjmp>
#include <cstdlib>
#include <memory>
#include <utility>

// libjpeg leaves an error by longjmp: everything with a destructor belongs to the Encoder, made
// before the jump point, and only C calls run after it.

namespace rotate {
namespace {

struct Encoder {
    // A damaged model gives what it can, as libjpeg does by itself.
    jpeg::ErrorManager errors{jpeg::ErrorManager::Warnings::Counted};
    jpeg_decompress_struct model{};
    jpeg_compress_struct target{};
    bool modelMade = false, targetMade = false;
    unsigned char* out = nullptr; // grown by libjpeg with malloc
    unsigned long outSize = 0;

    Encoder() = default;
    Encoder(const Encoder&) = delete;
    Encoder& operator=(const Encoder&) = delete;
    ~Encoder() {
        if (targetMade) jpeg_destroy_compress(&target);
        if (modelMade) jpeg_destroy_decompress(&model);
        std::free(out);
    }
};

// A damaged thumbnail may carry a zero divisor, which a decoder takes but an encoder divides by.
void MendZeroQuantValues(jpeg_compress_struct& target) {
    for (JQUANT_TBL* table : target.quant_tbl_ptrs) {
        if (!table) continue;
        for (UINT16& value : table->quantval)
            if (value == 0) value = 1;
    }
}

// The target takes the model's tables and sampling and is fed RGB.
void SetUp(Encoder& e, std::span<const std::uint8_t> model, int width, int height, bool quarterTurn,
           std::optional<int> quality) {
    e.model.err = &e.errors.pub;
    jpeg_create_decompress(&e.model);
    e.modelMade = true;
    jpeg_mem_src(&e.model, model.data(), static_cast<unsigned long>(model.size()));
    jpeg_read_header(&e.model, TRUE);

    e.target.err = &e.errors.pub;
    jpeg_create_compress(&e.target);
    e.targetMade = true;
    jpeg_mem_dest(&e.target, &e.out, &e.outSize);
    jpeg_copy_critical_parameters(&e.model, &e.target);
    const J_COLOR_SPACE space = e.target.jpeg_color_space;
    // RGB cannot be converted to the four-component spaces: such a model gives its tables only.
    if (space != JCS_YCbCr && space != JCS_GRAYSCALE && space != JCS_RGB)
        jpeg_set_colorspace(&e.target, JCS_YCbCr);
    e.target.image_width = JDIMENSION(width);
    e.target.image_height = JDIMENSION(height);
    e.target.input_components = 3;
    e.target.in_color_space = JCS_RGB;
    if (quality) jpeg_set_quality(&e.target, *quality, TRUE);
    if (quarterTurn) {
        for (int ci = 0; ci < e.target.num_components; ++ci)
            std::swap(e.target.comp_info[ci].h_samp_factor, e.target.comp_info[ci].v_samp_factor);
        jpeg::TransposeQuantTables(e.target);
    }
    MendZeroQuantValues(e.target);
    e.target.optimize_coding = TRUE;
    e.target.write_JFIF_header = FALSE; // an embedded thumbnail goes without, as a camera's does
}

void Encode(Encoder& e, std::span<const std::uint8_t> rgb, int width) {
    jpeg_start_compress(&e.target, TRUE);
    const std::size_t stride = std::size_t(width) * 3;
    while (e.target.next_scanline < e.target.image_height) {
        JSAMPROW row = const_cast<JSAMPROW>(rgb.data() + stride * e.target.next_scanline);
        jpeg_write_scanlines(&e.target, &row, 1);
    }
    jpeg_finish_compress(&e.target);
}

} // namespace

std::vector<std::uint8_t> EncodeLike(std::span<const std::uint8_t> model,
                                     std::span<const std::uint8_t> rgb, int width, int height,
                                     bool quarterTurn, std::optional<int> quality) {
    if (model.size() < 4 || width <= 0 || height <= 0 || width > JPEG_MAX_DIMENSION ||
        height > JPEG_MAX_DIMENSION || rgb.size() != std::size_t(width) * height * 3)
        return {};
    const auto encoder = std::make_unique<Encoder>();
    Encoder* e = encoder.get();
    if (setjmp(e->errors.jump) != 0) return {};
    SetUp(*e, model, width, height, quarterTurn, quality);
    Encode(*e, rgb, width);
    return {e->out, e->out + e->outSize};
}

} // namespace rotate
