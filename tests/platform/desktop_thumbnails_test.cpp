// SPDX-License-Identifier: GPL-3.0-or-later
#include "support/own_folders.h"
#include "support/temp_dir.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>

#include <gtest/gtest.h>

#include "platform/desktop_thumbnails.h"

using testing_support::ScopedEnv;
using testing_support::TempDir;

namespace {

void Put(const QString& path) {
    ASSERT_TRUE(QDir().mkpath(QFileInfo(path).path()));
    QFile file(path);
    ASSERT_TRUE(file.open(QIODevice::WriteOnly));
    file.write("png");
}

// A cache below `home` holding the thumbnails of one photo in a size folder and a fail folder,
// and a decoy folder outside it holding files of the same names where a link may lead.
class DesktopThumbnails : public ::testing::Test {
protected:
    void SetUp() override {
        photo = home.qfile("photos/a b.jpg");
        Put(photo);
        for (const QByteArray& uri : platform::DesktopThumbnailUris(photo))
            names << platform::DesktopThumbnailName(uri);
        ASSERT_FALSE(names.isEmpty());
    }

    QString Cache() const { return home.qfile("cache"); }
    QString Thumbnails() const { return Cache() + "/thumbnails"; }

    void PutThumbnailsIn(const QString& folder) const {
        for (const QString& name : names)
            Put(folder + '/' + name);
    }
    // Every thumbnail of the photo present in `folder`, or none.
    void ExpectAll(const QString& folder, bool present, const std::string& what) const {
        for (const QString& name : names)
            EXPECT_EQ(QFile::exists(folder + '/' + name), present) << what;
    }
    // Makes `below` (relative to the cache folder) a link to a decoy folder that holds, at each
    // of `decoyPaths`, the files a removal through the link would reach.
    QString LinkToDecoy(const QString& below, const QStringList& decoyPaths) const {
        const QString decoy = home.qfile("decoy");
        for (const QString& sub : decoyPaths)
            PutThumbnailsIn(decoy + sub);
        const QString link = Cache() + '/' + below;
        EXPECT_TRUE(QDir().mkpath(QFileInfo(link).path()));
        EXPECT_TRUE(QFile::link(decoy, link)) << below.toStdString();
        return decoy;
    }

    TempDir home;
    ScopedEnv cache{"XDG_CACHE_HOME", home.qfile("cache")};
    QString photo;
    QStringList names;
};

TEST_F(DesktopThumbnails, ALinkedFolderIsPassedOverAndTheRealOnesAreStillCleaned) {
    struct Case {
        QString link;
        QStringList decoyPaths; // where, below the decoy, a removal through the link would go
        QStringList realFolders;
    };
    const std::vector<Case> cases = {
        {"thumbnails/normal", {""}, {"large", "fail/app"}},
        {"thumbnails/fail/app", {""}, {"large", "normal"}},
        {"thumbnails/fail", {"/app"}, {"large", "normal"}},
        {"thumbnails", {"/normal", "/fail/app"}, {}},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.link.toStdString());
        ASSERT_TRUE(QDir(Cache()).removeRecursively());
        ASSERT_TRUE(QDir(home.qfile("decoy")).removeRecursively());
        for (const QString& real : c.realFolders)
            PutThumbnailsIn(Thumbnails() + '/' + real);
        const QString decoy = LinkToDecoy(c.link, c.decoyPaths);

        platform::RemoveDesktopThumbnails(photo);

        for (const QString& sub : c.decoyPaths)
            ExpectAll(decoy + sub, true, "the decoy behind the link is left");
        for (const QString& real : c.realFolders)
            ExpectAll(Thumbnails() + '/' + real, false, real.toStdString() + " is cleaned");
    }
}

TEST_F(DesktopThumbnails, ALinkedCacheFolderIsTheUsersOwnAndFollowed) {
    const QString elsewhere = home.qfile("other-disk/cache");
    PutThumbnailsIn(elsewhere + "/thumbnails/normal");
    PutThumbnailsIn(elsewhere + "/thumbnails/fail/app");
    ASSERT_TRUE(QFile::link(elsewhere, Cache()));

    EXPECT_EQ(platform::RemoveDesktopThumbnails(photo), 2 * int(names.size()));

    ExpectAll(elsewhere + "/thumbnails/normal", false, "normal");
    ExpectAll(elsewhere + "/thumbnails/fail/app", false, "fail/app");
}

} // namespace
