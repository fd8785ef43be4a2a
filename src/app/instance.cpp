// SPDX-License-Identifier: GPL-3.0-or-later
#include "app/instance.h"

#include <QFile>

#include <fcntl.h>

#include <cerrno>
#include <sys/file.h>
#include <sys/stat.h>

namespace app {
namespace {

bool IsRegularFile(int fd) {
    struct stat st {};
    return ::fstat(fd, &st) == 0 && S_ISREG(st.st_mode);
}

platform::UniqueFd HoldMarker(const QString& path) {
    platform::UniqueFd fd = OpenMarker(path);
    if (!fd.valid() || ::flock(fd.get(), LOCK_SH | LOCK_NB) != 0) return {};
    return fd;
}

bool HeldByAnyone(const QString& path) {
    if (path.isEmpty()) return false;
    platform::UniqueFd fd(::open(QFile::encodeName(path).constData(),
                                 O_RDONLY | O_NOFOLLOW | O_NONBLOCK | O_CLOEXEC));
    return fd.valid() && IsRegularFile(fd.get()) && ::flock(fd.get(), LOCK_EX | LOCK_NB) != 0;
}

} // namespace

platform::UniqueFd OpenMarker(const QString& path) {
    if (path.isEmpty()) return {};
    const QByteArray name = QFile::encodeName(path);
    // O_NOFOLLOW: a link planted at the well-known name must not redirect us. O_NONBLOCK: nor
    // may a planted FIFO hang the start.
    constexpr int kFlags = O_NOFOLLOW | O_NONBLOCK | O_CLOEXEC;
    for (int attempt = 0; attempt < 3; ++attempt) {
        // An existing marker, perhaps another user's, is opened without O_CREAT: with
        // fs.protected_regular the kernel refuses O_CREAT on another user's file in /tmp.
        platform::UniqueFd fd(::open(name.constData(), O_RDWR | kFlags));
        if (!fd.valid() && errno == EACCES)
            fd = platform::UniqueFd(::open(name.constData(), O_RDONLY | kFlags));
        if (fd.valid()) return IsRegularFile(fd.get()) ? std::move(fd) : platform::UniqueFd();
        if (errno != ENOENT) return {};
        fd = platform::UniqueFd(::open(name.constData(), O_RDWR | O_CREAT | O_EXCL | kFlags, 0666));
        if (fd.valid()) {
            ::fchmod(fd.get(), 0666); // every user may open it, whatever the umask
            return fd;
        }
        if (errno != EEXIST) return {}; // else another copy created it just now: open that one
    }
    return {};
}

InstanceMarkers::InstanceMarkers()
    : m_session(HoldMarker(SessionPath())), m_global(HoldMarker(GlobalPath())) {}

QString InstanceMarkers::SessionPath() {
    const QString runtime = qEnvironmentVariable("XDG_RUNTIME_DIR");
    return runtime.isEmpty() ? QString() : runtime + QStringLiteral("/VarloTulvex");
}

QString InstanceMarkers::GlobalPath() {
    // Tests and sandboxes point it at a folder of their own.
    QString folder = qEnvironmentVariable("TULVEX_GLOBAL_MARKER_DIR");
    if (folder.isEmpty()) folder = QStringLiteral("/tmp");
    return folder + QStringLiteral("/Global-VarloTulvex");
}

bool InstanceMarkers::IsRunning() {
    return HeldByAnyone(SessionPath()) || HeldByAnyone(GlobalPath());
}

} // namespace app
