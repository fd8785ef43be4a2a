// SPDX-License-Identifier: GPL-3.0-or-later
// The turn of photos as the window and the command line share it: the crop question, the
// automatic list, the kept times and the automatic pass, without a window.
#include "session/photo_turn.h"
#include "support/english.h"
#include "support/jpeg_factory.h"
#include "support/temp_dir.h"
#include "thumbs/image_codec.h"

#include <QFile>
#include <QImage>

#include <unistd.h>

#include <cerrno>
#include <gtest/gtest.h>

#include "platform/file_io.h"

using namespace testing_support;
using session::CropAnswer;
using session::PassResult;
using session::PassStep;
using Kind = session::PhotoTurnResult::Kind;
using rotate::RotationCode;

namespace {

class SessionTurnTest : public ::testing::Test {
protected:
    TempDir photos;
    int questions = 0;
    std::vector<CropAnswer> answers; // taken front first; none left: Cancel

    QString MakePhoto(const QString& name, int orientation, int w = 64, int h = 48) {
        ExifSpec spec;
        spec.orientation = orientation;
        const QString path = photos.qfile(name);
        WriteFile(path.toStdString(), MakeJpegWithExif(w, h, spec));
        return path;
    }
    // Something that reads as a picture but is no JPEG to turn.
    QString MakeNoJpeg(const QString& name) {
        QImage png(32, 32, QImage::Format_RGB32);
        png.fill(Qt::blue);
        const QString path = photos.qfile(name);
        png.save(path, "PNG");
        return path;
    }
    session::CropQuestion Ask() {
        return [this](const rotate::TurnPlan&) {
            ++questions;
            if (answers.empty()) return CropAnswer{};
            const CropAnswer answer = answers.front();
            answers.erase(answers.begin());
            return answer;
        };
    }
    static std::uint16_t Orientation(const QString& path) {
        return thumbs::ReadImageHeader(path).orientation;
    }
    static Bytes Read(const QString& path) { return ReadFile(path.toStdString()); }
};

session::AutoList ListOf(const std::vector<std::pair<QString, int>>& entries) {
    session::AutoList list;
    for (const auto& [path, value] : entries)
        list.push_back({path, value});
    return list;
}

} // namespace

TEST_F(SessionTurnTest, CropQuestionCancelOkAndDontAskAgain) {
    // 40 is not a multiple of 16.
    const QString a = MakePhoto("a.jpg", 6, 40, 24), b = MakePhoto("b.jpg", 6, 40, 24),
                  c = MakePhoto("c.jpg", 6, 40, 24);
    session::AutoList list = ListOf({{a, 6}, {b, 6}, {c, 6}});
    const Bytes before = Read(a);
    session::TurnOptions options;

    answers = {{false, false}}; // Cancel, the box ticked: nothing touched, asked again
    session::PhotoTurnResult outcome =
        session::TurnOne(a, RotationCode::Right, options, Ask(), &list);
    EXPECT_EQ(outcome.kind, Kind::SkippedByCrop);
    ASSERT_TRUE(outcome.crop);
    EXPECT_EQ(outcome.crop->width, 40);
    EXPECT_EQ(outcome.crop->height, 24);
    EXPECT_TRUE(outcome.askCrop);
    EXPECT_EQ(Read(a), before);
    EXPECT_EQ(list.size(), 3u);

    answers = {{true, true}}; // OK without the tick
    outcome = session::TurnOne(a, RotationCode::Right, options, Ask(), &list);
    EXPECT_EQ(outcome.kind, Kind::Turned);
    EXPECT_TRUE(outcome.askCrop);
    EXPECT_EQ(Orientation(a), 1);
    EXPECT_EQ(list.size(), 2u) << "turned upright: delisted";

    answers = {{true, false}}; // OK with the tick: no more questions
    outcome = session::TurnOne(b, RotationCode::Left, options, Ask(), &list);
    EXPECT_EQ(outcome.kind, Kind::Turned);
    EXPECT_FALSE(outcome.askCrop);
    EXPECT_EQ(Orientation(b), 3);
    ASSERT_EQ(list.size(), 2u);
    EXPECT_EQ(list[0].value, 3) << "turned left from 6: upside down now";
    EXPECT_EQ(questions, 3);

    options.askCrop = outcome.askCrop;
    options.kind = session::TurnKind::Automatic;
    outcome = session::TurnOne(c, RotationCode::Right, options, Ask(), &list);
    EXPECT_EQ(questions, 3) << "not asked again";
    EXPECT_EQ(outcome.kind, Kind::Turned);
    EXPECT_FALSE(outcome.askCrop);
    EXPECT_EQ(list[1].value, 0) << "the automatic pass marks, it does not delist";

    const QString whole = MakePhoto("whole.jpg", 1, 64, 48);
    options.askCrop = true;
    EXPECT_EQ(session::TurnOne(whole, RotationCode::Half, options, Ask(), nullptr).kind,
              Kind::Turned);
    EXPECT_EQ(questions, 3) << "whole blocks: nothing to ask";
}

