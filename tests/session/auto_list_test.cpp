// SPDX-License-Identifier: GPL-3.0-or-later
#include "session/auto_list.h"

#include <gtest/gtest.h>

using session::AutoList;
using session::TurnKind;

namespace {

AutoList ListOf(std::initializer_list<std::pair<const char*, int>> entries) {
    AutoList list;
    for (const auto& [path, value] : entries)
        list.push_back({QString::fromUtf8(path), value});
    return list;
}

} // namespace

TEST(AutoList, OnlyPhotosStoredTurnedAreListed) {
    AutoList list;
    for (const int orientation : {1, 2, 3, 4, 5, 6, 7, 8, 0, 9, -3, 65539})
        list.NoteOrientation(QStringLiteral("/p/%1.jpg").arg(orientation), orientation);
    ASSERT_EQ(list.size(), 3u);
    EXPECT_EQ(list[0].value, 3);
    EXPECT_EQ(list[1].value, 6);
    EXPECT_EQ(list[2].value, 8);
    EXPECT_EQ(list[2].path, "/p/8.jpg");
}

TEST(AutoList, AManualTurnDelistsWhatItMadeUprightAndNotesTheRest) {
    AutoList list = ListOf({{"/p/a.jpg", 6}, {"/p/b.jpg", 6}, {"/p/c.jpg", 8}});
    list.NoteTurn("/p/b.jpg", 3, TurnKind::Manual);
    EXPECT_EQ(list[1].value, 3) << "turned left from 6: upside down now";
    list.NoteTurn("/p/c.jpg", std::nullopt, TurnKind::Manual);
    EXPECT_EQ(list[2].value, 8) << "no orientation written: left as it was";
    list.NoteTurn("/p/A.jpg", 1, TurnKind::Manual);
    EXPECT_EQ(list.size(), 3u) << "names equal but for case are other photos";
    list.NoteTurn("/p/a.jpg", 1, TurnKind::Manual);
    ASSERT_EQ(list.size(), 2u);
    EXPECT_EQ(list[0].path, "/p/b.jpg");
    EXPECT_EQ(list.IndexOf("/p/c.jpg"), 1);
    EXPECT_EQ(list.IndexOf("/p/a.jpg"), -1);
}

TEST(AutoList, TheAutomaticPassMarksAndOnlyThePurgeDelists) {
    AutoList list = ListOf({{"/p/a.jpg", 6}, {"/p/b.jpg", 3}, {"/p/c.jpg", 8}});
    list.NoteTurn("/p/a.jpg", 1, TurnKind::Automatic);
    list.NoteTurn("/p/c.jpg", 3, TurnKind::Automatic);
    ASSERT_EQ(list.size(), 3u) << "indices hold during the pass";
    EXPECT_EQ(list[0].value, 0);
    EXPECT_EQ(list[1].value, 3);
    EXPECT_EQ(list[2].value, 0);
    list.PurgeHandled();
    ASSERT_EQ(list.size(), 1u);
    EXPECT_EQ(list[0].path, "/p/b.jpg");
}
