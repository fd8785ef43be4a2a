// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include "rotate/transform.h"
#include "support/jpeg_factory.h"

#include <unistd.h>

#include <cerrno>
#include <string>

#include "platform/file_io.h"
#include "platform/safe_replace.h"

namespace testing_support {

// Turns a hard-linked `photo` into `next` with the rewrite failing, and the putting back of the
// old contents failing too: what is left is the photo (for the caller to tear as a crash would)
// and the complete kept copy, whose path is returned.
inline std::string InterruptedLinkedTurn(const std::string& photo, const Bytes& next) {
    int fsyncs = 0;
    platform::ReplaceCalls calls;
    // The copy's own flush succeeds; every one after it fails.
    calls.fsyncFile = [&fsyncs](int fd) {
        ::fsync(fd);
        if (++fsyncs < 2) return 0;
        errno = EIO;
        return -1;
    };
    return platform::ReplaceFileContents(photo, next, calls).keptCopy;
}

// A rewrite from `old` to `next` cut short: the new bytes written from the start, the size not
// yet what it is to be.
inline Bytes TornRewrite(const Bytes& old, const Bytes& next) {
    if (next.size() < old.size()) {
        Bytes torn = next;
        torn.insert(torn.end(), old.begin() + std::ptrdiff_t(next.size()), old.end());
        return torn;
    }
    return Bytes(next.begin(), next.begin() + std::ptrdiff_t((old.size() + next.size()) / 2));
}

// What a turn of the hard-linked `photo` by `turns` leaves when it is killed during the rewrite:
// the complete turned bytes in a kept copy beside it, and the photo rewritten part way. `kept`
// is empty when the photo could not be turned.
struct InterruptedTurn {
    Bytes complete;
    std::string kept;
};
inline InterruptedTurn InterruptLinkedTurn(const std::string& photo, rotate::QuarterTurns turns) {
    InterruptedTurn left;
    const Bytes old = ReadFile(photo);
    if (!rotate::TurnJpegBytes(old, turns, std::nullopt, true, left.complete).ok()) return left;
    left.kept = InterruptedLinkedTurn(photo, left.complete);
    if (!left.kept.empty()) WriteFile(photo, TornRewrite(old, left.complete));
    return left;
}

} // namespace testing_support
