// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

namespace cli {

// The exit status: all went well, some photo failed, bad usage.
constexpr int kOk = 0;
constexpr int kSomeFailed = 1;
constexpr int kUsage = 2;

// The usage to standard error after `problem` (if any); kUsage.
int Usage(const char* problem = nullptr);
// The usage and the exit statuses to standard output; kOk.
int Help();

} // namespace cli
