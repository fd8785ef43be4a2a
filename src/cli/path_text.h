// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include <QString>

#include <optional>
#include <string>

namespace cli {

// What stands at `path` when it is not a photo file that can be read; nullopt when it is one.
std::optional<std::string> NotAPhotoFile(const QString& path);

// What stands at `path` when it is not a folder; nullopt when it is one.
std::optional<std::string> NotAFolder(const QString& path);

} // namespace cli
