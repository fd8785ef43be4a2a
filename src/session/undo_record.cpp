// SPDX-License-Identifier: GPL-3.0-or-later
#include "session/undo_record.h"

#include <QCryptographicHash>

#include <xxhash.h>

#include <algorithm>

#include "platform/record_bytes.h"

namespace session {
namespace undo_detail {

namespace {

RecordHash Blake2bOf(std::span<const std::uint8_t> bytes) {
    QCryptographicHash hash(QCryptographicHash::Blake2b_256);
    hash.addData(
        QByteArrayView(reinterpret_cast<const char*>(bytes.data()), qsizetype(bytes.size())));
    const QByteArray result = hash.result();
    RecordHash out{};
    std::copy_n(result.begin(), std::min<std::size_t>(out.size(), std::size_t(result.size())),
                out.begin());
    return out;
}

} // namespace

RecordHash Widened(const UndoHash& hash) {
    RecordHash out{};
    std::copy(hash.begin(), hash.end(), out.begin());
    return out;
}

RecordHash HashFor(RecordVersion version, std::span<const std::uint8_t> bytes) {
    return version == RecordVersion::Blake2b ? Blake2bOf(bytes) : Widened(HashOfBytes(bytes));
}

namespace {

std::size_t HashBytes(RecordVersion version) {
    return version == RecordVersion::Blake2b ? 32 : 16;
}

void Put(std::vector<std::uint8_t>& out, std::uint64_t value, int bytes) {
    platform::PutLittleEndian(out, value, bytes);
}

void PutTime(std::vector<std::uint8_t>& out, const struct timespec& t) {
    Put(out, std::uint64_t(std::int64_t(t.tv_sec)), 8);
    Put(out, std::uint64_t(std::int64_t(t.tv_nsec)), 8);
}

void PutHash(std::vector<std::uint8_t>& out, const RecordHash& hash, RecordVersion version) {
    out.insert(out.end(), hash.begin(), hash.begin() + std::ptrdiff_t(HashBytes(version)));
}

} // namespace

std::vector<std::uint8_t> EncodeHeader(const Header& h) {
    std::vector<std::uint8_t> out(kMagic, kMagic + sizeof kMagic);
    Put(out, h.path.size(), 4);
    out.insert(out.end(), h.path.begin(), h.path.end());
    Put(out, h.command.size(), 2);
    out.insert(out.end(), h.command.begin(), h.command.end());
    Put(out, h.oldSize, 8);
    PutTime(out, h.oldTimes.access);
    PutTime(out, h.oldTimes.modification);
    Put(out, h.newSize, 8);
    PutTime(out, h.newModification);
    PutHash(out, h.newHash, RecordVersion::Xxh3);
    PutHash(out, h.oldHash, RecordVersion::Xxh3);
    const UndoHash self = HashOfBytes(out);
    out.insert(out.end(), self.begin(), self.end());
    return out;
}

namespace {

bool GetTime(platform::RecordReader& in, struct timespec& t) {
    std::uint64_t sec = 0, nsec = 0;
    if (!in.get(sec, 8) || !in.get(nsec, 8) || nsec >= 1000000000u) return false;
    t.tv_sec = time_t(std::int64_t(sec));
    t.tv_nsec = long(nsec);
    return true;
}

bool GetHash(platform::RecordReader& in, RecordHash& hash, RecordVersion version) {
    return in.raw(std::span(hash).first(HashBytes(version)));
}

} // namespace

std::optional<RecordVersion> VersionOf(std::span<const std::uint8_t> file) {
    if (file.size() < sizeof kMagic) return std::nullopt;
    if (std::equal(kMagic, kMagic + sizeof kMagic, file.begin())) return RecordVersion::Owned;
    if (std::equal(kMagicV2, kMagicV2 + sizeof kMagicV2, file.begin())) return RecordVersion::Xxh3;
    if (std::equal(kMagicV1, kMagicV1 + sizeof kMagicV1, file.begin()))
        return RecordVersion::Blake2b;
    return std::nullopt;
}

namespace {

// The header of versions 2 and 3 ends with the hash of all of it before that hash.
bool HeaderIntact(std::span<const std::uint8_t> file, platform::RecordReader& in) {
    const std::size_t headerEnd = file.size() - in.left();
    UndoHash stored{};
    return in.raw(stored) && HashOfBytes(file.first(headerEnd)) == stored;
}

bool GetText(platform::RecordReader& in, std::string& text, int lengthBytes,
             std::uint64_t maxBytes) {
    std::uint64_t length = 0;
    if (!in.get(length, lengthBytes) || length > maxBytes || length > in.left()) return false;
    text.resize(std::size_t(length));
    return in.raw({reinterpret_cast<std::uint8_t*>(text.data()), text.size()}) &&
           text.find('\0') == std::string::npos;
}

} // namespace

DecodedRecord DecodeRecord(std::span<const std::uint8_t> file, const std::string& command) {
    DecodedRecord out;
    const std::optional<RecordVersion> version = VersionOf(file);
    if (!version) return out;
    platform::RecordReader in(file.subspan(sizeof kMagic));
    Header& h = out.header;
    h.version = *version;
    if (!GetText(in, h.path, 4, kMaxPathBytes) || h.path.empty() ||
        (h.version == RecordVersion::Owned &&
         (!GetText(in, h.command, 2, kMaxCommandBytes) || h.command.empty())) ||
        !in.get(h.oldSize, 8) || !GetTime(in, h.oldTimes.access) ||
        !GetTime(in, h.oldTimes.modification) || !in.get(h.newSize, 8) ||
        !GetTime(in, h.newModification) || !GetHash(in, h.newHash, h.version) ||
        !GetHash(in, h.oldHash, h.version) ||
        (h.version != RecordVersion::Blake2b && !HeaderIntact(file, in))) {
        out.header = Header{};
        return out;
    }
    if (in.left() != h.oldSize || HashFor(h.version, in.rest()) != h.oldHash) {
        if (h.version == RecordVersion::Blake2b) h.path.clear(); // its header is unchecked
        return out;
    }
    out.fault = h.version == RecordVersion::Owned && h.command != command
                    ? DecodedRecord::Fault::Foreign
                    : DecodedRecord::Fault::None;
    out.oldBytes = in.rest();
    return out;
}

} // namespace undo_detail

std::optional<std::uint64_t> UndoRecordOldBytes(std::span<const std::uint8_t> file,
                                                const std::string& command) {
    const undo_detail::DecodedRecord decoded = undo_detail::DecodeRecord(file, command);
    if (decoded.fault != undo_detail::DecodedRecord::Fault::None) return std::nullopt;
    return decoded.oldBytes.size();
}

UndoHash HashOfBytes(std::span<const std::uint8_t> bytes) {
    XXH128_canonical_t canonical;
    XXH128_canonicalFromHash(&canonical, XXH3_128bits(bytes.data(), bytes.size()));
    UndoHash out{};
    std::copy(std::begin(canonical.digest), std::end(canonical.digest), out.begin());
    return out;
}

} // namespace session
