// SPDX-License-Identifier: GPL-3.0-or-later
#include "cli/path_text.h"

#include "session/path_check.h"

#include <cerrno>
#include <cstring>

namespace cli {

namespace {

using Found = session::PathCheck::Found;

std::string CannotBeRead(int error) {
    if (error == EACCES) return "cannot be read: permission denied";
    return std::string("cannot be read: ") + std::strerror(error);
}

// What stands at the path in words; nullopt for a readable file.
std::optional<std::string> WhatStands(const session::PathCheck& check) {
    switch (check.found) {
    case Found::ReadableFile:
        return std::nullopt;
    case Found::Nothing:
        return "no such file";
    case Found::LinkToNothing:
        return "no such file (a link to nothing)";
    case Found::Unreadable:
        return CannotBeRead(check.result.error());
    case Found::Folder:
        return "is a folder";
    case Found::Fifo:
        return "is not a regular file (FIFO)";
    case Found::Socket:
        return "is not a regular file (socket)";
    case Found::Device:
        return "is a device";
    case Found::OtherSpecial:
        break;
    }
    return "is not a regular file";
}

} // namespace

std::optional<std::string> NotAPhotoFile(const QString& path) {
    return WhatStands(session::CheckPath(path));
}

std::optional<std::string> NotAFolder(const QString& path) {
    const session::PathCheck check = session::CheckPath(path);
    if (check.found == Found::Folder) return std::nullopt;
    if (check.found == Found::ReadableFile) return "is a file, not a folder";
    return WhatStands(check);
}

} // namespace cli