TEST_F(SessionTurnTest, ATrimAllowedBeforehandAsksNothing) {
    const QString a = MakePhoto("a.jpg", 1, 40, 24);
    const Bytes before = Read(a);
    session::TurnOptions refused;
    EXPECT_EQ(session::TurnOne(a, RotationCode::Right, refused, {}, nullptr).kind,
              Kind::SkippedByCrop)
        << "no one to ask: left as it is";
    EXPECT_EQ(Read(a), before);
    const session::TurnOptions allowed{false, false, true, session::TurnKind::Manual};
    EXPECT_EQ(session::TurnOne(a, RotationCode::Right, allowed, Ask(), nullptr).kind, Kind::Turned);
    EXPECT_EQ(questions, 0);
    const thumbs::ImageHeader turned = thumbs::ReadImageHeader(a);
    EXPECT_GT(turned.height, turned.width) << "turned";
    EXPECT_LT(turned.width * turned.height, 40 * 24) << "and trimmed to whole blocks";
}

TEST_F(SessionTurnTest, AFailedTurnLeavesTheFileButTheListFollowedIt) {
    const QString bad = MakeNoJpeg("IMG_0042.JPG");
    const Bytes before = Read(bad);
    session::AutoList list = ListOf({{bad, 6}});
    session::TurnOptions options;
    options.kind = session::TurnKind::Automatic;
    const session::PhotoTurnResult outcome =
        session::TurnOne(bad, RotationCode::Left, options, Ask(), &list);
    EXPECT_EQ(outcome.kind, Kind::Failed);
    EXPECT_FALSE(outcome.result.ok());
    EXPECT_FALSE(English(outcome.result).empty());
    EXPECT_EQ(Read(bad), before);
    ASSERT_EQ(list.size(), 1u);
    EXPECT_EQ(list[0].value, 0) << "marked before the file was touched";

    EXPECT_EQ(session::TurnOne(bad, RotationCode(7), {}, Ask(), &list).kind, Kind::BadCode);
    EXPECT_EQ(Read(bad), before);
}

