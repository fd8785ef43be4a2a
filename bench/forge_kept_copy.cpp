// SPDX-License-Identifier: GPL-3.0-or-later
// What another user of a shared folder can write: a kept copy whose record names a file of the
// folder it has no right to write, with that file's true identity and contents, so that finishing
// the "interrupted turn" would put PAYLOAD in its place (bench/safety.sh runs it):
//   tulvex_forge_kept_copy TARGET PAYLOAD OUT
// OUT receives PAYLOAD followed by the record; the one who writes it into the folder is the forger.
#include "session/messages.h"

#include <cstdio>
#include <filesystem>
#include <string>
#include <sys/stat.h>
#include <vector>

#include "platform/file_io.h"
#include "platform/kept_copy.h"

namespace {

bool Load(const std::string& path, std::vector<std::uint8_t>& bytes) {
    const platform::Result read =
        platform::ReadFileBytes(path, bytes, platform::kept::kMaxPhotoBytes);
    if (!read.ok())
        std::fprintf(stderr, "%s: %s\n", path.c_str(),
                     session::RenderEnglish(session::ReasonOf(read), [](const std::string& s) {
                         return s;
                     }).c_str());
    return read.ok();
}

} // namespace

int main(int argc, char** argv) {
    if (argc != 4) {
        std::fputs("usage: tulvex_forge_kept_copy TARGET PAYLOAD OUT\n", stderr);
        return 2;
    }
    const std::string target = argv[1], payload = argv[2], out = argv[3];
    std::vector<std::uint8_t> old, forged;
    if (!Load(target, old) || !Load(payload, forged)) return 1;
    struct stat st {};
    if (::stat(target.c_str(), &st) != 0) {
        std::perror(target.c_str());
        return 1;
    }
    const std::string name = std::filesystem::path(target).filename().string();
    const platform::kept::Record record = platform::kept::MakeRecord(
        std::uint64_t(st.st_dev), std::uint64_t(st.st_ino), name, old, forged);
    std::vector<std::uint8_t> file = forged;
    const std::vector<std::uint8_t> encoded = platform::kept::Encode(record);
    file.insert(file.end(), encoded.begin(), encoded.end());
    std::FILE* f = std::fopen(out.c_str(), "wb");
    const bool written = f && std::fwrite(file.data(), 1, file.size(), f) == file.size();
    if (!f || std::fclose(f) != 0 || !written) {
        std::perror(out.c_str());
        return 1;
    }
    return 0;
}
