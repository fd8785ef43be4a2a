// SPDX-License-Identifier: GPL-3.0-or-later
#include "rotate/turn_memory.h"

#include <algorithm>
#include <charconv>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <fstream>
#include <limits>

namespace rotate {
namespace {

// /proc/meminfo is a few kilobytes; more than this is not that file.
constexpr std::size_t kMaxMeminfoBytes = 64 * 1024;
// Left for the window, the thumbnails and the other programs: a fixed part and a share.
constexpr std::uint64_t kMarginBytes = std::uint64_t(256) << 20;
constexpr std::uint64_t kMarginShare = 8;
constexpr std::uint64_t kMaxAmount = std::uint64_t(1) << 50;
// A billionth of a terabyte is a kilobyte: nobody writes more digits after the point.
constexpr std::size_t kMaxFractionDigits = 9;
constexpr std::size_t kMaxQuoted = 64;

std::string_view TrimSpaces(std::string_view text) {
    while (!text.empty() && (text.front() == ' ' || text.front() == '\t'))
        text.remove_prefix(1);
    while (!text.empty() && (text.back() == ' ' || text.back() == '\t' || text.back() == '\r'))
        text.remove_suffix(1);
    return text;
}

// A decimal number at the start of `text`, and what follows it.
std::optional<std::uint64_t> LeadingNumber(std::string_view& text) {
    std::uint64_t value = 0;
    const auto [end, error] = std::from_chars(text.data(), text.data() + text.size(), value);
    if (error != std::errc() || value > kMaxAmount) return std::nullopt;
    text.remove_prefix(std::size_t(end - text.data()));
    return value;
}

bool IsDigit(char c) {
    return c >= '0' && c <= '9';
}

// The digits after a decimal point, as digits / scale; at least one, and no more than make sense.
struct Fraction {
    std::uint64_t digits = 0;
    std::uint64_t scale = 1;
};
std::optional<Fraction> LeadingFraction(std::string_view& text) {
    Fraction fraction;
    std::size_t count = 0;
    for (; count < text.size() && IsDigit(text[count]); ++count) {
        if (count == kMaxFractionDigits) return std::nullopt;
        fraction.digits = fraction.digits * 10 + std::uint64_t(text[count] - '0');
        fraction.scale *= 10;
    }
    if (count == 0) return std::nullopt;
    text.remove_prefix(count);
    return fraction;
}

char Lower(char c) {
    return c >= 'A' && c <= 'Z' ? char(c - 'A' + 'a') : c;
}

// The power of two a unit stands for: megabytes when there is none; nullopt for no unit.
std::optional<int> UnitShift(std::string_view unit) {
    if (unit.empty()) return 20;
    int shift = 0;
    switch (Lower(unit.front())) {
    case 'k':
        shift = 10;
        break;
    case 'm':
        shift = 20;
        break;
    case 'g':
        shift = 30;
        break;
    case 't':
        shift = 40;
        break;
    default:
        return std::nullopt;
    }
    unit.remove_prefix(1);
    const auto is = [&](std::string_view suffix) {
        return unit.size() == suffix.size() &&
               std::equal(unit.begin(), unit.end(), suffix.begin(),
                          [](char a, char b) { return Lower(a) == b; });
    };
    if (unit.empty() || is("b") || is("ib")) return shift;
    return std::nullopt;
}

std::string ReadMeminfo() {
    std::ifstream file("/proc/meminfo", std::ios::binary);
    std::string text(kMaxMeminfoBytes, '\0');
    file.read(text.data(), std::streamsize(text.size()));
    text.resize(std::size_t(std::max<std::streamsize>(file.gcount(), 0)));
    return text;
}

} // namespace

std::optional<std::uint64_t> ParseMemAvailable(std::string_view meminfo) {
    constexpr std::string_view kKey = "MemAvailable:";
    while (!meminfo.empty()) {
        const std::size_t end = std::min(meminfo.find('\n'), meminfo.size());
        std::string_view line = meminfo.substr(0, end);
        meminfo.remove_prefix(std::min(end + 1, meminfo.size()));
        if (!line.starts_with(kKey)) continue;
        line = TrimSpaces(line.substr(kKey.size()));
        const std::optional<std::uint64_t> kilobytes = LeadingNumber(line);
        if (!kilobytes || TrimSpaces(line) != "kB") return std::nullopt;
        return *kilobytes * 1024;
    }
    return std::nullopt;
}

std::optional<std::uint64_t> ParseTurnMemoryCap(std::string_view value) {
    value = TrimSpaces(value);
    if (value.empty() || !IsDigit(value.front())) return std::nullopt; // no sign, no ".5"
    const std::optional<std::uint64_t> whole = LeadingNumber(value);
    if (!whole) return std::nullopt;
    Fraction fraction;
    if (value.starts_with('.')) {
        value.remove_prefix(1);
        const std::optional<Fraction> digits = LeadingFraction(value);
        if (!digits) return std::nullopt;
        fraction = *digits;
    }
    const std::optional<int> shift = UnitShift(TrimSpaces(value));
    if (!shift) return std::nullopt;
    // An amount too large to shift is more than any machine has: it saturates, never wraps.
    const auto part = static_cast<std::uint64_t>(
        (static_cast<unsigned __int128>(fraction.digits) << *shift) / fraction.scale);
    const std::uint64_t bytes = (std::min(*whole, kMaxAmount >> *shift) << *shift) + part;
    if (bytes == 0) return std::nullopt;
    return std::min(bytes, kMaxAmount);
}

AmountSetting AmountSettingOf(const char* variable, std::uint64_t fallback) {
    if (!variable) return {fallback, {}};
    if (const std::optional<std::uint64_t> bytes = ParseTurnMemoryCap(variable))
        return {*bytes, {}};
    // Bounded, so that a message quoting it stays a message.
    return {fallback, std::string(variable, ::strnlen(variable, kMaxQuoted))};
}

TurnMemoryCap TurnMemoryCapOf(const char* variable) {
    return AmountSettingOf(variable, kDefaultTurnMemoryCap);
}

TurnMemoryCap TurnMemoryCapNow() {
    return TurnMemoryCapOf(std::getenv(kTurnMemoryVariable));
}

std::string DescribeUnreadableCap(std::string_view value) {
    return std::string(kTurnMemoryVariable) + "=\"" + std::string(value) +
           "\" is no amount of memory: write megabytes (2048, 1.5) or an amount with a unit K, M, "
           "G or T (1024K, 512M, 1.5G, 2g, 512MB, 1GiB)";
}

std::uint64_t TurnMemoryLimit(std::optional<std::uint64_t> available, std::uint64_t cap) {
    if (!available) return std::min(kTurnMemoryWithoutMeminfo, cap);
    const std::uint64_t margin = kMarginBytes + *available / kMarginShare;
    return std::min(std::max(*available > margin ? *available - margin : 0, kTurnMemoryFloor), cap);
}

std::uint64_t TurnMemoryLimitNow() {
    return TurnMemoryLimit(ParseMemAvailable(ReadMeminfo()), TurnMemoryCapNow().bytes);
}

std::string DescribeMemory(std::uint64_t bytes, Rounding rounding) {
    constexpr std::uint64_t kMega = 1000 * 1000, kTenthGiga = 100 * kMega;
    const auto in = [&](std::uint64_t unit) {
        return (std::min(bytes, kMaxAmount) + (rounding == Rounding::Up ? unit - 1 : 0)) / unit;
    };
    char text[32];
    if (in(kMega) < 1000)
        std::snprintf(text, sizeof text, "%llu MB", static_cast<unsigned long long>(in(kMega)));
    else
        std::snprintf(text, sizeof text, "%.1f GB", double(in(kTenthGiga)) / 10.0);
    return text;
}

} // namespace rotate
