// SPDX-License-Identifier: GPL-3.0-or-later
// What the turns of a command leave for the window: kept times and held warnings.
#include "session/turn_report.h"
#include "support/jpeg_factory.h"
#include "support/temp_dir.h"

#include <cerrno>
#include <gtest/gtest.h>

#include "platform/file_io.h"

using namespace testing_support;
using session::PhotoTurnResult;
using session::TurnReport;
using session::TurnWarning;

namespace {

platform::FileTimes TimesAt(long seconds) {
    platform::FileTimes times;
    times.access = {seconds, 5};
    times.modification = {seconds + 100, 7};
    return times;
}

PhotoTurnResult Outcome(const QString& path, PhotoTurnResult::Kind kind,
                        std::optional<platform::FileTimes> kept = std::nullopt) {
    PhotoTurnResult outcome;
    outcome.path = path;
    outcome.kind = kind;
    outcome.kept = kept;
    return outcome;
}

PhotoTurnResult WithWarnings(const QString& path) {
    PhotoTurnResult outcome = Outcome(path, PhotoTurnResult::Kind::Turned);
    outcome.result = platform::Result::DoneBut(platform::Why::NotFlushed, EIO);
    outcome.times = platform::Result::FromErrno(EPERM);
    return outcome;
}

QStringList PathsOf(const std::vector<TurnWarning>& warnings) {
    QStringList paths;
    for (const TurnWarning& warning : warnings)
        paths << warning.path;
    return paths;
}

} // namespace

TEST(TurnReport, KeptTimesAreHandedOutOnceAndOnlyATurnOrFailureDropsThem) {
    using Kind = PhotoTurnResult::Kind;
    TurnReport report;
    report.Take(Outcome("a", Kind::Turned, TimesAt(1000)));
    report.Take(Outcome("b", Kind::Turned, TimesAt(2000)));
    report.Take(Outcome("a", Kind::SkippedByCrop));
    report.Take(Outcome("a", Kind::NoTurn));
    const auto a = report.TakeKeptTimes("a");
    ASSERT_TRUE(a.has_value()) << "a photo left alone keeps what its earlier turn kept";
    EXPECT_EQ(a->access.tv_sec, 1000);
    EXPECT_EQ(a->modification.tv_nsec, 7);
    EXPECT_FALSE(report.TakeKeptTimes("a").has_value()) << "handed out once";

    report.Take(Outcome("b", Kind::Turned)); // turned again without keeping times
    EXPECT_FALSE(report.TakeKeptTimes("b").has_value());
    report.Take(Outcome("c", Kind::Turned, TimesAt(3000)));
    report.Take(Outcome("c", Kind::Failed));
    EXPECT_FALSE(report.TakeKeptTimes("c").has_value()) << "a failed turn set no times";
    report.Take(Outcome("d", Kind::Turned, TimesAt(4000)));
    report.ForgetKeptTimes("d");
    EXPECT_FALSE(report.TakeKeptTimes("d").has_value());
}

TEST(TurnReport, RestoringSetsTheKeptTimesOnTheFileOnce) {
    TempDir dir;
    const QString path = dir.qfile("a.jpg");
    WriteFile(path.toStdString(), Bytes{1, 2, 3});
    TurnReport report;
    EXPECT_FALSE(report.RestoreKeptTimes(path, nullptr)) << "nothing kept";
    report.Take(Outcome(path, PhotoTurnResult::Kind::Turned, TimesAt(1000000000)));
    ASSERT_TRUE(platform::SetFileTimes(path.toStdString(), TimesAt(1200000000)).ok());

    EXPECT_TRUE(report.RestoreKeptTimes(path, nullptr));
    platform::FileTimes now;
    ASSERT_TRUE(platform::GetFileTimes(path.toStdString(), now).ok());
    EXPECT_EQ(now.access.tv_sec, 1000000000);
    EXPECT_EQ(now.modification.tv_sec, 1000000100);
    EXPECT_EQ(now.modification.tv_nsec, 7);
    EXPECT_FALSE(report.RestoreKeptTimes(path, nullptr)) << "once";

    report.Take(Outcome(dir.qfile("gone.jpg"), PhotoTurnResult::Kind::Turned, TimesAt(1000)));
    EXPECT_FALSE(report.RestoreKeptTimes(dir.qfile("gone.jpg"), nullptr));
}

TEST(TurnReport, WarningsComeAtOnceUnlessHeldUntilTheOutermostHoldEnds) {
    TurnReport report;
    report.Take(WithWarnings("a"));
    report.Take(Outcome("x", PhotoTurnResult::Kind::Turned));
    std::vector<TurnWarning> due = report.TakeDueWarnings();
    ASSERT_EQ(due.size(), 2u);
    EXPECT_EQ(due[0].kind, TurnWarning::Kind::FlushFailed);
    EXPECT_EQ(due[0].result.why(), platform::Why::NotFlushed);
    EXPECT_EQ(due[1].kind, TurnWarning::Kind::TimesNotRestored);
    EXPECT_EQ(due[1].path, "a");
    EXPECT_EQ(due[1].result.error(), EPERM);
    EXPECT_TRUE(report.TakeDueWarnings().empty()) << "each shown once";

    report.Hold();
    report.Take(WithWarnings("b"));
    EXPECT_TRUE(report.TakeDueWarnings().empty()) << "held during the command";
    report.Hold(); // a command inside the command
    report.Take(WithWarnings("c"));
    EXPECT_TRUE(report.Release().empty()) << "the outer command still holds them";
    report.Take(Outcome("d", PhotoTurnResult::Kind::Failed));
    EXPECT_TRUE(report.TakeDueWarnings().empty());
    due = report.Release();
    EXPECT_EQ(PathsOf(due), (QStringList{"b", "b", "c", "c"}));
    EXPECT_TRUE(report.Release().empty()) << "a release without a hold holds nothing back";
    report.Take(WithWarnings("e"));
    EXPECT_EQ(report.TakeDueWarnings().size(), 2u) << "no hold left over";
}
