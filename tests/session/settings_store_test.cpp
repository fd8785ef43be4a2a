// SPDX-License-Identifier: GPL-3.0-or-later
#include "session/settings_store.h"
#include "support/small_disk.h"
#include "support/temp_dir.h"

#include <QDir>
#include <QFile>

#include <unistd.h>

#include <cerrno>
#include <gtest/gtest.h>
#include <sys/stat.h>

using session::SettingsStore;

namespace {

SettingsStore Parsed(const QString& body) {
    SettingsStore store;
    store.parse("Windows Registry Editor Version 5.00\n\n[" + SettingsStore::kKeyPath + "]\n" +
                body);
    return store;
}

} // namespace

TEST(SettingsStore, KindsRoundTripAndStayApart) {
    SettingsStore store;
    store.writeString("LastFolder", "/home/a \"quoted\" \\ path");
    store.writeInteger("ThumbsInRow", 7);
    store.writeBool("WinMax", true);
    SettingsStore back;
    back.parse(store.serialize());
    EXPECT_EQ(back.readString("lastfolder", {}), "/home/a \"quoted\" \\ path");
    EXPECT_EQ(back.find("ThumbsInRow")->kind, SettingsStore::Kind::Number);
    EXPECT_EQ(back.readInteger("ThumbsInRow", 0), 7);
    EXPECT_EQ(back.find("WinMax")->kind, SettingsStore::Kind::Text);
    EXPECT_EQ(back.find("WinMax")->text, "1");
    EXPECT_TRUE(back.readBool("WinMax", false));
}

TEST(SettingsStore, IntegersStoredAsTextStayText) {
    SettingsStore store = Parsed("\"WinWidth\"=\"900\"\n\"WinHeight\"=dword:00000258\n");
    EXPECT_EQ(store.readInteger("WinWidth", 800), 900);
    store.writeInteger("WinWidth", 950);
    store.writeInteger("WinHeight", 640);
    EXPECT_EQ(store.find("WinWidth")->kind, SettingsStore::Kind::Text);
    EXPECT_EQ(store.find("WinWidth")->text, "950");
    EXPECT_EQ(store.find("WinHeight")->kind, SettingsStore::Kind::Number);
    EXPECT_TRUE(store.serialize().contains("\"WinHeight\"=dword:00000280"));
}

TEST(SettingsStore, TruthValuesAsTextOrNumber) {
    EXPECT_TRUE(Parsed("\"WinMax\"=\"1\"\n").readBool("WinMax", false));
    EXPECT_TRUE(Parsed("\"WinMax\"=dword:00000001\n").readBool("WinMax", false));
    EXPECT_TRUE(Parsed("\"WinMax\"=\"7\"\n").readBool("WinMax", false));
    EXPECT_FALSE(Parsed("\"WinMax\"=\"yes\"\n").readBool("WinMax", false));
    EXPECT_EQ(Parsed("\"ThumbsInRow\"=dword:ffffffff\n").readInteger("ThumbsInRow", 5), -1);
    // A value of an unexpected kind counts as missing.
    EXPECT_EQ(Parsed("\"WinWidth\"=hex:01,02\n").readInteger("WinWidth", 800), 800);
    EXPECT_EQ(Parsed("\"Language\"=dword:00000001\n").readString("Language", "none"), "none");
}

TEST(SettingsStore, GarbageGivesDefaultsAndKeepsWhatParses) {
    SettingsStore store = Parsed("\x01\x02 "
                                 "garbage\n\"WinWidth\n\"WinTop\"=dword:zz\n\"WinLeft\"=dword:"
                                 "00000010\n[other]\n\"x\"=\"y\"\n");
    EXPECT_EQ(store.readInteger("WinTop", 42), 42);
    EXPECT_EQ(store.readInteger("WinLeft", 0), 16);
    EXPECT_TRUE(store.serialize().contains("[other]")) << "other keys are written back";
    SettingsStore truncated = Parsed("\"LastFolder\"=\"/home/unfinished");
    EXPECT_FALSE(truncated.exists("LastFolder"));
    EXPECT_EQ(Parsed("\"WinMax\"=hex:01\n").serialize().count("hex:01"), 1) << "no value deleted";
}

TEST(SettingsStore, SaveReplacesOrLeavesTheOldFile) {
    testing_support::TempDir dir;
    const QString path = dir.qfile("cfg/Varlo/Tulvex/settings.reg");
    SettingsStore store;
    store.writeString("LastFolder", "/photos");
    ASSERT_TRUE(store.save(path).ok());
    SettingsStore back;
    ASSERT_TRUE(back.load(path).ok());
    EXPECT_EQ(back.readString("LastFolder", {}), "/photos");

    // A store that cannot be written leaves the old one.
    testing_support::SmallDisk disk(dir.file("cfg/Varlo/Tulvex"), 256);
    if (!disk.mounted()) GTEST_SKIP() << "cannot mount a small file system here (needs root)";
    ASSERT_TRUE(store.save(path).ok());
    ASSERT_TRUE(disk.makeReadOnly());
    store.writeString("LastFolder", "/elsewhere");
    const platform::Result refused = store.save(path);
    EXPECT_EQ(refused.error(), EROFS) << "the reason is kept, not only the failure";
    EXPECT_TRUE(back.load(path).ok());
    EXPECT_EQ(back.readString("LastFolder", {}), "/photos");
}

