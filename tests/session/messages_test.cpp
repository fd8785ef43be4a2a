// SPDX-License-Identifier: GPL-3.0-or-later
#include "lang/ini_reader.h"
#include "rotate/turn_memory.h"
#include "session/messages.h"

#include <QCoreApplication>
#include <QDir>
#include <QRegularExpression>

#include <algorithm>
#include <cerrno>
#include <cstring>
#include <gtest/gtest.h>
#include <string>
#include <vector>

#include "platform/leftovers.h"
#include "platform/result.h"

using platform::Result;
using platform::Why;
using Kind = Result::Kind;

namespace {

std::string Identity(const std::string& text) {
    return text;
}

std::string English(const session::Message& message) {
    return session::RenderEnglish(message, Identity);
}

// Every template a message uses, its arguments' included.
void CollectFormats(const session::Message& message, std::vector<std::string>& out) {
    if (message.format) out.push_back(message.format);
    for (const session::Message& arg : message.args)
        CollectFormats(arg, out);
}

int Placeholders(const QString& text) {
    return int(text.count(QStringLiteral("%s")));
}

// One result for every reason and for every kind without a reason.
std::vector<Result> EveryReasonAndKind() {
    std::vector<Result> results;
    for (int why = 1; why < int(Why::Count); ++why)
        results.push_back(Result::Failure(Kind::Other, Why(why)).about("/p/a.jpg"));
    results.push_back(Result());
    results.push_back(Result::DoneBut(Why::None));
    for (int kind = int(Kind::NotFound); kind < int(Kind::Count); ++kind)
        results.push_back(Result::Failure(Kind(kind), Why::None));
    return results;
}

} // namespace

TEST(MessageTable, EveryReasonAndKindHasItsOwnSentence) {
    const std::string unknown = English(session::ReasonOf(Result::Failure(Kind::Other, Why::None)));
    for (int why = 1; why < int(Why::Count); ++why) {
        const std::string told = English(session::ReasonOf(Result::Failure(Kind::Other, Why(why))));
        EXPECT_NE(told, unknown) << "reason " << why << " falls back to its kind";
        EXPECT_EQ(told.find("%s"), std::string::npos) << told;
    }
    std::vector<std::string> kinds;
    for (const Result& result : EveryReasonAndKind())
        if (result.why() == Why::None) kinds.push_back(English(session::ReasonOf(result)));
    ASSERT_EQ(kinds.size(), std::size_t(Kind::Count));
    for (std::size_t i = 0; i < kinds.size(); ++i)
        EXPECT_FALSE(kinds[i].empty()) << "kind " << i;
}

TEST(MessageTable, EverySentenceIsInEveryLanguageWithItsPlaceholders) {
    std::vector<std::string> formats;
    for (const char* format : session::AllMessageFormats())
        formats.push_back(format);
    // What the results actually use must be in the list the language files are checked against.
    for (const Result& result : EveryReasonAndKind()) {
        std::vector<std::string> used;
        CollectFormats(session::ReasonOf(result), used);
        for (const std::string& format : used)
            EXPECT_NE(std::find(formats.begin(), formats.end(), format), formats.end()) << format;
    }
    const QString folder = QCoreApplication::applicationDirPath();
    for (const char* name : {"English", "Deutsch", "Español", "Français"}) {
        const lang::IniFile file =
            lang::IniFile::Load(folder + "/" + QString::fromUtf8(name) + QStringLiteral(".lng"));
        ASSERT_TRUE(file.isLoaded()) << name;
        for (const std::string& format : formats) {
            const QString key = QString::fromStdString(format);
            const QString translated = file.read(QStringLiteral("Messages"), key, {});
            EXPECT_FALSE(translated.isEmpty()) << name << ": " << format;
            EXPECT_EQ(Placeholders(translated), Placeholders(key)) << name << ": " << format;
        }
    }
}

TEST(MessageTable, AReasonNamesWhatItConcernsAndTheSystemsCauseInWords) {
    const std::string crossDevice =
        English(session::TrashFailed("a.jpg", Result::FromErrno(EXDEV).about("/p/a.jpg")));
    EXPECT_EQ(crossDevice, "Unable to move \"a.jpg\" to the trash: the photo is on another "
                           "device than the trash, and it is only ever moved, never copied");
    EXPECT_EQ(English(session::ReasonOf(Result::FromErrno(EROFS))), "the disk is read-only");

    const Result refused = Result::Failure(Kind::TooLarge, Why::NeedsMemory)
                               .withFigures(3u << 20, 1u << 20)
                               .within(Why::OtherImage);
    EXPECT_EQ(English(session::TurnFailed("a.jpg", refused)),
              "Unable to rotate a.jpg: an image the photo holds besides the main one cannot be "
              "turned (the photo needs " +
                  rotate::DescribeMemory(3u << 20) + " of memory to turn, more than the " +
                  rotate::DescribeMemory(1u << 20, rotate::Rounding::Down) +
                  " this computer can spare now)");

    const Result kept = Result::FromErrno(EIO).within(Why::TurnedCopyKept, "/p/.a.jpg.keep");
    const std::string told = English(session::ReasonOf(kept));
    EXPECT_EQ(told.rfind("the disk reported an error while reading or writing; the turned photo "
                         "is complete in /p/.a.jpg.keep",
                         0),
              0u)
        << told;
    EXPECT_EQ(told.find("tulvex-cli"), std::string::npos);

    // An error number with no sentence of its own still says what the system said.
    EXPECT_EQ(English(session::ReasonOf(Result::FromErrno(ENOTCONN))),
              std::string("the system reports: ") + std::strerror(ENOTCONN));
}

TEST(MessageTable, TranslatesEveryPartAndFillsTheNames) {
    const session::Message message = session::TrashFailed(
        "a.jpg", Result::Failure(Kind::Other, Why::TrashDamaged).about("/t/.Trash-0"));
    const QString shown = session::Render(message, [](const QString& english) {
        return QStringLiteral("<") + english + QStringLiteral(">");
    });
    EXPECT_EQ(shown, "<Unable to move \"a.jpg\" to the trash: <the trash folder /t/.Trash-0 is "
                     "damaged>>");
}

TEST(MessageTable, ALeftoverIsToldWithThePhotoAndItsCopyInTheirPlaces) {
    platform::LeftoverResult failed;
    failed.status = platform::LeftoverResult::Status::Failed;
    failed.result = Result::FromErrno(EROFS);
    const auto told = session::LeftoverMessage(failed, "/p/a.jpg", "/p/.a.jpg.keep");
    ASSERT_TRUE(told.has_value());
    EXPECT_EQ(English(*told), "The interrupted turn of /p/a.jpg could not be finished (the disk is "
                              "read-only); its complete turned copy stays in /p/.a.jpg.keep.");

    platform::LeftoverResult finished;
    finished.status = platform::LeftoverResult::Status::Finished;
    EXPECT_EQ(English(*session::LeftoverMessage(finished, "/p/a.jpg", "/p/.a.jpg.keep")),
              "The interrupted turn of /p/a.jpg was finished from its complete copy.");
    platform::LeftoverResult removed;
    removed.status = platform::LeftoverResult::Status::Removed;
    EXPECT_FALSE(session::LeftoverMessage(removed, "/p/a.jpg", "/p/.a.jpg.keep").has_value());
}
