// SPDX-License-Identifier: GPL-3.0-or-later
#include "session/path_check.h"

#include <QFile>

#include <fcntl.h>

#include <cerrno>
#include <sys/stat.h>

#include "platform/file_io.h"

namespace session {

namespace {

using Found = PathCheck::Found;

PathCheck Unreadable(int error) {
    return {Found::Unreadable, platform::Result::FromErrno(error)};
}

Found FoundOfMode(mode_t mode) {
    if (S_ISDIR(mode)) return Found::Folder;
    if (S_ISFIFO(mode)) return Found::Fifo;
    if (S_ISSOCK(mode)) return Found::Socket;
    if (S_ISCHR(mode) || S_ISBLK(mode)) return Found::Device;
    if (!S_ISREG(mode)) return Found::OtherSpecial;
    return Found::ReadableFile;
}

} // namespace

PathCheck CheckPath(const QString& path) {
    const QByteArray native = QFile::encodeName(path);
    struct stat st {};
    if (::stat(native.constData(), &st) != 0) {
        const int error = errno;
        if (error != ENOENT && error != ENOTDIR) return Unreadable(error);
        struct stat link {};
        const bool dangling = ::lstat(native.constData(), &link) == 0 && S_ISLNK(link.st_mode);
        return {dangling ? Found::LinkToNothing : Found::Nothing, {}};
    }
    const Found found = FoundOfMode(st.st_mode);
    if (found != Found::ReadableFile) return {found, {}};
    const platform::UniqueFd fd(
        ::open(native.constData(), O_RDONLY | O_NONBLOCK | O_NOCTTY | O_CLOEXEC));
    if (!fd.valid()) return Unreadable(errno);
    return {Found::ReadableFile, {}};
}

} // namespace session
