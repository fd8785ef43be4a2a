// SPDX-License-Identifier: GPL-3.0-or-later
// A kept copy goes back only over the photo it was made for, torn by the turn that made it.
#include "collection/scan.h"
#include "support/english.h"
#include "support/jpeg_factory.h"
#include "support/kept_copy.h"
#include "support/temp_dir.h"

#include <QString>

#include <pwd.h>
#include <unistd.h>

#include <gtest/gtest.h>
#include <random>
#include <sys/stat.h>

#include "platform/file_io.h"
#include "platform/kept_copy.h"
#include "platform/leftovers.h"

using namespace testing_support;
using Status = platform::LeftoverResult::Status;

namespace {

constexpr std::uint8_t kJpegStart[] = {0xFF, 0xD8, 0xFF};

Bytes RandomBytes(std::size_t n, unsigned seed) {
    std::mt19937 random(seed);
    Bytes out(n);
    for (std::uint8_t& b : out)
        b = std::uint8_t(random());
    return out;
}

// Noise that starts as a JPEG does: only a JPEG's kept copy is ever put back.
Bytes RandomPhoto(std::size_t n, unsigned seed) {
    Bytes out = RandomBytes(n, seed);
    std::copy(std::begin(kJpegStart), std::end(kJpegStart), out.begin());
    return out;
}

Bytes Slice(const Bytes& b, std::size_t from, std::size_t to) {
    return Bytes(b.begin() + std::ptrdiff_t(from), b.begin() + std::ptrdiff_t(to));
}

Bytes Join(Bytes a, const Bytes& b) {
    a.insert(a.end(), b.begin(), b.end());
    return a;
}

std::string FileName(const std::string& path) {
    return path.substr(path.rfind('/') + 1);
}

// A photo with a second name, so that a turn rewrites it in place.
std::string MakeLinkedPhoto(const TempDir& dir, const std::string& name, const Bytes& contents) {
    const std::string path = dir.file(name);
    WriteFile(path, contents);
    const std::string link = dir.file("link-" + std::to_string(contents.size()) + "-" +
                                      std::to_string(std::hash<std::string>()(name)));
    EXPECT_EQ(::link(path.c_str(), link.c_str()), 0);
    return path;
}

struct TornState {
    const char* what;
    Bytes photo;
    Status expected;
};

std::vector<TornState> StatesOf(const Bytes& old, const Bytes& next) {
    const std::size_t o = old.size(), n = next.size(), page = 4096;
    std::vector<TornState> states = {
        {"not begun", old, Status::Finished},
        {"first page written", Join(Slice(next, 0, page), Slice(old, page, o)), Status::Finished},
        {"done", next, Status::Removed},
        {"turned again", RandomPhoto(n, 99), Status::Foreign},
        {"half another photo", Join(Slice(next, 0, page), RandomBytes(o - page, 98)),
         Status::Foreign},
    };
    Bytes edited = old;
    edited[5000] ^= 0x40;
    states.push_back({"edited by another program", edited, Status::Foreign});
    Bytes appended = old;
    appended.push_back(n > o ? std::uint8_t(next[o] ^ 0xFF) : 0);
    states.push_back({"appended to", appended, Status::Foreign});
    if (n > o) {
        states.push_back({"grown part way", Slice(next, 0, o + 1000), Status::Finished});
        states.push_back(
            {"grown past its end first", Join(old, Slice(next, o, n)), Status::Finished});
    } else {
        states.push_back({"written, not yet cut", Join(next, Slice(old, n, o)), Status::Finished});
        states.push_back({"cut, not yet written", Slice(old, 0, n), Status::Finished});
    }
    return states;
}

} // namespace

