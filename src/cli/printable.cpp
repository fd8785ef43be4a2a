// SPDX-License-Identifier: GPL-3.0-or-later
#include "cli/printable.h"

#include "session/messages.h"

#include <QFile>

#include <cstdio>
#include <string_view>

namespace cli {

namespace {

// The length of the UTF-8 sequence that starts at `at`, or 0 when it is not one.
std::size_t Utf8SequenceAt(const std::string& bytes, std::size_t at) {
    const auto byte = [&](std::size_t i) { return static_cast<unsigned char>(bytes[i]); };
    const unsigned char lead = byte(at);
    std::size_t length = 0;
    unsigned char low = 0x80, high = 0xBF; // the range of the second byte
    if (lead >= 0xC2 && lead <= 0xDF) {
        length = 2;
    } else if (lead >= 0xE0 && lead <= 0xEF) {
        length = 3;
        if (lead == 0xE0) low = 0xA0;  // no overlong form
        if (lead == 0xED) high = 0x9F; // no surrogate
    } else if (lead >= 0xF0 && lead <= 0xF4) {
        length = 4;
        if (lead == 0xF0) low = 0x90;
        if (lead == 0xF4) high = 0x8F; // nothing past U+10FFFF
    }
    if (length == 0 || at + length > bytes.size()) return 0;
    if (byte(at + 1) < low || byte(at + 1) > high) return 0;
    for (std::size_t i = 2; i < length; ++i)
        if (byte(at + i) < 0x80 || byte(at + i) > 0xBF) return 0;
    return length;
}

} // namespace

std::string Printable(const std::string& bytes) {
    std::string out;
    out.reserve(bytes.size());
    const auto hex = [&out](unsigned char c) {
        char escaped[5];
        std::snprintf(escaped, sizeof escaped, "\\x%02x", c);
        out += escaped;
    };
    for (std::size_t i = 0; i < bytes.size();) {
        const auto c = static_cast<unsigned char>(bytes[i]);
        if (c < 0x80) {
            switch (c) {
            case '\\':
                out += "\\\\";
                break;
            case '\n':
                out += "\\n";
                break;
            case '\t':
                out += "\\t";
                break;
            case '\r':
                out += "\\r";
                break;
            default:
                if (c < 0x20 || c == 0x7F)
                    hex(c);
                else
                    out += char(c);
            }
            ++i;
            continue;
        }
        const std::size_t length = Utf8SequenceAt(bytes, i);
        const std::string_view sequence(bytes.data() + i, length);
        const bool control =
            length == 2 && c == 0xC2 && static_cast<unsigned char>(bytes[i + 1]) < 0xA0;
        const bool separator = sequence == "\xE2\x80\xA8" || sequence == "\xE2\x80\xA9";
        if (length == 0) {
            hex(c);
            ++i;
        } else if (control || separator) {
            for (const char b : sequence)
                hex(static_cast<unsigned char>(b));
            i += length;
        } else {
            out += sequence;
            i += length;
        }
    }
    return out;
}

std::string Local(const QString& s) {
    return Printable(QFile::encodeName(s).toStdString());
}

std::string English(const session::Message& message) {
    return session::RenderEnglish(message, Printable);
}

std::string Reason(const platform::Result& result) {
    return English(session::ReasonOf(result));
}

} // namespace cli
