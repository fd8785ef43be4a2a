// SPDX-License-Identifier: GPL-3.0-or-later
#include "rotate/turn_memory.h"

#include <algorithm>
#include <charconv>
#include <cstdio>
#include <cstdlib>
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
    const std::optional<std::uint64_t> amount = LeadingNumber(value);
    if (!amount || *amount == 0) return std::nullopt;
    value = TrimSpaces(value);
    // An amount too large to shift is more than any machine has: it saturates, never wraps.
    const auto scaled = [&](int shift) { return std::min(*amount, kMaxAmount >> shift) << shift; };
    if (value.empty() || value == "M" || value == "MB") return scaled(20);
    if (value == "G" || value == "GB") return scaled(30);
    return std::nullopt;
}

std::uint64_t TurnMemoryLimit(std::optional<std::uint64_t> available, std::uint64_t cap) {
    if (!available) return std::min(kTurnMemoryWithoutMeminfo, cap);
    const std::uint64_t margin = kMarginBytes + *available / kMarginShare;
    return std::min(std::max(*available > margin ? *available - margin : 0, kTurnMemoryFloor), cap);
}

std::uint64_t TurnMemoryLimitNow() {
    const char* variable = std::getenv(kTurnMemoryVariable);
    const std::uint64_t cap =
        (variable ? ParseTurnMemoryCap(variable) : std::nullopt).value_or(kDefaultTurnMemoryCap);
    return TurnMemoryLimit(ParseMemAvailable(ReadMeminfo()), cap);
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
