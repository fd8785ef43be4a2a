// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include <QString>

namespace lang {

// Wraps `text` so that lines stay within `maxColumn` characters where a space, hyphen or tab
// allows it. The break character stays at the end of its line; CR LF is inserted; existing
// CR LF are kept; nothing inside a '...' or "..." stretch is broken.
QString WrapText(const QString& text, int maxColumn = 50);

} // namespace lang
