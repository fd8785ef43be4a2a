// SPDX-License-Identifier: GPL-3.0-or-later
// What the shell tests of kept copies need made, run as whichever user the test chooses:
//   jpeg PATH [W H]       a photo, small unless its size is given
//   forge FOLDER NAME     a copy named like ours whose record names FOLDER/NAME as it is now
//   interrupt PHOTO       a turn of the hard-linked PHOTO killed during its rewrite
#include "rotate/transform.h"
#include "support/jpeg_factory.h"
#include "support/kept_copy.h"

#include <cstdio>
#include <string>
#include <sys/stat.h>

#include "platform/kept_copy.h"

using namespace testing_support;

namespace {

int Forge(const std::string& folder, const std::string& name) {
    const std::string target = folder + "/" + name;
    struct stat st {};
    if (::stat(target.c_str(), &st) != 0) return 1;
    const Bytes old = ReadFile(target), payload = MakeJpeg(40, 40);
    Bytes copy = payload;
    const Bytes record = platform::kept::Encode(platform::kept::MakeRecord(
        std::uint64_t(st.st_dev), std::uint64_t(st.st_ino), name, old, payload));
    copy.insert(copy.end(), record.begin(), record.end());
    const std::string path = folder + "/.z.tulvex-keep-BBBBBB";
    WriteFile(path, copy);
    // Writable by its maker alone, as our own copies are: only its owner can give it away.
    return ::chmod(path.c_str(), 0600) == 0 ? 0 : 1;
}

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
    if (command == "forge" && argc == 4) return Forge(argv[2], argv[3]);
    if (command == "interrupt" && argc == 3) return Interrupt(argv[2]);
    std::fprintf(stderr, "usage: %s jpeg PATH [W H] | forge FOLDER NAME | interrupt PHOTO\n",
                 argv[0]);
    return 2;
}
