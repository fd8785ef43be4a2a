// SPDX-License-Identifier: GPL-3.0-or-later
// What the shell tests of kept copies need made, run as whichever user the test chooses:
//   jpeg PATH [W H]       a photo, small unless its size is given
//   interrupt PHOTO       a turn of the hard-linked PHOTO killed during its rewrite
#include "rotate/transform.h"
#include "support/jpeg_factory.h"
#include "support/kept_copy.h"

#include <cstdio>
#include <string>

using namespace testing_support;

namespace {

int Interrupt(const std::string& photo) {
    const InterruptedTurn left = InterruptLinkedTurn(photo, rotate::QuarterTurns::One);
    if (left.kept.empty()) return 1;
    std::printf("%s\n", left.kept.c_str());
    return 0;
}

} // namespace

int main(int argc, char** argv) {
    const std::string command = argc > 1 ? argv[1] : "";
    if (command == "jpeg" && (argc == 3 || argc == 5)) {
        WriteFile(argv[2],
                  argc == 5 ? MakeJpeg(std::stoi(argv[3]), std::stoi(argv[4])) : MakeJpeg(64, 48));
        return 0;
    }
    if (command == "interrupt" && argc == 3) return Interrupt(argv[2]);
    std::fprintf(stderr, "usage: %s jpeg PATH [W H] | interrupt PHOTO\n", argv[0]);
    return 2;
}
