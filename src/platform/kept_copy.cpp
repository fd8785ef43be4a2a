// SPDX-License-Identifier: GPL-3.0-or-later
#include "platform/kept_copy.h"

#include <algorithm>
#include <cstring>
#include <sys/random.h>

#include "platform/record_bytes.h"

namespace platform::kept {
namespace {

constexpr std::uint64_t kPage = 4096;
constexpr std::uint8_t kMagic[8] = {'T', 'V', 'X', 'K', 'E', 'E', 'P', 1};
constexpr std::size_t kFooterSize = 8 + 8 + sizeof(kMagic);
constexpr std::uint32_t kVersion = 1;
constexpr std::size_t kMaxName = 255;
constexpr std::uint64_t kPieceSeed = 0x6b65707470696563ull;
constexpr std::uint64_t kRecordSeed = 0x6b6570747265636full;

std::uint64_t Finish(std::uint64_t h) {
    h ^= h >> 33;
    h *= 0xff51afd7ed558ccdull;
    h ^= h >> 33;
    h *= 0xc4ceb9fe1a85ec53ull;
    return h ^ (h >> 33);
}

// Not a defence against a forger (one who can write here can write the photo); it tells a torn
// piece of that very turn from any other contents.
std::uint64_t Hash(std::span<const std::uint8_t> bytes, std::uint64_t seed) {
    std::uint64_t h = seed ^ (bytes.size() * 0x9e3779b97f4a7c15ull);
    std::size_t i = 0;
    for (; i + 8 <= bytes.size(); i += 8) {
        std::uint64_t word;
        std::memcpy(&word, bytes.data() + i, 8);
        h ^= word * 0x87c37b91114253d5ull;
        h = ((h << 31) | (h >> 33)) * 0x4cf5ad432745937full;
    }
    std::uint64_t tail = 0;
    for (std::size_t shift = 0; i < bytes.size(); ++i, shift += 8)
        tail |= std::uint64_t(bytes[i]) << shift;
    return Finish(h ^ tail);
}

// Where the piece that starts at `at` ends: the next page, or a size that lies inside it.
std::uint64_t PieceEnd(std::uint64_t at, std::uint64_t limit, std::uint64_t oldSize,
                       std::uint64_t newSize) {
    std::uint64_t end = std::min((at / kPage + 1) * kPage, limit);
    if (at < oldSize && oldSize < end) end = oldSize;
    if (at < newSize && newSize < end) end = newSize;
    return end;
}

std::uint64_t PieceCount(std::uint64_t oldSize, std::uint64_t newSize) {
    std::uint64_t count = (oldSize + kPage - 1) / kPage;
    if (newSize < oldSize && newSize % kPage != 0) ++count;
    return count;
}

void Put(std::vector<std::uint8_t>& out, std::uint64_t value, int bytes) {
    PutLittleEndian(out, value, bytes);
}

bool IsPlainName(const std::string& name) {
    return !name.empty() && name.size() <= kMaxName && name != "." && name != ".." &&
           name.find('/') == std::string::npos && name.find('\0') == std::string::npos;
}

std::optional<Record> ParseRecord(std::span<const std::uint8_t> bytes) {
    RecordReader in(bytes);
    Record r;
    std::uint64_t version = 0, nameLength = 0, hashCount = 0;
    if (!in.get(version, 4) || version != kVersion || !in.get(r.device, 8) || !in.get(r.inode, 8))
        return std::nullopt;
    const auto id = in.take(r.turnId.size());
    if (!id) return std::nullopt;
    std::copy(id->begin(), id->end(), r.turnId.begin());
    if (!in.get(r.oldSize, 8) || !in.get(r.newSize, 8) || r.oldSize > kMaxPhotoBytes ||
        r.newSize > kMaxPhotoBytes || !in.get(nameLength, 4) || nameLength > kMaxName)
        return std::nullopt;
    const auto name = in.take(nameLength);
    if (!name) return std::nullopt;
    r.targetName.assign(name->begin(), name->end());
    if (!IsPlainName(r.targetName) || !in.get(hashCount, 4) ||
        hashCount != PieceCount(r.oldSize, r.newSize))
        return std::nullopt;
    r.oldHashes.resize(std::size_t(hashCount));
    for (std::uint64_t& h : r.oldHashes)
        if (!in.get(h, 8)) return std::nullopt;
    if (!in.atEnd()) return std::nullopt;
    return r;
}

} // namespace

Record MakeRecord(std::uint64_t device, std::uint64_t inode, const std::string& targetName,
                  std::span<const std::uint8_t> oldBytes, std::span<const std::uint8_t> newBytes) {
    Record r;
    r.device = device;
    r.inode = inode;
    r.targetName = targetName;
    r.oldSize = oldBytes.size();
    r.newSize = newBytes.size();
    // Tells two turns of one photo apart; a weak id (no entropy yet) costs nothing here.
    if (::getrandom(r.turnId.data(), r.turnId.size(), GRND_NONBLOCK) != ssize_t(r.turnId.size()))
        r.turnId.fill(0);
    for (std::uint64_t at = 0; at < r.oldSize;) {
        const std::uint64_t end = PieceEnd(at, r.oldSize, r.oldSize, r.newSize);
        r.oldHashes.push_back(Hash(oldBytes.subspan(at, end - at), kPieceSeed));
        at = end;
    }
    return r;
}

std::vector<std::uint8_t> Encode(const Record& r) {
    std::vector<std::uint8_t> out;
    Put(out, kVersion, 4);
    Put(out, r.device, 8);
    Put(out, r.inode, 8);
    out.insert(out.end(), r.turnId.begin(), r.turnId.end());
    Put(out, r.oldSize, 8);
    Put(out, r.newSize, 8);
    Put(out, r.targetName.size(), 4);
    out.insert(out.end(), r.targetName.begin(), r.targetName.end());
    Put(out, r.oldHashes.size(), 4);
    for (const std::uint64_t h : r.oldHashes)
        Put(out, h, 8);
    const std::uint64_t length = out.size();
    Put(out, length, 8);
    Put(out, Hash({out.data(), std::size_t(length)}, kRecordSeed), 8);
    out.insert(out.end(), std::begin(kMagic), std::end(kMagic));
    return out;
}

std::optional<Decoded> Decode(std::span<const std::uint8_t> file) {
    if (file.size() < kFooterSize) return std::nullopt;
    const auto footer = file.subspan(file.size() - kFooterSize);
    if (!std::equal(std::begin(kMagic), std::end(kMagic), footer.end() - sizeof(kMagic)))
        return std::nullopt;
    std::uint64_t length = 0, checksum = 0;
    RecordReader in(footer);
    if (!in.get(length, 8) || !in.get(checksum, 8)) return std::nullopt;
    if (length > file.size() - kFooterSize) return std::nullopt;
    const std::size_t recordAt = file.size() - kFooterSize - std::size_t(length);
    const auto bytes = file.subspan(recordAt, std::size_t(length));
    if (Hash(bytes, kRecordSeed) != checksum) return std::nullopt;
    std::optional<Record> record = ParseRecord(bytes);
    if (!record || record->newSize != recordAt) return std::nullopt;
    return Decoded{std::move(*record), file.first(recordAt)};
}

TargetState Compare(const Record& r, std::span<const std::uint8_t> newBytes,
                    std::span<const std::uint8_t> target) {
    const std::uint64_t size = target.size(), oldSize = r.oldSize, newSize = r.newSize;
    if (newBytes.size() != newSize) return TargetState::Other;
    // A rewrite writes from the start and sets the size last: a photo that shrinks has either
    // size, one that grows any size between the two.
    const bool sizeFits =
        newSize < oldSize ? size == oldSize || size == newSize : size >= oldSize && size <= newSize;
    if (!sizeFits) return TargetState::Other;
    bool allNew = size == newSize;
    std::size_t oldIndex = 0;
    for (std::uint64_t at = 0; at < size;) {
        const std::uint64_t end = PieceEnd(at, size, oldSize, newSize);
        const auto piece = target.subspan(at, end - at);
        const bool isNew =
            end <= newSize && std::memcmp(piece.data(), newBytes.data() + at, piece.size()) == 0;
        bool isOld = false;
        if (end <= oldSize) {
            isOld =
                oldIndex < r.oldHashes.size() && Hash(piece, kPieceSeed) == r.oldHashes[oldIndex];
            ++oldIndex;
        }
        if (!isNew && !isOld) return TargetState::Other;
        allNew = allNew && isNew;
        at = end;
    }
    return allNew ? TargetState::Complete : TargetState::Torn;
}

} // namespace platform::kept
