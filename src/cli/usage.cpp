// SPDX-License-Identifier: GPL-3.0-or-later
#include "cli/usage.h"

#include <cstdio>

namespace cli {

namespace {

const char* const kUsageText =
    "usage: tulvex-cli rotate [--crop] [--keep-time] left|right|180 FILE...\n"
    "       tulvex-cli auto [--recursive] [--keep-time] [--crop] FOLDER\n"
    "       tulvex-cli undo\n"
    "       tulvex-cli redo\n"
    "       tulvex-cli orientation [--set N] FILE...\n"
    "       tulvex-cli exif FILE...\n"
    "       tulvex-cli thumbnails [--low] [--cell W] [--recursive] FOLDER [--out DIR]\n"
    "       tulvex-cli --version | --help\n";

} // namespace

int Usage(const char* problem) {
    if (problem) std::fprintf(stderr, "tulvex-cli: %s\n", problem);
    std::fputs(kUsageText, stderr);
    return kUsage;
}

int Help() {
    std::fputs(kUsageText, stdout);
    std::fputs(
        "\nExit status: 0 all went well, 1 some photo failed, 2 bad usage. See tulvex-cli(1).\n",
        stdout);
    return kOk;
}

} // namespace cli
