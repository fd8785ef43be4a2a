// SPDX-License-Identifier: GPL-3.0-or-later
#include "support/english.h"
#include "support/temp_dir.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>

#include <unistd.h>

#include <gtest/gtest.h>
#include <sys/stat.h>

#include "platform/trash.h"

using testing_support::English;

using testing_support::TempDir;

namespace {

QByteArray Local(const QString& path) {
    return QFile::encodeName(path);
}

mode_t ModeOf(const QString& path) {
    struct stat st {};
    return ::lstat(Local(path).constData(), &st) == 0 ? st.st_mode & 07777 : 0;
}

void Write(const QString& path, const QByteArray& bytes) {
    QFile f(path);
    ASSERT_TRUE(f.open(QIODevice::WriteOnly));
    f.write(bytes);
}

QByteArray Read(const QString& path) {
    QFile f(path);
    return f.open(QIODevice::ReadOnly) ? f.readAll() : QByteArray("<missing>");
}

// URL escaping written out byte by byte: what stays as it is, and %XX in capitals for the rest.
QByteArray Escaped(const QByteArray& path) {
    static const char kHex[] = "0123456789ABCDEF";
    QByteArray out;
    for (const char c : path) {
        const auto byte = std::uint8_t(c);
        const bool plain = (c >= 'A' && c <= 'Z') || (c >= 'a' && c <= 'z') ||
                           (c >= '0' && c <= '9') || QByteArray("-._~/").contains(c);
        if (plain) {
            out += c;
        } else {
            out += '%';
            out += kHex[byte >> 4];
            out += kHex[byte & 0xF];
        }
    }
    return out;
}

} // namespace

TEST(Trash, DeviceTrashIsCreatedPrivateAndOnlyAnUnsafeOneIsRefused) {
    const TempDir top;
    const QString own = top.qfile(QStringLiteral(".Trash-%1").arg(::getuid()));
    EXPECT_EQ(platform::TopDirTrash(top.qpath()).folder, own);
    EXPECT_EQ(ModeOf(own), 0700u);
    EXPECT_TRUE(QFileInfo(own + "/files").isDir() && QFileInfo(own + "/info").isDir());
    EXPECT_EQ(platform::TopDirTrash(top.qpath()).folder, own) << "an existing sound one is used";

    // Readable by others: someone else could see what was deleted.
    ASSERT_EQ(::chmod(Local(own).constData(), 0755), 0);
    const platform::TrashFolder readable = platform::TopDirTrash(top.qpath());
    EXPECT_TRUE(readable.folder.isEmpty());
    EXPECT_EQ(readable.result.kind(), platform::Result::Kind::NoPermission);
    EXPECT_TRUE(QString::fromStdString(English(readable.result)).contains(own))
        << English(readable.result);
    ASSERT_EQ(::chmod(Local(own).constData(), 0700), 0);

    // A link to a private folder is still a link.
    const TempDir other;
    const QString real = other.mkdir("real");
    ASSERT_EQ(::chmod(Local(real).constData(), 0700), 0);
    ASSERT_TRUE(QDir(own).removeRecursively());
    ASSERT_EQ(::symlink(Local(real).constData(), Local(own).constData()), 0);
    EXPECT_TRUE(platform::TopDirTrash(top.qpath()).folder.isEmpty());
    EXPECT_FALSE(QFileInfo::exists(real + "/files")) << "nothing made through the link";
    ASSERT_EQ(::unlink(Local(own).constData()), 0);

    // Sound itself, but its files/ is a plain file that cannot be replaced.
    ASSERT_EQ(::mkdir(Local(own).constData(), 0700), 0);
    ASSERT_TRUE(QFile(own + "/files").open(QIODevice::WriteOnly));
    const platform::TrashFolder damaged = platform::TopDirTrash(top.qpath());
    EXPECT_TRUE(damaged.folder.isEmpty());
    EXPECT_EQ(damaged.result.kind(), platform::Result::Kind::Damaged) << English(damaged.result);
    ASSERT_TRUE(QDir(own).removeRecursively());

    // A private folder of another user (only root can give one away to test this).
    if (::getuid() == 0) {
        ASSERT_EQ(::mkdir(Local(own).constData(), 0700), 0);
        ASSERT_EQ(::chown(Local(own).constData(), 65534, 65534), 0);
        EXPECT_TRUE(platform::TopDirTrash(top.qpath()).folder.isEmpty());
    }
}