TEST(SettingsStore, TheFileAndTheFoldersMadeForItAreTheUsersAlone) {
    testing_support::TempDir dir;
    const auto modeOf = [](const QString& path) {
        struct stat st {};
        return ::lstat(QFile::encodeName(path).constData(), &st) == 0 ? st.st_mode & 07777 : 0;
    };
    const mode_t oldMask = ::umask(022);
    SettingsStore store;
    store.writeString("LastFolder", "/photos/private");
    const bool saved = store.save(dir.qfile("cfg/Varlo/Tulvex/settings.reg")).ok();
    ::umask(oldMask);
    ASSERT_TRUE(saved);
    EXPECT_EQ(modeOf(dir.qfile("cfg/Varlo/Tulvex/settings.reg")), 0600u);
    EXPECT_EQ(modeOf(dir.qfile("cfg/Varlo/Tulvex")), 0700u);
    EXPECT_EQ(modeOf(dir.qfile("cfg")), 0700u);
    EXPECT_EQ(QDir(dir.qfile("cfg/Varlo/Tulvex"))
                  .entryList(QDir::AllEntries | QDir::Hidden | QDir::NoDotAndDotDot),
              QStringList{"settings.reg"});
}

TEST(SettingsStore, DefaultPathFollowsXdgConfigHome) {
    const QByteArray saved = qgetenv("XDG_CONFIG_HOME");
    qputenv("XDG_CONFIG_HOME", "/somewhere/config");
    EXPECT_EQ(SettingsStore::DefaultPath(), "/somewhere/config/Varlo/Tulvex/settings.reg");
    qputenv("XDG_CONFIG_HOME", "relative/is/ignored");
    EXPECT_TRUE(SettingsStore::DefaultPath().endsWith("/.config/Varlo/Tulvex/settings.reg"));
    qputenv("XDG_CONFIG_HOME", saved);
}

TEST(SettingsStore, AwkwardTextRoundTripsThroughTheFile) {
    const QString surrogatePair = QString::fromUtf16(u"\U0001F600");
    const QStringList awkward{
        "/photos/line\nbreak",
        "carriage\rreturn and \r\n pair",
        QString::fromLatin1("nul\0inside", 10),
        "tab\tbell\abackspace\bescape\x1b del\x7f",
        QString::fromUtf16(u"C1 \u0085 next line, \u2028 separator \u2029"),
        "\\ backslash, \\\\ two, \\n not a break, \\u0041 not a code",
        "\"quoted\" \" \\\"",
        "  leading and trailing spaces  ",
        "ends with a backslash \\",
        QString::fromUtf16(u"Caf\u00e9 \u65e5\u672c ") + surrogatePair,
        QString(QChar(0xD800)) + "lone high, lone low" + QChar(0xDC00),
        "",
    };
    SettingsStore store;
    for (int i = 0; i < awkward.size(); ++i)
        store.writeString(QStringLiteral("MRU%1").arg(i), awkward[i]);
    store.writeInteger("ThumbsInRow", 4);

    testing_support::TempDir dir;
    const QString path = dir.qfile("settings.reg");
    ASSERT_TRUE(store.save(path).ok());
    SettingsStore back;
    ASSERT_TRUE(back.load(path).ok());
    for (int i = 0; i < awkward.size(); ++i)
        EXPECT_EQ(back.readString(QStringLiteral("MRU%1").arg(i), "missing"), awkward[i])
            << "value " << i;
    // Every value kept to its own line: the one after them all still reads.
    EXPECT_EQ(back.readInteger("ThumbsInRow", 0), 4);
    EXPECT_EQ(back.valueNames().size(), awkward.size() + 1);
}

TEST(SettingsStore, FilesOfTheEarlierFormStillLoad) {
    // Backslash escapes of quotes and backslashes, CRLF line ends, a "\u" that is not a code.
    const SettingsStore store = Parsed("\"LastFolder\"=\"C:\\\\temp\\\\\\\"x\\\"\"\r\n"
                                       "\"MRU0\"=\"/a\\\\u12\"\r\n"
                                       "\"MRU1\"=\"/a\\\\uzzzz\\q\"\r\n"
                                       "\"MRU2\"=\"/b\\u12\"\r\n"
                                       "\"WinWidth\"=dword:00000384\r\n");
    EXPECT_EQ(store.readString("LastFolder", {}), "C:\\temp\\\"x\"");
    EXPECT_EQ(store.readString("MRU0", {}), "/a\\u12");
    EXPECT_EQ(store.readString("MRU1", {}), "/a\\uzzzzq");
    EXPECT_EQ(store.readString("MRU2", {}), "/bu12");
    EXPECT_EQ(store.readInteger("WinWidth", 0), 900);
}
