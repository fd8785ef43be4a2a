// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include <QString>

#include "platform/result.h"

namespace cli {

// Ok when a photo file that can be read stands at `path`; else what stands there instead.
platform::Result NotAPhotoFile(const QString& path);

// Ok when a folder stands at `path`; else what stands there instead.
platform::Result NotAFolder(const QString& path);

} // namespace cli