TEST(Trash, AnAdministratorsSharedTrashIsUsedOnlyWithTheStickyBit) {
    const TempDir top;
    const QString shared = top.mkdir(".Trash");
    const QString uid = QString::number(::getuid());
    ASSERT_EQ(::chmod(Local(shared).constData(), 0777), 0);
    EXPECT_EQ(platform::TopDirTrash(top.qpath()).folder, top.qfile(".Trash-" + uid))
        << "no sticky bit: not used";
    EXPECT_FALSE(QFileInfo::exists(shared + "/" + uid));

    ASSERT_EQ(::chmod(Local(shared).constData(), 01777), 0);
    EXPECT_EQ(platform::TopDirTrash(top.qpath()).folder, shared + "/" + uid);
    EXPECT_EQ(ModeOf(shared + "/" + uid), 0700u);
    EXPECT_TRUE(QFileInfo(shared + "/" + uid + "/files").isDir());

    // The user's folder in it made readable by others: the device's own .Trash-UID instead.
    ASSERT_EQ(::chmod(Local(shared + "/" + uid).constData(), 0755), 0);
    EXPECT_EQ(platform::TopDirTrash(top.qpath()).folder, top.qfile(".Trash-" + uid));
}

TEST(Trash, AnEntryAlreadyInFilesIsNeverReplaced) {
    const QString trash = platform::HomeTrash();
    ASSERT_TRUE(QDir().mkpath(trash + "/files") && QDir().mkpath(trash + "/info"));
    // Left there without its info file (a crash, another program).
    Write(trash + "/files/orphan.jpg", "earlier");
    Write(trash + "/info/both.jpg.trashinfo", "[Trash Info]\n");
    Write(trash + "/files/both.jpg", "earlier too");

    const TempDir photos;
    for (const QString& name : {QStringLiteral("orphan.jpg"), QStringLiteral("both.jpg")}) {
        Write(photos.qfile(name), "new " + name.toUtf8());
        const platform::Result moved = platform::MoveToTrash(photos.qfile(name));
        ASSERT_TRUE(moved.ok()) << English(moved);
        EXPECT_FALSE(QFile::exists(photos.qfile(name)));
        EXPECT_EQ(Read(trash + "/files/" + name + ".1"), "new " + name.toUtf8());
        EXPECT_TRUE(Read(trash + "/info/" + name + ".1.trashinfo")
                        .contains("Path=" + Local(photos.qfile(name))));
    }
    EXPECT_EQ(Read(trash + "/files/orphan.jpg"), "earlier");
    EXPECT_FALSE(QFile::exists(trash + "/info/orphan.jpg.trashinfo"))
        << "no info claimed for the kept name";
    EXPECT_EQ(Read(trash + "/files/both.jpg"), "earlier too");
}

TEST(Trash, AFileThatIsGoneIsNotFound) {
    const TempDir photos;
    const platform::Result moved = platform::MoveToTrash(photos.qfile("gone.jpg"));
    EXPECT_EQ(moved.kind(), platform::Result::Kind::NotFound) << English(moved);
    EXPECT_EQ(moved.error(), ENOENT);
}

TEST(Trash, TheInfoFileHoldsThePathUrlEscaped) {
    const TempDir photos;
    const QString folder = photos.mkdir("album");
    // A non-ASCII letter, a space, a percent sign and a line break.
    const QString name = QString::fromUtf8("\xC3\x84 b%c\nd.jpg");
    Write(folder + "/" + name, "photo");
    const platform::Result moved = platform::MoveToTrash(folder + "/" + name);
    ASSERT_TRUE(moved.ok()) << English(moved);

    EXPECT_EQ(Read(platform::HomeTrash() + "/files/" + name), "photo");
    const QByteArray info = Read(platform::HomeTrash() + "/info/" + name + ".trashinfo");
    const QList<QByteArray> lines = info.split('\n');
    ASSERT_EQ(lines.size(), 4) << "three lines and the final line break: " << info.toStdString();
    EXPECT_EQ(lines[0].toStdString(), "[Trash Info]");
    EXPECT_EQ(lines[1].toStdString(),
              ("Path=" + Escaped(Local(folder)) + "/%C3%84%20b%25c%0Ad.jpg").toStdString());
    EXPECT_TRUE(lines[2].startsWith("DeletionDate=")) << lines[2].toStdString();
    EXPECT_TRUE(lines[3].isEmpty());
}
