// SPDX-License-Identifier: GPL-3.0-or-later
#include "exif/xmp.h"

#include <algorithm>
#include <cstring>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

namespace exif {
namespace {

constexpr std::string_view kXmpHeader{"http://ns.adobe.com/xap/1.0/\0", kXmpHeaderSize};
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

// The value of the occurrence of `name` at `at`, whichever form it has.
std::optional<Digits> ValueAt(std::span<const std::uint8_t> text, std::size_t at,
                              std::string_view name = kName) {
    const std::size_t afterName = at + name.size();
    if (at > 0 && text[at - 1] == '<') { // element form
        const std::size_t close = SkipSpaces(text, afterName);
        if (close >= text.size() || text[close] != '>') return std::nullopt;
        return DigitsBefore(text, close + 1, "</" + std::string(name));
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

constexpr std::string_view kDirectory{"Container:Directory"};
constexpr std::string_view kItem{"<Container:Item"};
constexpr std::string_view kLength{"Item:Length"};
// A length beyond this is no image of a JPEG file; its digits are left alone.
constexpr std::size_t kMaxLengthDigits = 12;

std::optional<std::uint64_t> NumberOf(std::string_view packet, const Digits& digits) {
    if (digits.end - digits.begin > kMaxLengthDigits) return std::nullopt;
    std::uint64_t value = 0;
    for (std::size_t i = digits.begin; i < digits.end; ++i)
        value = value * 10 + std::uint64_t(packet[i] - '0');
    return value;
}

// The Item:Length values of the directory's items after the first, in packet order.
std::vector<Digits> ItemLengths(std::string_view packet) {
    std::vector<Digits> lengths;
    const std::size_t open = packet.find("<" + std::string(kDirectory));
    if (open == std::string_view::npos) return lengths;
    const std::size_t close = packet.find("</" + std::string(kDirectory), open);
    const std::string_view directory =
        packet.substr(0, close == std::string_view::npos ? packet.size() : close);
    const std::span<const std::uint8_t> bytes(
        reinterpret_cast<const std::uint8_t*>(directory.data()), directory.size());
    std::size_t item = directory.find(kItem, open);
    if (item == std::string_view::npos) return lengths;
    item = directory.find(kItem, item + 1); // the first item is the main image
    while (item != std::string_view::npos) {
        const std::size_t next = directory.find(kItem, item + 1);
        const std::size_t end = next == std::string_view::npos ? directory.size() : next;
        for (std::size_t at = directory.find(kLength, item); at < end;
             at = directory.find(kLength, at + 1)) {
            if (const std::optional<Digits> digits = ValueAt(bytes, at, kLength)) {
                lengths.push_back(*digits);
                break;
            }
        }
        item = next;
    }
    return lengths;
}

} // namespace

std::optional<std::string> FollowContainerLengths(std::string_view packet,
                                                  std::span<const ImageResize> images) {
    std::string out;
    std::size_t copied = 0, nextImage = 0;
    bool changed = false;
    for (const Digits& digits : ItemLengths(packet)) {
        const std::optional<std::uint64_t> length = NumberOf(packet, digits);
        if (!length) continue;
        std::size_t k = nextImage;
        while (k < images.size() && images[k].before != *length)
            ++k;
        if (k == images.size()) continue; // not an image that was turned
        nextImage = k + 1;
        out.append(packet.substr(copied, digits.begin - copied));
        out.append(std::to_string(images[k].after));
        copied = digits.end;
        changed = true;
    }
    if (!changed) return std::nullopt;
    out.append(packet.substr(copied));
    return out;
}

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

} // namespace exif