// The window and the command line tell failures apart by their kind, never by their words.
TEST_F(SessionTurnTest, AFailedTurnSaysWhatKindOfFailureItWas) {
    using Failure = platform::Result::Kind;
    const auto failureOf = [this](const QString& path, const rotate::TurnCalls& calls = {}) {
        const session::PhotoTurnResult outcome =
            session::TurnOne(path, RotationCode::Right, {}, Ask(), nullptr, calls);
        EXPECT_EQ(outcome.kind, Kind::Failed) << path.toStdString();
        return outcome.result.kind();
    };
    EXPECT_EQ(failureOf(photos.qfile("gone.jpg")), Failure::NotFound);
    EXPECT_EQ(failureOf(MakeNoJpeg("picture.jpg")), Failure::Unsupported);

    const QString damaged = MakePhoto("damaged.jpg", 1);
    Bytes cut = Read(damaged);
    cut.resize(cut.size() * 2 / 3);
    WriteFile(damaged.toStdString(), cut);
    EXPECT_EQ(failureOf(damaged), Failure::Damaged);

    // Refused even for root: the owner made the photo read-only.
    const QString readOnly = MakePhoto("read-only.jpg", 1);
    ASSERT_TRUE(QFile::setPermissions(readOnly, QFile::ReadOwner | QFile::ReadGroup));
    EXPECT_EQ(failureOf(readOnly), Failure::NoPermission);

    const QString changed = MakePhoto("changed.jpg", 1);
    rotate::TurnCalls calls;
    calls.replace.beforeReplace = [&] {
        QFile file(changed);
        ASSERT_TRUE(file.open(QIODevice::Append));
        file.write("another program's bytes");
    };
    EXPECT_EQ(failureOf(changed, calls), Failure::ChangedMeanwhile);
}

TEST_F(SessionTurnTest, KeptTimesAndTimesThatCannotBeRestored) {
    const QString a = MakePhoto("a.jpg", 6);
    platform::FileTimes old;
    old.access = {1000000000, 5};
    old.modification = {1100000000, 7};
    ASSERT_TRUE(platform::SetFileTimes(a.toStdString(), old).ok());
    session::TurnOptions options;
    options.keepTimes = true;
    session::PhotoTurnResult outcome =
        session::TurnOne(a, RotationCode::Right, options, Ask(), nullptr);
    ASSERT_EQ(outcome.kind, Kind::Turned);
    ASSERT_TRUE(outcome.kept.has_value()) << "handed on for the thumbnail's read";
    EXPECT_EQ(outcome.kept->modification.tv_sec, old.modification.tv_sec);
    platform::FileTimes now;
    ASSERT_TRUE(platform::GetFileTimes(a.toStdString(), now).ok());
    EXPECT_EQ(now.modification.tv_sec, old.modification.tv_sec);
    EXPECT_EQ(now.modification.tv_nsec, old.modification.tv_nsec);

    rotate::TurnCalls failing;
    failing.replace.setTimes = [](int, const struct timespec*) {
        errno = EPERM;
        return -1;
    };
    outcome = session::TurnOne(a, RotationCode::Left, options, Ask(), nullptr, failing);
    EXPECT_EQ(outcome.kind, Kind::Turned) << "the turn stands";
    EXPECT_EQ(outcome.times.error(), EPERM);
    EXPECT_TRUE(outcome.result.ok());
    EXPECT_FALSE(outcome.kept.has_value());
    EXPECT_EQ(Orientation(a), 1) << "upright stays upright";

    options.keepTimes = false;
    outcome = session::TurnOne(a, RotationCode::Left, options, Ask(), nullptr, failing);
    EXPECT_TRUE(outcome.times.ok()) << "no times kept, none to restore";
    EXPECT_FALSE(outcome.kept.has_value());
}

TEST_F(SessionTurnTest, StoredTurnIsTheOneThatMakesThePhotoUpright) {
    const std::pair<int, std::optional<RotationCode>> cases[] = {
        {1, std::nullopt},        {2, std::nullopt},       {3, RotationCode::Half},
        {6, RotationCode::Right}, {8, RotationCode::Left}, {0, std::nullopt}};
    for (const auto& [orientation, code] : cases) {
        const QString path = MakePhoto(QStringLiteral("o%1.jpg").arg(orientation), orientation);
        const session::StoredTurn stored = session::StoredTurnOf(path);
        EXPECT_EQ(stored.orientation, orientation);
        EXPECT_EQ(stored.code, code) << orientation;
    }
    EXPECT_EQ(session::StoredTurnOf(photos.qfile("missing.jpg")).code, std::nullopt);
}

