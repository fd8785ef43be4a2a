// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include <QString>

#include "platform/result.h"

namespace session {

// What stands at a path given as a photo or a folder. The window and the command line tell a
// path that is not what was meant by this one rule.
struct PathCheck {
    enum class Found {
        ReadableFile,  // a regular file that opens for reading
        Folder,        //
        Nothing,       // no such file
        LinkToNothing, // a symbolic link whose target is not there
        Unreadable,    // there, but its status or content cannot be read
        Fifo,          //
        Socket,        //
        Device,        // a character or block device
        OtherSpecial,  // any other file that is not a regular one
    };
    Found found = Found::Nothing;
    platform::Result result; // ok for a readable file; else why it is no photo file
};

// Nothing is opened that could block: a FIFO or a device is named from its status alone.
PathCheck CheckPath(const QString& path);

} // namespace session
