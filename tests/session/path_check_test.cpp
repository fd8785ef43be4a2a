// SPDX-License-Identifier: GPL-3.0-or-later
#include "session/path_check.h"
#include "support/temp_dir.h"

#include <QFile>

#include <unistd.h>

#include <cerrno>
#include <cstring>
#include <gtest/gtest.h>
#include <sys/socket.h>
#include <sys/stat.h>
#include <sys/un.h>
#include <sys/wait.h>

#include "platform/file_io.h"

namespace {

using Found = session::PathCheck::Found;
using testing_support::TempDir;

Found FoundAt(const std::string& path) {
    return session::CheckPath(QFile::decodeName(path.c_str())).found;
}

// A socket bound at `path`; it stays there after the descriptor is closed.
bool BindSocket(const std::string& path) {
    const platform::UniqueFd fd(::socket(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC, 0));
    sockaddr_un address{};
    address.sun_family = AF_UNIX;
    if (!fd.valid() || path.size() >= sizeof address.sun_path) return false;
    std::memcpy(address.sun_path, path.c_str(), path.size() + 1);
    return ::bind(fd.get(), reinterpret_cast<const sockaddr*>(&address), sizeof address) == 0;
}

} // namespace

TEST(PathCheck, NamesWhatStandsInsteadOfAFile) {
    TempDir dir;
    ASSERT_TRUE(QFile(dir.qfile("photo.jpg")).open(QIODevice::WriteOnly));
    dir.mkdir("folder.jpg");
    ASSERT_EQ(::mkfifo(dir.file("fifo.jpg").c_str(), 0600), 0);
    ASSERT_TRUE(BindSocket(dir.file("socket.jpg")));
    ASSERT_EQ(::symlink(dir.file("gone.jpg").c_str(), dir.file("dangling.jpg").c_str()), 0);

    EXPECT_EQ(FoundAt(dir.file("photo.jpg")), Found::ReadableFile);
    EXPECT_EQ(FoundAt(dir.file("folder.jpg")), Found::Folder);
    EXPECT_EQ(FoundAt(dir.file("fifo.jpg")), Found::Fifo) << "never opened, so never blocks";
    EXPECT_EQ(FoundAt(dir.file("socket.jpg")), Found::Socket);
    EXPECT_EQ(FoundAt("/dev/null"), Found::Device);
    EXPECT_EQ(FoundAt(dir.file("gone.jpg")), Found::Nothing);
    EXPECT_EQ(FoundAt(dir.file("photo.jpg/below.jpg")), Found::Nothing) << "a file is no folder";
    EXPECT_EQ(FoundAt(dir.file("dangling.jpg")), Found::LinkToNothing);
}

TEST(PathCheck, AnUnreadablePathKeepsTheSystemsReason) {
    TempDir dir;
    // Two links pointing at each other: the status itself cannot be read.
    ASSERT_EQ(::symlink(dir.file("b.jpg").c_str(), dir.file("a.jpg").c_str()), 0);
    ASSERT_EQ(::symlink(dir.file("a.jpg").c_str(), dir.file("b.jpg").c_str()), 0);
    const session::PathCheck loop = session::CheckPath(dir.qfile("a.jpg"));
    EXPECT_EQ(loop.found, Found::Unreadable);
    EXPECT_EQ(loop.result.error(), ELOOP);

    // A file its status shows but that does not open: as root every file opens, so the check
    // runs in a child as nobody.
    ASSERT_TRUE(QFile(dir.qfile("locked.jpg")).open(QIODevice::WriteOnly));
    ASSERT_EQ(::chmod(dir.file("locked.jpg").c_str(), 0), 0);
    ASSERT_EQ(::chmod(dir.path().c_str(), 0755), 0);
    const QString locked = dir.qfile("locked.jpg");
    const pid_t child = ::fork();
    ASSERT_GE(child, 0);
    if (child == 0) {
        if (::geteuid() == 0 && (::setgid(65534) != 0 || ::setuid(65534) != 0)) ::_exit(2);
        const session::PathCheck check = session::CheckPath(locked);
        ::_exit(check.found == Found::Unreadable && check.result.error() == EACCES ? 0 : 1);
    }
    int status = 0;
    ASSERT_EQ(::waitpid(child, &status, 0), child);
    ASSERT_TRUE(WIFEXITED(status));
    EXPECT_EQ(WEXITSTATUS(status), 0) << "1: not told as unreadable, 2: could not become nobody";
}
