// SPDX-License-Identifier: GPL-3.0-or-later
#include "lang/word_wrap.h"

#include <QStringList>

#include <gtest/gtest.h>

using lang::WrapText;

TEST(WrapText, BreaksAfterSpacesWithinFiftyColumnsAndKeepsBlankLines) {
    const QString text = QStringLiteral(
        "Tulvex has detected 3 images that can be automatically transformed to normal orientation."
        "\r\n\r\nWould you like to transform them now?");
    const QString wrapped = WrapText(text);
    const QStringList lines = wrapped.split(QStringLiteral("\r\n"));
    ASSERT_GE(lines.size(), 4);
    for (const QString& line : lines)
        EXPECT_LE(line.size(), 50) << line.toStdString();
    EXPECT_TRUE(lines.contains(QString())) << "the blank line between the sentences stays";
    EXPECT_EQ(QString(wrapped).remove(QStringLiteral("\r\n")),
              QString(text).remove(QStringLiteral("\r\n")));
    EXPECT_TRUE(lines[0].endsWith(u' ')) << "the break character stays at the end of its line";
}

TEST(WrapText, HyphensTabsQuotesAndUnbreakableLines) {
    const QString hyphens = QString("well-known-") + QString(45, u'x') + QStringLiteral(" end");
    EXPECT_TRUE(WrapText(hyphens).startsWith(QStringLiteral("well-known-\r\n")));

    // A tab is a break chance like a space: here the only one, so the line ends after it.
    const QString tabbed = QString(30, u'a') + u'\t' + QString(30, u'b');
    EXPECT_EQ(WrapText(tabbed), QString(30, u'a') + QStringLiteral("\t\r\n") + QString(30, u'b'));

    const QString quoted = QStringLiteral(
        "Cannot open \"/a very long folder name/with spaces in it/and more of them\" now");
    const QString wrapped = WrapText(quoted);
    EXPECT_TRUE(wrapped.contains(
        QStringLiteral("\"/a very long folder name/with spaces in it/and more of them\"")));

    const QString word(80, u'w');
    EXPECT_EQ(WrapText(word), word);
    EXPECT_EQ(WrapText(QStringLiteral("short")), QStringLiteral("short"));
    EXPECT_EQ(WrapText(QString()), QString());
    // Only break characters left after the point reached: no line break added at the end.
    const QString trailing = QString(49, u'a') + QStringLiteral(" b   ");
    EXPECT_FALSE(WrapText(trailing).endsWith(QStringLiteral("\r\n")));
}

// The break character that ends a line does not count toward the 50 columns: the cut is decided
// when a line's 51st character is read, and a space read as that 51st character still ends the
// line, so a line holds up to 50 characters and then its break character. (At the very end of
// the text no line break is added, so every case here goes on after the line it measures.)
TEST(WrapText, FiftyColumnsFitAndTheFiftyFirstCutsWithTheClosingSpaceNotCounted) {
    const QString a(24, u'a');
    const QString b26(26, u'b');
    const QString fifty = a + u' ' + QString(25, u'b');
    const QString fiftyOne = a + u' ' + b26;
    const QString next = QStringLiteral(" next words");
    ASSERT_EQ(fifty.size(), 50);
    ASSERT_EQ(fiftyOne.size(), 51);
    EXPECT_EQ(WrapText(fifty + next), fifty + QStringLiteral(" \r\nnext words"));
    EXPECT_EQ(WrapText(fiftyOne + next), a + QStringLiteral(" \r\n") + b26 + next);

    // The count starts again after an inserted line break...
    const QString rest50 = b26 + u' ' + QString(23, u'c');
    const QString rest51 = b26 + u' ' + QString(24, u'c');
    EXPECT_EQ(WrapText(a + u' ' + rest50 + next),
              a + QStringLiteral(" \r\n") + rest50 + QStringLiteral(" \r\nnext words"));
    EXPECT_EQ(WrapText(a + u' ' + rest51 + next), a + QStringLiteral(" \r\n") + b26 +
                                                      QStringLiteral(" \r\n") + QString(24, u'c') +
                                                      next);
    // ...and after one already in the text.
    const QString earlier = QStringLiteral("ab\r\n");
    EXPECT_EQ(WrapText(earlier + fifty + next),
              earlier + fifty + QStringLiteral(" \r\nnext words"));
    EXPECT_EQ(WrapText(earlier + fiftyOne + next),
              earlier + a + QStringLiteral(" \r\n") + b26 + next);
}
