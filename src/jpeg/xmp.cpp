// SPDX-License-Identifier: GPL-3.0-or-later
#include "jpeg/xmp.h"

#include <algorithm>
#include <cstring>
#include <optional>
#include <string>
#include <string_view>

namespace jpeg {
namespace {

constexpr std::string_view kXmpHeader{"http://ns.adobe.com/xap/1.0/\0", 29};
constexpr std::string_view kName{"tiff:Orientation"};

bool IsSpace(std::uint8_t c) {
    return c == ' ' || c == '\t' || c == '\r' || c == '\n';
}
bool IsDigit(std::uint8_t c) {
    return c >= '0' && c <= '9';
}

std::size_t SkipSpaces(std::span<const std::uint8_t> text, std::size_t pos) {
    while (pos < text.size() && IsSpace(text[pos]))
        ++pos;
    return pos;
}

struct Digits {
    std::size_t begin = 0, end = 0;
};

// The digits at `pos` (after spaces) when they are followed, after spaces, by `closing`.
std::optional<Digits> DigitsBefore(std::span<const std::uint8_t> text, std::size_t pos,
                                   std::string_view closing) {
    Digits digits;
    digits.begin = SkipSpaces(text, pos);
    digits.end = digits.begin;
    while (digits.end < text.size() && IsDigit(text[digits.end]))
        ++digits.end;
    if (digits.end == digits.begin) return std::nullopt;
    const std::size_t after = SkipSpaces(text, digits.end);
    if (closing.size() > text.size() - after ||
        std::memcmp(text.data() + after, closing.data(), closing.size()) != 0)
        return std::nullopt;
    return digits;
}

// The value of the occurrence of the name at `at`, whichever form it has.
std::optional<Digits> ValueAt(std::span<const std::uint8_t> text, std::size_t at) {
    const std::size_t afterName = at + kName.size();
    if (at > 0 && text[at - 1] == '<') { // element form
        const std::size_t close = SkipSpaces(text, afterName);
        if (close >= text.size() || text[close] != '>') return std::nullopt;
        return DigitsBefore(text, close + 1, "</tiff:Orientation");
    }
    if (at == 0 || !IsSpace(text[at - 1])) return std::nullopt; // "</tiff:..." or a longer name
    std::size_t pos = SkipSpaces(text, afterName);
    if (pos >= text.size() || text[pos] != '=') return std::nullopt;
    pos = SkipSpaces(text, pos + 1);
    if (pos >= text.size() || (text[pos] != '"' && text[pos] != '\'')) return std::nullopt;
    const char quote[2] = {char(text[pos]), 0};
    return DigitsBefore(text, pos + 1, quote);
}

bool WriteDigits(std::span<std::uint8_t> text, const Digits& digits, std::uint16_t value) {
    const std::string number = std::to_string(value);
    const std::size_t width = digits.end - digits.begin;
    if (number.size() > width) return false;
    std::fill(text.begin() + std::ptrdiff_t(digits.begin),
              text.begin() + std::ptrdiff_t(digits.end), '0');
    std::copy(number.begin(), number.end(),
              text.begin() + std::ptrdiff_t(digits.end - number.size()));
    return true;
}

} // namespace

bool IsXmpPayload(std::span<const std::uint8_t> payload) {
    return payload.size() >= kXmpHeader.size() &&
           std::memcmp(payload.data(), kXmpHeader.data(), kXmpHeader.size()) == 0;
}

int PatchXmpOrientation(std::span<std::uint8_t> packet, std::uint16_t value) {
    int patched = 0;
    const std::string_view text(reinterpret_cast<const char*>(packet.data()), packet.size());
    for (std::size_t at = text.find(kName); at != std::string_view::npos;
         at = text.find(kName, at + 1)) {
        const std::optional<Digits> digits = ValueAt(packet, at);
        if (digits && WriteDigits(packet, *digits, value)) ++patched;
    }
    return patched;
}

} // namespace jpeg