TEST_F(SessionTurnTest, AutomaticPassTurnsEverythingUprightAndEmptiesTheList) {
    const QString a = MakePhoto("a.jpg", 3), b = MakePhoto("b.jpg", 6), c = MakePhoto("c.jpg", 8);
    const QString handled = MakePhoto("d.jpg", 6); // marked by an earlier pass that failed
    session::AutoList list = ListOf({{a, 3}, {b, 6}, {c, 8}, {handled, 0}});
    const Bytes untouched = Read(handled);
    QStringList after;
    session::PassCalls calls;
    calls.afterTurn = [&](const session::PhotoTurnResult& outcome) {
        after << outcome.path;
        return true;
    };
    const PassResult pass = session::RunAutomaticPass(list, {}, Ask(), calls);
    EXPECT_EQ(pass.end, PassResult::End::Complete);
    EXPECT_EQ(after, (QStringList{a, b, c, handled})) << "each reached photo, in list order";
    ASSERT_EQ(pass.outcomes.size(), 4u);
    EXPECT_EQ(pass.outcomes[3].kind, Kind::NoTurn);
    for (const QString& path : {a, b, c})
        EXPECT_EQ(Orientation(path), 1) << path.toStdString();
    EXPECT_EQ(thumbs::ReadImageHeader(b).width, 48) << "turned right: portrait";
    EXPECT_EQ(thumbs::ReadImageHeader(a).width, 64) << "turned by 180: landscape";
    EXPECT_EQ(Read(handled), untouched) << "not turned twice";
    EXPECT_TRUE(list.empty());
}

TEST_F(SessionTurnTest, AutomaticPassCancelledWithAMissingFile) {
    QStringList made;
    session::AutoList list;
    for (int i = 0; i < 5; ++i) {
        made << MakePhoto(QStringLiteral("p%1.jpg").arg(i), 6);
        list.push_back({made.back(), 6});
    }
    QFile::remove(made[0]); // skipped without a step, and still listed
    int steps = 0;
    session::PassCalls calls;
    calls.beforeTurn = [&] { return ++steps > 2 ? PassStep::Cancel : PassStep::Go; };
    const PassResult pass = session::RunAutomaticPass(list, {}, Ask(), calls);
    EXPECT_EQ(pass.end, PassResult::End::Cancelled);
    EXPECT_EQ(steps, 3);
    EXPECT_EQ(pass.outcomes.size(), 2u);
    ASSERT_EQ(list.size(), 3u) << "the missing file and the two not reached";
    EXPECT_EQ(list[0].path, made[0]);
    EXPECT_EQ(list[1].path, made[3]);
    EXPECT_EQ(list[1].value, 6);
    EXPECT_EQ(Orientation(made[3]), 6);

    calls.beforeTurn = [] { return PassStep::Go; };
    EXPECT_EQ(session::RunAutomaticPass(list, {}, Ask(), calls).outcomes.size(), 2u);
    ASSERT_EQ(list.size(), 1u);
    EXPECT_EQ(list[0].path, made[0]);
}

TEST_F(SessionTurnTest, AutomaticPassEndsAtAFailureAndKeepsTheMarks) {
    const QString a = MakePhoto("a.jpg", 6), c = MakePhoto("c.jpg", 6);
    const QString bad = MakeNoJpeg("b.jpg");
    session::AutoList list = ListOf({{a, 6}, {bad, 6}, {c, 6}});
    const PassResult pass = session::RunAutomaticPass(list, {}, Ask(), {});
    EXPECT_EQ(pass.end, PassResult::End::Failed);
    ASSERT_EQ(pass.outcomes.size(), 2u);
    EXPECT_EQ(pass.outcomes[0].kind, Kind::Turned);
    EXPECT_EQ(pass.outcomes[1].kind, Kind::Failed);
    EXPECT_EQ(pass.outcomes[1].path, bad);
    EXPECT_EQ(Orientation(a), 1);
    EXPECT_EQ(Orientation(c), 6) << "not reached";
    ASSERT_EQ(list.size(), 3u) << "not purged";
    EXPECT_EQ(list[0].value, 0);
    EXPECT_EQ(list[1].value, 0) << "marked before the turn failed";
    EXPECT_EQ(list[2].value, 6);
}

