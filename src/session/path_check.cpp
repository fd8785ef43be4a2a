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
    return {Found::Unreadable, platform::Result::FromErrno(error, platform::Why::Unreadable)};
}

// Why what was found is no photo file.
platform::Result NoPhotoFile(Found found) {
    using platform::Result;
    using platform::Why;
    const auto unsupported = [](Why why) {
        return Result::Failure(Result::Kind::Unsupported, why);
    };
    switch (found) {
    case Found::ReadableFile:
    case Found::Unreadable:
        break;
    case Found::Nothing:
        return Result::FromErrno(ENOENT);
    case Found::LinkToNothing:
        return Result::FromErrno(ENOENT, Why::DanglingLink);
    case Found::Folder:
        return unsupported(Why::IsFolder);
    case Found::Fifo:
        return unsupported(Why::IsFifo);
    case Found::Socket:
        return unsupported(Why::IsSocket);
    case Found::Device:
        return unsupported(Why::IsDevice);
    case Found::OtherSpecial:
        return unsupported(Why::NotARegularFile);
    }
    return {};
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
        const Found found = dangling ? Found::LinkToNothing : Found::Nothing;
        return {found, NoPhotoFile(found)};
    }
    const Found found = FoundOfMode(st.st_mode);
    if (found != Found::ReadableFile) return {found, NoPhotoFile(found)};
    const platform::UniqueFd fd(
        ::open(native.constData(), O_RDONLY | O_NONBLOCK | O_NOCTTY | O_CLOEXEC));
    if (!fd.valid()) return Unreadable(errno);
    return {Found::ReadableFile, {}};
}

} // namespace session