TEST(KeptCopy, OnlyATornRewriteOfItsOwnTurnIsFinished) {
    const Bytes old = RandomPhoto(3 * 4096 + 100, 1);
    for (const Bytes& next : {RandomPhoto(5 * 4096 + 7, 2), RandomPhoto(2 * 4096 + 50, 3)}) {
        for (const TornState& state : StatesOf(old, next)) {
            SCOPED_TRACE(std::string(state.what) + (next.size() > old.size() ? ", grows" : ""));
            TempDir dir;
            const std::string photo = MakeLinkedPhoto(dir, "photo.jpg", old);
            const std::string kept = InterruptedLinkedTurn(photo, next);
            ASSERT_FALSE(kept.empty());
            const Bytes copy = ReadFile(kept);
            WriteFile(photo, state.photo); // the same file, as a crash left it

            const platform::LeftoverResult outcome = platform::ResolveLeftover(kept);
            EXPECT_EQ(outcome.status, state.expected) << English(outcome.result);
            EXPECT_EQ(outcome.target, photo);
            if (state.expected == Status::Foreign) {
                EXPECT_EQ(ReadFile(photo), state.photo) << "never written over";
                EXPECT_EQ(ReadFile(kept), copy) << "never deleted";
                EXPECT_FALSE(English(outcome.result).empty());
            } else {
                EXPECT_EQ(ReadFile(photo), next);
                EXPECT_NE(::access(kept.c_str(), F_OK), 0);
            }
        }
    }
}

TEST(KeptCopy, NothingElseNamedLikeOursIsWrittenOverAPhotoOrDeleted) {
    TempDir dir;
    // A file unpacked from an archive.
    const std::string notes = dir.file("notes.txt"),
                      junk = dir.file(".notes.txt.tulvex-keep-ABCDEF");
    WriteFile(notes, {'m', 'i', 'n', 'e'});
    WriteFile(junk, {'j', 'u', 'n', 'k'});
    for (int load = 0; load < 2; ++load) {
        const platform::LeftoverResult outcome = platform::ResolveLeftover(junk);
        EXPECT_EQ(outcome.status, Status::Foreign);
        EXPECT_TRUE(outcome.target.empty()) << "its name names no photo";
    }
    EXPECT_EQ(ReadFile(notes), (Bytes{'m', 'i', 'n', 'e'}));
    EXPECT_EQ(ReadFile(junk), (Bytes{'j', 'u', 'n', 'k'}));

    // The photo was replaced by another one after the interrupted turn.
    const Bytes old = RandomPhoto(9000, 4), next = RandomPhoto(9100, 5),
                other = RandomPhoto(9000, 6);
    const std::string photo = MakeLinkedPhoto(dir, "photo.jpg", old);
    const std::string kept = InterruptedLinkedTurn(photo, next);
    ASSERT_FALSE(kept.empty());
    const std::string replacement = dir.file("replacement");
    WriteFile(replacement, old); // even with the very same contents
    ASSERT_EQ(::rename(replacement.c_str(), photo.c_str()), 0);
    EXPECT_EQ(platform::ResolveLeftover(kept).status, Status::Foreign);
    EXPECT_EQ(ReadFile(photo), old);
    EXPECT_EQ(::access(kept.c_str(), F_OK), 0);

    // A copy of a folder holding a torn photo and its kept copy: only the original is finished.
    TempDir copied;
    const std::string photo2 = MakeLinkedPhoto(copied, "photo.jpg", other);
    const std::string kept2 = InterruptedLinkedTurn(photo2, next);
    ASSERT_FALSE(kept2.empty());
    const Bytes torn = Join(Slice(next, 0, 4096), Slice(other, 4096, other.size()));
    WriteFile(photo2, torn);
    TempDir elsewhere;
    WriteFile(elsewhere.file("photo.jpg"), torn);
    WriteFile(elsewhere.file(FileName(kept2)), ReadFile(kept2));
    EXPECT_EQ(platform::ResolveLeftover(elsewhere.file(FileName(kept2))).status, Status::Foreign);
    EXPECT_EQ(ReadFile(elsewhere.file("photo.jpg")), torn);
    EXPECT_EQ(platform::ResolveLeftover(kept2).status, Status::Finished);
    EXPECT_EQ(ReadFile(photo2), next);
}

