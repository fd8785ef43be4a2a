// SPDX-License-Identifier: GPL-3.0-or-later
// The kept-copy record reader: a record it accepts describes the file it was found in, and
// comparing any photo with it stays inside both.
#include <cstdlib>

#include "platform/kept_copy.h"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    const std::span<const std::uint8_t> file(data, size);
    const auto copy = platform::kept::Decode(file);
    if (!copy) return 0;
    const platform::kept::Record& record = copy->record;
    if (copy->newBytes.data() != data || copy->newBytes.size() >= size ||
        record.newSize != copy->newBytes.size() || record.targetName.find('/') != std::string::npos)
        std::abort();
    // The photo it would be compared with: the copy's own turned bytes, and its tail.
    platform::kept::Compare(record, copy->newBytes, copy->newBytes);
    platform::kept::Compare(record, copy->newBytes, file.subspan(size / 2));
    return 0;
}
