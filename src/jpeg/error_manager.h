// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include "platform/result.h"

// clang-format off
#include <cstdio> // jpeglib.h needs FILE
#include <jpeglib.h>
// clang-format on

#include <csetjmp>

namespace jpeg {

// The error manager of every libjpeg object of the core. libjpeg reports an error through a
// callback that must not return: this one keeps the error's kind and reason and leaves by longjmp
// to the point its owner set with setjmp(jump). So the functions libjpeg can leave from own
// nothing with a destructor, and the owner makes everything that has one before that point.
struct ErrorManager {
    enum class Warnings {
        Counted, // as libjpeg does by itself: damaged data is decoded as far as it goes
        Fatal,   // damaged data ends the work, except what touches no picture (readingHeader)
    };

    jpeg_error_mgr pub; // first: libjpeg sees only this part
    std::jmp_buf jump;
    Warnings warnings;
    // Stray bytes between the segments ahead of the first scan and an unknown JFIF version
    // pass while this is set, even when warnings are fatal.
    bool readingHeader = false;
    platform::Result::Kind kind = platform::Result::Kind::Ok;
    platform::Why why = platform::Why::None;

    explicit ErrorManager(Warnings warnings);
    ErrorManager(const ErrorManager&) = delete;
    ErrorManager& operator=(const ErrorManager&) = delete;
};

ErrorManager& ErrorsOf(j_common_ptr cinfo);

// Leaves to the jump point as libjpeg's errors do, for a reason of the caller's own.
[[noreturn]] void Leave(ErrorManager& errors, platform::Result::Kind kind, platform::Why why);

} // namespace jpeg
