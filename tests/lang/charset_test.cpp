// SPDX-License-Identifier: GPL-3.0-or-later
#include "lang/charset.h"
#include "lang/ini_reader.h"

#include <QCoreApplication>
#include <QDir>
#include <QFile>

#include <gtest/gtest.h>

using namespace lang;

TEST(Charset, Utf8ValidityFollowsTheStrictForm) {
    EXPECT_TRUE(IsValidUtf8(""));
    EXPECT_TRUE(IsValidUtf8("plain ASCII"));
    EXPECT_TRUE(IsValidUtf8("Caf\xC3\xA9 \xE2\x82\xAC \xF0\x9F\x98\x80 \xF4\x8F\xBF\xBF"));
    EXPECT_FALSE(IsValidUtf8("Caf\xE9"));              // Latin-1
    EXPECT_FALSE(IsValidUtf8("\xC3"));                 // cut at the end
    EXPECT_FALSE(IsValidUtf8("\xE2\x82"));             // cut at the end
    EXPECT_FALSE(IsValidUtf8("\xE2\x28\xA1"));         // bad continuation
    EXPECT_FALSE(IsValidUtf8("\xA9"));                 // stray continuation
    EXPECT_FALSE(IsValidUtf8("\xC0\xAF"));             // overlong "/"
    EXPECT_FALSE(IsValidUtf8("\xE0\x80\xAF"));         // overlong "/"
    EXPECT_FALSE(IsValidUtf8("\xF0\x80\x80\xAF"));     // overlong "/"
    EXPECT_FALSE(IsValidUtf8("\xED\xA0\x80"));         // a surrogate
    EXPECT_FALSE(IsValidUtf8("\xF4\x90\x80\x80"));     // above U+10FFFF
    EXPECT_FALSE(IsValidUtf8("\xF8\x88\x80\x80\x80")); // five-byte form
}

TEST(Charset, ExifTextIsUtf8OrWindows1252) {
    EXPECT_EQ(DecodeUtf8OrWindows1252("Caf\xC3\xA9"), QString::fromUtf16(u"Caf\u00E9"));
    EXPECT_EQ(DecodeUtf8OrWindows1252("Caf\xE9"), QString::fromUtf16(u"Caf\u00E9"));
    // Where Windows-1252 differs from Latin-1: the euro, typographic quotes, a trade mark.
    EXPECT_EQ(DecodeUtf8OrWindows1252("\x80 \x93x\x94 \x99 \x9F"),
              QString::fromUtf16(u"\u20AC \u201Cx\u201D \u2122 \u0178"));
    // Bytes it leaves undefined keep their C1 code points rather than vanishing.
    EXPECT_EQ(DecodeUtf8OrWindows1252("a\x81\x8D\x8F\x90\x9D"),
              QString::fromUtf16(u"a\u0081\u008D\u008F\u0090\u009D"));
    // One invalid byte anywhere makes the whole value 8-bit, UTF-8 looking parts included.
    EXPECT_EQ(DecodeUtf8OrWindows1252("\xC3\xA9\xFF"), QString::fromUtf16(u"\u00C3\u00A9\u00FF"));
    EXPECT_EQ(DecodeUtf8OrWindows1252(QByteArray("a\0b", 3)), QString::fromLatin1("a\0b", 3));
}

TEST(Charset, LanguageFilesWithAndWithoutMark) {
    const auto read = [](const QByteArray& bytes) {
        return IniFile::Parse(bytes).read("Messages", "Delete", {});
    };
    const QString loeschen = QString::fromUtf16(u"L\u00F6schen");
    EXPECT_EQ(read("\xEF\xBB\xBF[Messages]\r\nDelete=L\xC3\xB6schen\r\n"), loeschen);
    EXPECT_EQ(read("[Messages]\r\nDelete=L\xC3\xB6schen\r\n"), loeschen);
    EXPECT_EQ(read("[Messages]\r\nDelete=L\xF6schen\r\n"), loeschen);
    // With a mark the text is UTF-8 even where a byte is broken: it is not read as 8-bit.
    EXPECT_EQ(read("\xEF\xBB\xBF[Messages]\nDelete=L\xF6schen\n"),
              QString::fromUtf16(u"L\uFFFDschen"));
    EXPECT_EQ(read("[Messages]\nDelete=\x80 \x84Zitat\x93\n"),
              QString::fromUtf16(u"\u20AC \u201EZitat\u201C"));
}

TEST(Charset, ShippedLanguageFilesAreWellFormed) {
    // Each shipped file reads as intended: no replacement characters, none of the marks of
    // UTF-8 read as 8-bit ("Ã" before another accented letter).
    const QDir folder(QCoreApplication::applicationDirPath());
    const QStringList names = folder.entryList({"*.lng"}, QDir::Files);
    ASSERT_GE(names.size(), 4);
    for (const QString& name : names) {
        QFile file(folder.filePath(name));
        ASSERT_TRUE(file.open(QIODevice::ReadOnly)) << name.toStdString();
        const QString text = DecodeLanguageText(file.readAll());
        EXPECT_FALSE(text.contains(QChar(0xFFFD))) << name.toStdString();
        EXPECT_FALSE(text.contains(QChar(0xC3))) << name.toStdString();
        EXPECT_FALSE(text.startsWith(QChar(0xFEFF))) << name.toStdString();
    }
}