TEST(KeptCopy, ARecordThatDoesNotAddUpIsNotTrusted) {
    TempDir dir;
    const Bytes old = RandomPhoto(5000, 7), next = RandomPhoto(6000, 8);
    const std::string kept = InterruptedLinkedTurn(MakeLinkedPhoto(dir, "p.jpg", old), next);
    ASSERT_FALSE(kept.empty());
    const Bytes file = ReadFile(kept);
    const auto decoded = platform::kept::Decode(file);
    ASSERT_TRUE(decoded);
    EXPECT_EQ(decoded->record.targetName, "p.jpg");
    EXPECT_EQ(Bytes(decoded->newBytes.begin(), decoded->newBytes.end()), next);
    for (std::size_t at = next.size(); at < file.size(); ++at) {
        Bytes changed = file;
        changed[at] ^= 0x01;
        EXPECT_FALSE(platform::kept::Decode(changed)) << "byte " << at;
    }
    for (const std::size_t cut : {std::size_t(0), std::size_t(1), std::size_t(30)}) {
        EXPECT_FALSE(platform::kept::Decode(Slice(file, cut + 1, file.size()))) << cut;
        EXPECT_FALSE(platform::kept::Decode(Slice(file, 0, file.size() - 1 - cut))) << cut;
    }
    // A record moved behind other contents no longer agrees with the size before it.
    EXPECT_FALSE(platform::kept::Decode(Join(Bytes{1}, file)));
}

TEST(KeptCopy, EveryNameLengthWorksAndNoCutSharesACopy) {
    const std::string character = "\xE6\x97\xA5"; // three bytes in UTF-8
    for (const std::string prefix : {"a", "ab", "abc", ""}) {
        SCOPED_TRACE("prefix '" + prefix + "'");
        TempDir dir;
        std::string name = prefix;
        while (name.size() + character.size() + 4 <= 255 && !prefix.empty())
            name += character;
        while (name.size() < 251)
            name += 'x';
        name += ".jpg";
        ASSERT_EQ(name.size(), 255u);
        const Bytes old = RandomPhoto(6000, 10), next = RandomPhoto(6100, 11);

        // Turned with one link and with two.
        WriteFile(dir.file(name), old);
        ASSERT_TRUE(platform::ReplaceFileContents(dir.file(name), next).replaced());
        EXPECT_EQ(ReadFile(dir.file(name)), next);
        const std::string linked = MakeLinkedPhoto(dir, name, old);
        const platform::ReplaceResult turned = platform::ReplaceFileContents(linked, next);
        EXPECT_TRUE(turned.replaced()) << English(turned.result);
        EXPECT_EQ(ReadFile(linked), next);

        // A second photo sharing every byte the name of a copy can hold, with the same
        // contents, and files named as the cut names: none of them gets the copy.
        WriteFile(linked, old);
        std::string twin = name;
        twin[250] = 'y';
        WriteFile(dir.file(twin), old);
        const std::string kept = InterruptedLinkedTurn(linked, next);
        ASSERT_FALSE(kept.empty());
        const std::string keptName = FileName(kept);
        EXPECT_LE(keptName.size(), 255u);
        EXPECT_TRUE(platform::IsKeptCopyName(keptName));
        EXPECT_EQ(QString::fromUtf8(keptName).toUtf8().toStdString(), keptName)
            << "cut between characters";
        const std::string cut = keptName.substr(1, keptName.rfind(".tulvex-keep-") - 1);
        EXPECT_EQ(name.compare(0, cut.size(), cut), 0);
        WriteFile(dir.file(cut), old);
        WriteFile(dir.file(name.substr(0, 200)), old);
        WriteFile(linked, Join(Slice(next, 0, 4096), Slice(old, 4096, old.size())));

        const platform::LeftoverResult outcome = platform::ResolveLeftover(kept);
        EXPECT_EQ(outcome.status, Status::Finished) << English(outcome.result);
        EXPECT_EQ(outcome.target, linked);
        EXPECT_EQ(ReadFile(linked), next);
        EXPECT_EQ(ReadFile(dir.file(twin)), old);
        EXPECT_EQ(ReadFile(dir.file(cut)), old);
        EXPECT_EQ(ReadFile(dir.file(name.substr(0, 200))), old);
    }
}

namespace {

// A hard-linked photo whose turn was killed during its rewrite: the photo torn, its complete
// copy beside it.
struct LeftTurn {
    TempDir dir;
    std::string photo = dir.file("photo.jpg"), secondName = dir.file("second-name.jpg"), kept;
    Bytes torn, copy;
    // Killed before its first byte was written: the very state a forger copies.
    LeftTurn(const Bytes& old, const Bytes& next) : torn(old) {
        WriteFile(photo, old);
        EXPECT_EQ(::link(photo.c_str(), secondName.c_str()), 0);
        kept = InterruptedLinkedTurn(photo, next);
        EXPECT_FALSE(kept.empty());
        WriteFile(photo, torn);
        copy = ReadFile(kept);
    }
    // The copy is not applied: reported, the photo as it was, the copy still there.
    void ExpectLeft(const platform::LeftoverResult& outcome, const std::string& why) const {
        EXPECT_EQ(outcome.status, Status::Foreign) << English(outcome.result);
        EXPECT_NE(English(outcome.result).find(why), std::string::npos) << English(outcome.result);
        EXPECT_EQ(ReadFile(photo), torn) << "never written over";
        EXPECT_EQ(ReadFile(kept), copy) << "never deleted";
    }
};

const Bytes kOld = RandomPhoto(3 * 4096 + 100, 21), kNext = RandomPhoto(4 * 4096 + 9, 22);

} // namespace

