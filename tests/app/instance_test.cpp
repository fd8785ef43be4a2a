// SPDX-License-Identifier: GPL-3.0-or-later
#include "app/instance.h"
#include "ui/shell.h"

#include <QFileInfo>
#include <QTemporaryDir>

#include <unistd.h>

#include <gtest/gtest.h>
#include <sys/file.h>
#include <sys/stat.h>

TEST(InstanceMarkers, SeenWhileHeldAndTwoCopiesRunSideBySide) {
    EXPECT_FALSE(app::InstanceMarkers::IsRunning());
    {
        const app::InstanceMarkers first;
        const app::InstanceMarkers second; // a second copy runs like the first
        EXPECT_TRUE(app::InstanceMarkers::IsRunning());
        EXPECT_EQ(QFileInfo(app::InstanceMarkers::GlobalPath()).permissions() & QFile::WriteOther,
                  QFile::WriteOther);
    }
    EXPECT_FALSE(app::InstanceMarkers::IsRunning());
}

TEST(ErrorBox, FullStopOnlyAfterCharactersThatSortAfterIt) {
    EXPECT_EQ(ui::WithFullStop("Unable to rotate the image: IMG_0042.JPG"),
              "Unable to rotate the image: IMG_0042.JPG.");
    EXPECT_EQ(ui::WithFullStop("Done."), "Done.");
    EXPECT_EQ(ui::WithFullStop("Stop!"), "Stop!");
    EXPECT_EQ(ui::WithFullStop(""), "");
}

TEST(InstanceMarkers, ExistingMarkerIsOpenedAsItIsAndNothingElseIsFollowed) {
    const QTemporaryDir dir;
    const QString missing = dir.filePath("created");
    {
        const platform::UniqueFd fd = app::OpenMarker(missing);
        ASSERT_TRUE(fd.valid());
        EXPECT_EQ(QFileInfo(missing).permissions() & QFile::WriteOther, QFile::WriteOther);
    }

    // An existing marker of another mode is used as it is: same file, mode untouched.
    const QString existing = dir.filePath("existing");
    QFile(existing).open(QIODevice::WriteOnly);
    ASSERT_EQ(::chmod(QFile::encodeName(existing).constData(), 0644), 0);
    struct stat before {};
    ::stat(QFile::encodeName(existing).constData(), &before);
    {
        const platform::UniqueFd fd = app::OpenMarker(existing);
        ASSERT_TRUE(fd.valid());
        struct stat opened {};
        ::fstat(fd.get(), &opened);
        EXPECT_EQ(opened.st_ino, before.st_ino);
        EXPECT_EQ(opened.st_mode & 07777, 0644u);
    }

    // A link or a FIFO planted at the name is not a marker, and opening does not hang.
    const QString link = dir.filePath("link");
    ASSERT_EQ(
        ::symlink(QFile::encodeName(existing).constData(), QFile::encodeName(link).constData()), 0);
    EXPECT_FALSE(app::OpenMarker(link).valid());
    const QString fifo = dir.filePath("fifo");
    ASSERT_EQ(::mkfifo(QFile::encodeName(fifo).constData(), 0666), 0);
    EXPECT_FALSE(app::OpenMarker(fifo).valid());
}

// The machine-wide marker follows its folder setting, so that a window open on the machine
// (holding the real one) is not what a test sees, and a test never creates the real one.
TEST(InstanceMarkers, MachineWideMarkerLivesInTheFolderItIsGiven) {
    const QByteArray saved = qgetenv("TULVEX_GLOBAL_MARKER_DIR");
    const QTemporaryDir elsewhere;
    qputenv("TULVEX_GLOBAL_MARKER_DIR", elsewhere.path().toUtf8());
    const QString marker = elsewhere.filePath("Global-VarloTulvex");
    EXPECT_EQ(app::InstanceMarkers::GlobalPath(), marker);
    EXPECT_FALSE(app::InstanceMarkers::IsRunning());
    {
        // Another copy, seen only through the marker in this folder.
        const platform::UniqueFd other = app::OpenMarker(marker);
        ASSERT_TRUE(other.valid());
        ASSERT_EQ(::flock(other.get(), LOCK_SH | LOCK_NB), 0);
        EXPECT_TRUE(app::InstanceMarkers::IsRunning());
    }
    EXPECT_FALSE(app::InstanceMarkers::IsRunning());
    {
        const app::InstanceMarkers markers;
        EXPECT_TRUE(QFileInfo::exists(marker));
        EXPECT_TRUE(app::InstanceMarkers::IsRunning());
    }
    qputenv("TULVEX_GLOBAL_MARKER_DIR", saved);
}
