// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include "cli/options.h"

namespace cli {

// tulvex-cli orientation: prints the stored orientation of each photo, after setting it.
int CmdOrientation(const Options& o);
// tulvex-cli exif: prints the Exif rows of each photo.
int CmdExif(const Options& o);

} // namespace cli