TEST(KeptCopy, ACopyOthersMayWriteOrOfAnotherKindOfPhotoIsLeft) {
    {
        SCOPED_TRACE("group may write the copy");
        const LeftTurn left(kOld, kNext);
        ASSERT_EQ(::chmod(left.kept.c_str(), 0620), 0);
        left.ExpectLeft(platform::ResolveLeftover(left.kept), "others may write it");
    }
    {
        SCOPED_TRACE("anyone may write the copy");
        const LeftTurn left(kOld, kNext);
        ASSERT_EQ(::chmod(left.kept.c_str(), 0602), 0);
        left.ExpectLeft(platform::ResolveLeftover(left.kept), "others may write it");
    }
    {
        SCOPED_TRACE("the photo has one name left");
        const LeftTurn left(kOld, kNext);
        ASSERT_EQ(::unlink(left.secondName.c_str()), 0);
        left.ExpectLeft(platform::ResolveLeftover(left.kept), "the photo has a single link");
    }
    {
        SCOPED_TRACE("the photo may not be written");
        const LeftTurn left(kOld, kNext);
        ASSERT_EQ(::chmod(left.photo.c_str(), 0444), 0);
        left.ExpectLeft(platform::ResolveLeftover(left.kept), "the photo may not be written");
    }
    {
        SCOPED_TRACE("the photo is no JPEG");
        const LeftTurn left(RandomBytes(kOld.size(), 23), kNext);
        left.ExpectLeft(platform::ResolveLeftover(left.kept), "the photo is not a JPEG");
    }
    {
        SCOPED_TRACE("the copy holds no JPEG");
        const LeftTurn left(kOld, RandomBytes(kNext.size(), 24));
        left.ExpectLeft(platform::ResolveLeftover(left.kept), "it holds no JPEG photo");
    }
}

TEST(KeptCopy, NoLinkOrOtherKindOfFileIsTakenForACopyOrItsPhoto) {
    {
        SCOPED_TRACE("a FIFO named like a copy");
        TempDir dir;
        const std::string fifo = dir.file(".photo.jpg.tulvex-keep-ABCDEF");
        ASSERT_EQ(::mkfifo(fifo.c_str(), 0600), 0);
        const platform::LeftoverResult outcome = platform::ResolveLeftover(fifo);
        EXPECT_EQ(outcome.status, Status::Foreign) << English(outcome.result);
        EXPECT_NE(English(outcome.result).find("not a regular file"), std::string::npos);
        struct stat st {};
        EXPECT_EQ(::lstat(fifo.c_str(), &st), 0);
        EXPECT_TRUE(S_ISFIFO(st.st_mode)) << "left";
    }
    {
        SCOPED_TRACE("the copy's name is a link to a real copy elsewhere");
        const LeftTurn left(kOld, kNext);
        TempDir elsewhere;
        const std::string moved = elsewhere.file(FileName(left.kept));
        ASSERT_EQ(::rename(left.kept.c_str(), moved.c_str()), 0);
        ASSERT_EQ(::symlink(moved.c_str(), left.kept.c_str()), 0);
        const platform::LeftoverResult outcome = platform::ResolveLeftover(left.kept);
        EXPECT_EQ(outcome.status, Status::Foreign) << English(outcome.result);
        EXPECT_NE(English(outcome.result).find("symbolic link"), std::string::npos);
        EXPECT_EQ(ReadFile(left.photo), left.torn);
        struct stat st {};
        EXPECT_EQ(::lstat(left.kept.c_str(), &st), 0);
        EXPECT_TRUE(S_ISLNK(st.st_mode)) << "the link is left";
        EXPECT_EQ(ReadFile(moved), left.copy);
    }
    {
        SCOPED_TRACE("the photo's name is a link to the photo");
        const LeftTurn left(kOld, kNext);
        const std::string real = left.dir.file("real.jpg");
        ASSERT_EQ(::rename(left.photo.c_str(), real.c_str()), 0);
        ASSERT_EQ(::symlink(real.c_str(), left.photo.c_str()), 0);
        const platform::LeftoverResult outcome = platform::ResolveLeftover(left.kept);
        EXPECT_EQ(outcome.status, Status::Foreign) << English(outcome.result);
        EXPECT_EQ(ReadFile(real), left.torn);
        EXPECT_EQ(ReadFile(left.kept), left.copy);
    }
}

