// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include "cli/options.h"

namespace cli {

// tulvex-cli thumbnails: makes the thumbnails of a folder's photos, written to --out if given.
int CmdThumbnails(const Options& o);

} // namespace cli