TEST_F(SessionTurnTest, AutomaticPassAbandonedOrWithTheCropQuestionInTheMiddle) {
    const QString a = MakePhoto("a.jpg", 6), b = MakePhoto("b.jpg", 6, 40, 24),
                  c = MakePhoto("c.jpg", 6, 40, 24), d = MakePhoto("d.jpg", 6, 40, 24);
    session::AutoList list = ListOf({{a, 6}, {b, 6}, {c, 6}, {d, 6}});

    session::PassCalls calls;
    calls.afterTurn = [](const session::PhotoTurnResult&) { return false; }; // the window closed
    PassResult pass = session::RunAutomaticPass(list, {}, Ask(), calls);
    EXPECT_EQ(pass.end, PassResult::End::Abandoned);
    ASSERT_EQ(list.size(), 4u) << "left as it was, marks and all";
    EXPECT_EQ(list[0].value, 0);

    answers = {{false, false}, {true, false}}; // Cancel for b; OK and don't ask again for c
    pass = session::RunAutomaticPass(list, {}, Ask(), {});
    EXPECT_EQ(pass.end, PassResult::End::Complete);
    EXPECT_EQ(questions, 2) << "d is not asked about";
    EXPECT_FALSE(pass.askCrop);
    EXPECT_EQ(Orientation(c), 1);
    EXPECT_EQ(Orientation(d), 1);
    ASSERT_EQ(list.size(), 1u) << "only the photo skipped by its crop question";
    EXPECT_EQ(list[0].path, b);
    EXPECT_EQ(list[0].value, 6);
}

TEST_F(SessionTurnTest, AutomaticPassEndsWhenALoadBegins) {
    const QString a = MakePhoto("a.jpg", 6), b = MakePhoto("b.jpg", 6), c = MakePhoto("c.jpg", 6);
    session::LoadGeneration generation;
    const session::LoadGeneration::Stamp stamp = generation.Watch();
    session::PassCalls calls;
    calls.stamp = &stamp;

    // A reload from inside the pass's events after its last photo: the list is the new load's.
    session::AutoList list = ListOf({{a, 6}, {b, 6}});
    calls.afterTurn = [&](const session::PhotoTurnResult& outcome) {
        if (outcome.path == b) generation.Begin();
        return true;
    };
    EXPECT_EQ(session::RunAutomaticPass(list, {}, Ask(), calls).end, PassResult::End::Abandoned);
    EXPECT_EQ(list.size(), 2u) << "not purged";

    // Before a turn: that photo is left as it is.
    const session::LoadGeneration::Stamp later = generation.Watch();
    calls.stamp = &later;
    calls.afterTurn = [](const session::PhotoTurnResult&) { return true; };
    calls.beforeTurn = [&] {
        generation.Begin();
        return PassStep::Go;
    };
    list = ListOf({{c, 6}});
    EXPECT_EQ(session::RunAutomaticPass(list, {}, Ask(), calls).end, PassResult::End::Abandoned);
    EXPECT_EQ(Orientation(c), 6);
    ASSERT_EQ(list.size(), 1u);
    EXPECT_EQ(list[0].value, 6);
}

