// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

namespace platform {

// For a process that makes many thumbnails, called before its decoding threads start: keeps
// the allocator from handing the pages of each decoded image back to the system only to fault
// them in again for the next one.
void KeepImageBuffersMapped();

// For a process that turns several photos, before its threads start: the coefficients of one
// turn (tens of megabytes) are kept for the next, on any thread, instead of being unmapped and
// faulted in, zeroed, again.
void KeepTurnBuffersMapped();

} // namespace platform
