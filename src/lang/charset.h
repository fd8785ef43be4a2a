// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include <QByteArrayView>
#include <QString>

namespace lang {

// Well-formed UTF-8: no overlong forms, no surrogates, nothing above U+10FFFF, no cut sequence.
bool IsValidUtf8(QByteArrayView bytes);

// Windows-1252: Latin-1 with printable characters in 0x80-0x9F; the five bytes it leaves
// undefined keep their C1 code points.
QString DecodeWindows1252(QByteArrayView bytes);

// Text of unknown 8-bit encoding, as cameras and older editors write it: UTF-8 when the bytes
// are valid UTF-8 (so plain ASCII too), else Windows-1252.
QString DecodeUtf8OrWindows1252(QByteArrayView bytes);

// A language file's text: a UTF-8 byte-order mark means UTF-8 (the mark dropped); otherwise as
// DecodeUtf8OrWindows1252.
QString DecodeLanguageText(QByteArrayView bytes);

} // namespace lang
