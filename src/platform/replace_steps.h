// SPDX-License-Identifier: GPL-3.0-or-later
// Steps of a replacement that finishing a kept copy takes again; for platform's own files only.
#pragma once

#include <cstdint>
#include <span>
#include <string>
#include <sys/stat.h>

#include "platform/result.h"

namespace platform {
struct ReplaceCalls;
}

namespace platform::replace_steps {

std::string FolderOf(const std::string& path);
std::string BaseNameOf(const std::string& path);
bool SameFile(const struct stat& a, const struct stat& b);
int ReserveForRewrite(int fd, std::span<const std::uint8_t> bytes, std::uint64_t oldSize,
                      const ReplaceCalls& calls);
// Without the flush.
int PutWhole(int fd, std::span<const std::uint8_t> bytes, const ReplaceCalls& calls);
int WriteWhole(int fd, std::span<const std::uint8_t> bytes, const ReplaceCalls& calls);
Result NoSpace(int error);

} // namespace platform::replace_steps