// The turn of a list of photos, as the window's turn of its selection and tulvex-cli's rotate
// and auto run it.
TEST_F(SessionTurnTest, AListCarriesTheCropAnswerAndTheAutoListAlong) {
    const QString a = MakePhoto("a.jpg", 6, 40, 24), b = MakePhoto("b.jpg", 6, 40, 24),
                  c = MakePhoto("c.jpg", 6, 40, 24);
    session::AutoList list = ListOf({{a, 6}, {b, 6}, {c, 6}});
    const std::vector<session::ListEntry> entries{
        {a, RotationCode::Right}, {b, RotationCode::Right}, {c, RotationCode::Right}};
    answers = {{true, false}}; // OK, and don't ask again
    QStringList after;
    session::ListCalls calls;
    calls.afterTurn = [&](const session::PhotoTurnResult& outcome) { after << outcome.path; };
    const PassResult turned = session::TurnList(entries, {}, Ask(), calls, &list);
    EXPECT_EQ(turned.end, PassResult::End::Complete);
    EXPECT_EQ(questions, 1);
    EXPECT_FALSE(turned.askCrop);
    ASSERT_EQ(turned.outcomes.size(), 3u);
    for (const session::PhotoTurnResult& outcome : turned.outcomes)
        EXPECT_EQ(outcome.kind, Kind::Turned) << outcome.path.toStdString();
    EXPECT_EQ(after, (QStringList{a, b, c}));
    EXPECT_TRUE(list.empty()) << "each turned upright by hand: delisted";
}

TEST_F(SessionTurnTest, AListStopsAtAFailureOnlyWhenAskedAndAtACancel) {
    const QString bad = MakeNoJpeg("bad.jpg"), good = MakePhoto("good.jpg", 1);
    const Bytes before = Read(good);
    const std::vector<session::ListEntry> entries{{bad, RotationCode::Left},
                                                  {good, RotationCode::Left}};
    int after = 0;
    session::ListCalls calls;
    calls.afterTurn = [&](const session::PhotoTurnResult&) { ++after; };
    session::ListOptions options;
    options.stopAtFailure = true;
    PassResult turned = session::TurnList(entries, options, Ask(), calls, nullptr);
    EXPECT_EQ(turned.end, PassResult::End::Failed);
    ASSERT_EQ(turned.outcomes.size(), 1u);
    EXPECT_EQ(turned.outcomes.back().kind, Kind::Failed);
    EXPECT_EQ(after, 0) << "a failure is the caller's to show, not a step";
    EXPECT_EQ(Read(good), before);

    options.stopAtFailure = false;
    turned = session::TurnList(entries, options, Ask(), calls, nullptr);
    EXPECT_EQ(turned.end, PassResult::End::Complete);
    ASSERT_EQ(turned.outcomes.size(), 2u);
    EXPECT_EQ(turned.outcomes[0].kind, Kind::Failed);
    EXPECT_EQ(turned.outcomes[1].kind, Kind::Turned);
    EXPECT_EQ(after, 1);

    calls.beforeTurn = [&](const session::ListEntry& entry) {
        return entry.path == good ? PassStep::Cancel : PassStep::Go;
    };
    const Bytes once = Read(good);
    turned = session::TurnList(entries, options, Ask(), calls, nullptr);
    EXPECT_EQ(turned.end, PassResult::End::Cancelled);
    EXPECT_EQ(turned.outcomes.size(), 1u);
    EXPECT_EQ(Read(good), once);
}