TEST(KeptCopy, ACopyOfAnotherUsersMakingIsAppliedOnlyToThatUsersPhoto) {
    if (::geteuid() != 0) GTEST_SKIP() << "needs root to give files to another user";
    const uid_t stranger = 54321, owner = 54322; // no user on a test machine
    ASSERT_EQ(::getpwuid(stranger), nullptr);
    {
        SCOPED_TRACE("a stranger's copy of root's photo");
        const LeftTurn left(kOld, kNext);
        ASSERT_EQ(::chown(left.kept.c_str(), stranger, stranger), 0);
        left.ExpectLeft(platform::ResolveLeftover(left.kept), "it belongs to another user");
    }
    {
        SCOPED_TRACE("a stranger's copy of another user's photo");
        const LeftTurn left(kOld, kNext);
        ASSERT_EQ(::chown(left.photo.c_str(), owner, owner), 0);
        ASSERT_EQ(::chown(left.kept.c_str(), stranger, stranger), 0);
        left.ExpectLeft(platform::ResolveLeftover(left.kept), "it belongs to another user");
    }
    {
        SCOPED_TRACE("the photo owner's own copy");
        const LeftTurn left(kOld, kNext);
        ASSERT_EQ(::chown(left.photo.c_str(), owner, owner), 0);
        ASSERT_EQ(::chown(left.kept.c_str(), owner, owner), 0);
        const platform::LeftoverResult outcome = platform::ResolveLeftover(left.kept);
        EXPECT_EQ(outcome.status, Status::Finished) << English(outcome.result);
        EXPECT_EQ(ReadFile(left.photo), kNext);
        EXPECT_NE(::access(left.kept.c_str(), F_OK), 0);
    }
}

TEST(KeptCopy, IsWritableByItsMakerAlone) {
    for (const mode_t mode : {mode_t(0644), mode_t(0666), mode_t(0660)}) {
        SCOPED_TRACE(mode);
        TempDir dir;
        const std::string photo = MakeLinkedPhoto(dir, "photo.jpg", kOld);
        ASSERT_EQ(::chmod(photo.c_str(), mode), 0);
        const std::string kept = InterruptedLinkedTurn(photo, kNext);
        ASSERT_FALSE(kept.empty());
        struct stat st {};
        ASSERT_EQ(::stat(kept.c_str(), &st), 0);
        EXPECT_EQ(st.st_mode & 07777, 0600u);
        ASSERT_EQ(::stat(photo.c_str(), &st), 0);
        EXPECT_EQ(st.st_mode & 07777, mode) << "the photo keeps its own";
    }
}

TEST(KeptCopy, APhotoOfAGrowingTurnIsNeverShorterThanItWas) {
    // A rewrite never cuts a growing photo below its old size: an emptied or cut photo is not
    // that turn torn, whatever its first bytes.
    const platform::kept::Record record = platform::kept::MakeRecord(1, 2, "p.jpg", kOld, kNext);
    for (const std::size_t size : {std::size_t(0), std::size_t(4096), kOld.size() - 1}) {
        SCOPED_TRACE(size);
        EXPECT_EQ(platform::kept::Compare(record, kNext, Slice(kNext, 0, size)),
                  platform::kept::TargetState::Other);
    }
    EXPECT_EQ(platform::kept::Compare(record, kNext, Slice(kNext, 0, kOld.size())),
              platform::kept::TargetState::Torn);

    LeftTurn left(kOld, kNext);
    left.torn = Slice(kNext, 0, 4096);
    WriteFile(left.photo, left.torn);
    left.ExpectLeft(platform::ResolveLeftover(left.kept), "the photo has changed since");
}
