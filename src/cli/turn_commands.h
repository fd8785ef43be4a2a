// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include "cli/options.h"

namespace cli {

// tulvex-cli rotate: turns the named photos.
int CmdRotate(const Options& given);
// tulvex-cli auto: turns every photo of a folder upright by its stored orientation.
int CmdAuto(const Options& given);

} // namespace cli
