// SPDX-License-Identifier: GPL-3.0-or-later
#include "app/instance.h"

#include <QFile>

#include <fcntl.h>
#include <sys/file.h>
#include <sys/stat.h>

namespace app {
namespace {

platform::UniqueFd HoldMarker(const QString& path)
{
    if (path.isEmpty()) return {};
    // O_NOFOLLOW: a link planted at the well-known name must not redirect us.
    platform::UniqueFd fd(::open(QFile::encodeName(path).constData(),
                                 O_RDWR | O_CREAT | O_NOFOLLOW | O_CLOEXEC, 0666));
    if (!fd.valid()) return {};
    ::fchmod(fd.get(), 0666); // every user may open it, whatever the umask
    if (::flock(fd.get(), LOCK_SH | LOCK_NB) != 0) return {};
    return fd;
}

bool HeldByAnyone(const QString& path)
{
    if (path.isEmpty()) return false;
    platform::UniqueFd fd(::open(QFile::encodeName(path).constData(), O_RDONLY | O_NOFOLLOW | O_CLOEXEC));
    return fd.valid() && ::flock(fd.get(), LOCK_EX | LOCK_NB) != 0;
}

} // namespace

InstanceMarkers::InstanceMarkers() : m_session(HoldMarker(SessionPath())), m_global(HoldMarker(GlobalPath())) {}

QString InstanceMarkers::SessionPath()
{
    const QString runtime = qEnvironmentVariable("XDG_RUNTIME_DIR");
    return runtime.isEmpty() ? QString() : runtime + QStringLiteral("/VarloTulvex");
}

QString InstanceMarkers::GlobalPath() { return QStringLiteral("/tmp/Global-VarloTulvex"); }

bool InstanceMarkers::IsRunning() { return HeldByAnyone(SessionPath()) || HeldByAnyone(GlobalPath()); }

} // namespace app
