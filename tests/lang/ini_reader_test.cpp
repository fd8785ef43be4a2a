// SPDX-License-Identifier: GPL-3.0-or-later
#include "lang/ini_reader.h"

#include <gtest/gtest.h>

using lang::IniFile;

TEST(IniReader, ReadingRules) {
    const IniFile ini = IniFile::Parse("[other]\r\nKey=wrong\r\n"
                                       "[translations]\r\n"
                                       "formtulvex.actionopen.caption = Bild anzeigen \r\n"
                                       "Quoted=\"  padded  \"\r\n"
                                       "Single='x'\r\n"
                                       "Half=\"open\r\n"
                                       "Empty=\r\n"
                                       "Equals=a=b\r\n"
                                       "Key=first\r\nKey=second\r\n");
    EXPECT_EQ(ini.read("Translations", "FormTulvex.ActionOpen.Caption", "def"), "Bild anzeigen");
    EXPECT_EQ(ini.read("TRANSLATIONS", "quoted", "def"), "  padded  ");
    EXPECT_EQ(ini.read("Translations", "Single", "def"), "x");
    EXPECT_EQ(ini.read("Translations", "Half", "def"), "\"open");
    EXPECT_EQ(ini.read("Translations", "Empty", "def"), "") << "an empty value is not the default";
    EXPECT_EQ(ini.read("Translations", "Equals", "def"), "a=b");
    EXPECT_EQ(ini.read("Translations", "Key", "def"), "first");
    EXPECT_EQ(ini.read("Translations", "Missing", "def"), "def");
    EXPECT_EQ(ini.read("Messages", "Key", "def"), "def");
}

TEST(IniReader, LengthEncodingAndMissingFiles) {
    const QByteArray longValue(3000, 'v');
    EXPECT_EQ(IniFile::Parse("[s]\nk=" + longValue).read("s", "k", {}).size(), 2047);
    EXPECT_EQ(IniFile::Parse("[s]\nk=Gr\xfc\xdf"
                             "e")
                  .read("s", "k", {}),
              QString::fromUtf8("Grüße"));
    EXPECT_EQ(IniFile::Parse("\xEF\xBB\xBF[s]\nk=Gr\xc3\xbc\xc3\x9f"
                             "e")
                  .read("s", "k", {}),
              QString::fromUtf8("Grüße"));
    const IniFile missing = IniFile::Load("/nonexistent/file.lng");
    EXPECT_FALSE(missing.isLoaded());
    EXPECT_EQ(missing.read("s", "k", "fallback"), "fallback");
    EXPECT_EQ(IniFile::Load(QString()).read("s", "k", "fallback"), "fallback");
}
