// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include <QString>

#include <string>

#include "platform/result.h"

namespace cli {

// Text as one printable line: control characters (C0, DEL, C1 and the Unicode line and paragraph
// separators), a backslash and bytes that are not UTF-8 are written as C escapes, so that a name
// holding a line break reads as one name.
std::string Printable(const std::string& bytes);

// A name as it is printed: in the file system's encoding, escaped to one line.
std::string Local(const QString& s);

} // namespace cli

namespace session {
struct Message;
}

namespace cli {

// A sentence of the message table in English, its names escaped to one line.
std::string English(const session::Message& message);
// Why `result` ended as it did, in English.
std::string Reason(const platform::Result& result);

} // namespace cli
