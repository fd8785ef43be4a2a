// SPDX-License-Identifier: GPL-3.0-or-later
#include "cli/path_text.h"

#include "session/path_check.h"

namespace cli {

using Found = session::PathCheck::Found;

platform::Result NotAPhotoFile(const QString& path) {
    return session::CheckPath(path).result;
}

platform::Result NotAFolder(const QString& path) {
    const session::PathCheck check = session::CheckPath(path);
    if (check.found == Found::Folder) return {};
    if (check.found == Found::ReadableFile)
        return platform::Result::Failure(platform::Result::Kind::Unsupported,
                                         platform::Why::IsFile);
    return check.result;
}

} // namespace cli
