// SPDX-License-Identifier: GPL-3.0-or-later
#include "session/delete_photos.h"
#include "support/english.h"
#include "support/temp_dir.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>

#include <gtest/gtest.h>

using testing_support::English;

using session::DeletePhotos;
using session::DeleteResult;

namespace {

class DeletePhotosTest : public ::testing::Test {
protected:
    QString Photo(const QString& name) {
        const QString path = m_dir.qfile(name);
        QFile file(path);
        EXPECT_TRUE(file.open(QIODevice::WriteOnly));
        file.write("x");
        return path;
    }
    // Stands in for the desktop trash: renames into a folder of the test and notes the order.
    session::TrashCall FakeTrash(QStringList* order, const QString& refuse = {}) {
        const QString bin = m_dir.mkdir(QStringLiteral("bin"));
        return [bin, order, refuse](const QString& path) {
            *order << QFileInfo(path).fileName();
            if (path == refuse)
                return platform::Result::FromErrno(EACCES, platform::Why::PhotoReadOnly);
            if (!QDir().rename(path, bin + u'/' + QFileInfo(path).fileName()))
                return platform::Result::FromErrno(EIO);
            return platform::Result();
        };
    }
    static QStringList PathsOf(const session::ThumbList& list) {
        QStringList paths;
        for (const auto& entry : list)
            paths << entry.path;
        return paths;
    }

    testing_support::TempDir m_dir;
};

} // namespace

TEST_F(DeletePhotosTest, OneQuestionThenTrashesTheExistingInOrderAndDelistsThem) {
    const QString a = Photo("a.jpg"), b = Photo("b.jpg"), c = Photo("c.jpg");
    const QString gone = m_dir.qfile("gone.jpg");
    session::ThumbList thumbs{{a, {}}, {b, {}}, {gone, {}}, {c, {}}};
    session::AutoList autoList;
    autoList.push_back({c, 6});
    autoList.push_back({b, 8});
    QStringList asked, order;
    const auto outcomes = DeletePhotos(
        {c, gone, a},
        [&](int count) {
            asked << QString::number(count);
            return true;
        },
        {&thumbs, &autoList}, FakeTrash(&order));
    EXPECT_EQ(asked, QStringList{"2"}) << "asked once, for the photos that exist";
    EXPECT_EQ(order, (QStringList{"c.jpg", "a.jpg"}));
    ASSERT_EQ(outcomes.size(), 2u);
    EXPECT_EQ(outcomes[0].path, c);
    EXPECT_EQ(outcomes[1].path, a);
    for (const DeleteResult& outcome : outcomes) {
        EXPECT_EQ(outcome.kind, DeleteResult::Kind::Trashed);
        EXPECT_TRUE(outcome.delisted);
    }
    EXPECT_EQ(PathsOf(thumbs), (QStringList{b, gone})) << "a file missing beforehand stays listed";
    ASSERT_EQ(autoList.size(), 1u);
    EXPECT_EQ(autoList[0].path, b);

    // Without a question the photos go straight away.
    order.clear();
    const auto quiet = DeletePhotos({b}, {}, {&thumbs, &autoList}, FakeTrash(&order));
    ASSERT_EQ(quiet.size(), 1u);
    EXPECT_EQ(quiet[0].kind, DeleteResult::Kind::Trashed);
    EXPECT_EQ(PathsOf(thumbs), QStringList{gone});
    EXPECT_TRUE(autoList.empty());
}

TEST_F(DeletePhotosTest, ADeclinedOrEmptyDeleteTouchesNothing) {
    const QString a = Photo("a.jpg");
    session::ThumbList thumbs{{a, {}}};
    session::AutoList autoList;
    autoList.push_back({a, 3});
    QStringList order;
    int questions = 0;
    const auto no = [&](int) {
        ++questions;
        return false;
    };
    const auto declined = DeletePhotos({a}, no, {&thumbs, &autoList}, FakeTrash(&order));
    ASSERT_EQ(declined.size(), 1u);
    EXPECT_EQ(declined[0].kind, DeleteResult::Kind::Declined);
    EXPECT_FALSE(declined[0].delisted);
    EXPECT_TRUE(order.isEmpty());
    EXPECT_TRUE(QFileInfo::exists(a));
    EXPECT_EQ(PathsOf(thumbs), QStringList{a});
    EXPECT_EQ(autoList.size(), 1u);

    const auto none = DeletePhotos({m_dir.qfile("gone.jpg"), QString()}, no, {&thumbs, &autoList},
                                   FakeTrash(&order));
    EXPECT_TRUE(none.empty());
    EXPECT_EQ(questions, 1) << "nothing to delete: nothing asked";
}

TEST_F(DeletePhotosTest, WhatTheTrashRefusesStaysListedAndTheRestGoOn) {
    const QString a = Photo("a.jpg"), b = Photo("b.jpg");
    session::ThumbList thumbs{{a, {}}, {b, {}}};
    session::AutoList autoList;
    autoList.push_back({a, 6});
    QStringList order;
    const auto outcomes = DeletePhotos({a, b}, {}, {&thumbs, &autoList}, FakeTrash(&order, a));
    EXPECT_EQ(order, (QStringList{"a.jpg", "b.jpg"}));
    ASSERT_EQ(outcomes.size(), 2u);
    EXPECT_EQ(outcomes[0].kind, DeleteResult::Kind::Failed);
    EXPECT_EQ(outcomes[0].result.why(), platform::Why::PhotoReadOnly);
    EXPECT_EQ(outcomes[0].result.kind(), platform::Result::Kind::NoPermission);
    EXPECT_FALSE(outcomes[0].delisted);
    EXPECT_EQ(outcomes[1].kind, DeleteResult::Kind::Trashed);
    EXPECT_TRUE(QFileInfo::exists(a));
    EXPECT_EQ(PathsOf(thumbs), QStringList{a});
    EXPECT_EQ(autoList.size(), 1u);

    // A file gone by the time the lists are brought in step leaves them, whatever the trash said.
    const QString c = Photo("c.jpg");
    thumbs.push_back({c, {}});
    const auto vanished = DeletePhotos({c}, {}, {&thumbs, &autoList}, [](const QString& path) {
        QFile::remove(path);
        return platform::Result::Failure(platform::Result::Kind::Other, platform::Why::None);
    });
    ASSERT_EQ(vanished.size(), 1u);
    EXPECT_EQ(vanished[0].kind, DeleteResult::Kind::Failed);
    EXPECT_TRUE(vanished[0].delisted);
    EXPECT_EQ(PathsOf(thumbs), QStringList{a});
}