TEST_F(SessionTurnTest, AListTakesStoredTurnsAndPassesOverWhatIsNoPhotoFile) {
    const QString six = MakePhoto("six.jpg", 6), up = MakePhoto("up.jpg", 1),
                  three = MakePhoto("three.jpg", 3);
    const QString folder = photos.mkdir("folder.jpg"), gone = photos.qfile("gone.jpg");
    const std::vector<session::ListEntry> entries{
        {six, std::nullopt},    {up, std::nullopt},   {three, std::nullopt},
        {folder, std::nullopt}, {gone, std::nullopt}, {gone, RotationCode::Left}};
    PassResult turned = session::TurnList(entries, {}, Ask(), {}, nullptr);
    ASSERT_EQ(turned.outcomes.size(), entries.size());
    EXPECT_EQ(turned.outcomes[0].kind, Kind::Turned);
    EXPECT_EQ(turned.outcomes[0].storedOrientation, 6);
    EXPECT_EQ(turned.outcomes[1].kind, Kind::NoTurn);
    EXPECT_EQ(turned.outcomes[2].kind, Kind::Turned);
    EXPECT_EQ(turned.outcomes[2].storedOrientation, 3);
    EXPECT_EQ(turned.outcomes[3].kind, Kind::NoTurn) << "a folder is no photo to turn";
    EXPECT_EQ(turned.outcomes[4].kind, Kind::NoTurn);
    EXPECT_EQ(turned.outcomes[5].kind, Kind::NotAPhoto) << "asked for a turn, so told";
    EXPECT_EQ(turned.outcomes[5].result.kind(), platform::Result::Kind::NotFound);
    for (const QString& path : {six, up, three})
        EXPECT_EQ(Orientation(path), 1) << path.toStdString();

    session::ListCalls calls;
    const Bytes fifoBefore = Read(six);
    calls.notAPhoto = [&](const QString& path) {
        using platform::Result;
        if (path == folder)
            return Result::Failure(Result::Kind::Unsupported, platform::Why::IsFolder);
        if (path == six) // told so: never opened
            return Result::Failure(Result::Kind::Unsupported, platform::Why::IsFifo);
        return Result();
    };
    turned = session::TurnList({{six, std::nullopt}}, {}, Ask(), calls, nullptr);
    ASSERT_EQ(turned.outcomes.size(), 1u);
    EXPECT_EQ(turned.outcomes[0].kind, Kind::NoTurn);
    EXPECT_EQ(turned.outcomes[0].storedOrientation, 0) << "not read";
    EXPECT_EQ(Read(six), fifoBefore);

    turned = session::TurnList({{folder, RotationCode::Right}}, {}, Ask(), calls, nullptr);
    ASSERT_EQ(turned.outcomes.size(), 1u);
    EXPECT_EQ(turned.outcomes[0].kind, Kind::NotAPhoto);
    EXPECT_EQ(turned.outcomes[0].result.why(), platform::Why::IsFolder);
}

TEST_F(SessionTurnTest, AListInParallelTurnsEachNameOnceAndReportsInListOrder) {
    std::vector<session::ListEntry> entries;
    for (int i = 0; i < 8; ++i)
        entries.push_back({MakePhoto(QStringLiteral("p%1.jpg").arg(i), 6), RotationCode::Right});
    const QString second = photos.qfile("second-name.jpg");
    ASSERT_EQ(::link(entries[0].path.toLocal8Bit().constData(), second.toLocal8Bit().constData()),
              0);
    entries.push_back({second, RotationCode::Right});
    session::ListOptions options;
    options.parallel = true;
    PassResult turned = session::TurnList(entries, options, Ask(), {}, nullptr);
    EXPECT_EQ(turned.end, PassResult::End::Complete);
    ASSERT_EQ(turned.outcomes.size(), entries.size());
    for (std::size_t i = 0; i < entries.size(); ++i) {
        EXPECT_EQ(turned.outcomes[i].path, entries[i].path);
        EXPECT_EQ(turned.outcomes[i].kind, Kind::Turned) << i;
    }
    for (std::size_t i = 1; i < 8; ++i)
        EXPECT_EQ(thumbs::ReadImageHeader(entries[i].path).width, 48) << "turned once: " << i;
    EXPECT_EQ(thumbs::ReadImageHeader(second).width, 64) << "both turns of the one file";

    session::ListCalls calls;
    calls.beforeTurn = [&](const session::ListEntry& entry) {
        return entry.path == entries[3].path ? PassStep::Cancel : PassStep::Go;
    };
    const Bytes before = Read(entries[3].path);
    turned = session::TurnList(entries, options, Ask(), calls, nullptr);
    EXPECT_EQ(turned.end, PassResult::End::Cancelled);
    ASSERT_EQ(turned.outcomes.size(), entries.size());
    EXPECT_EQ(turned.outcomes[3].kind, Kind::NoTurn);
    EXPECT_EQ(Read(entries[3].path), before);
}
