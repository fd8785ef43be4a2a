// SPDX-License-Identifier: GPL-3.0-or-later
#include "app/trash.h"

#include "platform/file_io.h"

#include <QDateTime>
#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QUrl>

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>

namespace app {
namespace {

constexpr int kMaxNameAttempts = 10000;

bool SameDevice(const QString& a, dev_t device)
{
    struct stat st {};
    return ::stat(QFile::encodeName(a).constData(), &st) == 0 && st.st_dev == device;
}

bool MakePrivateFolder(const QString& path)
{
    if (QFileInfo(path).isDir()) return true;
    return QDir().mkpath(path) && QFile::setPermissions(path, QFile::ReadOwner | QFile::WriteOwner | QFile::ExeOwner);
}

bool PrepareTrash(const QString& trash)
{
    return MakePrivateFolder(trash) && MakePrivateFolder(trash + "/files") && MakePrivateFolder(trash + "/info");
}

// The top folder of the device that holds `folder`.
QString TopDirectory(const QString& folder, dev_t device)
{
    QString top = QFileInfo(folder).absoluteFilePath();
    while (top != "/") {
        const QString parent = QFileInfo(top).path();
        if (!SameDevice(parent, device)) break;
        top = parent;
    }
    return top;
}

QString TrashFor(const QString& absolute, dev_t device)
{
    const QString home = HomeTrash();
    if (PrepareTrash(home) && SameDevice(home, device)) return home;
    const QString top = TopDirectory(QFileInfo(absolute).path(), device);
    const QString trash = (top == "/" ? QString() : top) + QStringLiteral("/.Trash-%1").arg(::getuid());
    if (PrepareTrash(trash) && SameDevice(trash, device)) return trash;
    return {};
}

QByteArray TrashInfo(const QString& absolute)
{
    return "[Trash Info]\nPath=" + QUrl::toPercentEncoding(absolute, "/") + "\nDeletionDate=" +
           QDateTime::currentDateTime().toString(QStringLiteral("yyyy-MM-ddThh:mm:ss")).toUtf8() + "\n";
}

} // namespace

QString HomeTrash()
{
    QString base = qEnvironmentVariable("XDG_DATA_HOME");
    if (base.isEmpty() || !QDir::isAbsolutePath(base)) base = QDir::homePath() + "/.local/share";
    return base + "/Trash";
}

bool MoveToTrash(const QString& path, QString* error)
{
    const auto fail = [error](const QString& why) {
        if (error) *error = why;
        return false;
    };
    const QString absolute = QFileInfo(path).absoluteFilePath();
    struct stat st {};
    if (::lstat(QFile::encodeName(absolute).constData(), &st) != 0) return fail(QString::fromLocal8Bit(std::strerror(errno)));
    const QString trash = TrashFor(absolute, st.st_dev);
    if (trash.isEmpty()) return fail(QStringLiteral("there is no trash folder on its device"));

    // The info file is claimed first (O_EXCL), so two deletions never pick the same name.
    const QString base = QFileInfo(absolute).fileName();
    QString name;
    platform::UniqueFd info;
    for (int n = 0; n < kMaxNameAttempts && !info.valid(); ++n) {
        name = n == 0 ? base : QStringLiteral("%1.%2").arg(base).arg(n);
        info = platform::UniqueFd(::open(QFile::encodeName(trash + "/info/" + name + ".trashinfo").constData(),
                                         O_WRONLY | O_CREAT | O_EXCL | O_CLOEXEC, 0600));
        if (!info.valid() && errno != EEXIST) return fail(QString::fromLocal8Bit(std::strerror(errno)));
    }
    if (!info.valid()) return fail(QStringLiteral("the trash is full of files of that name"));
    const QByteArray text = TrashInfo(absolute);
    const QString infoPath = trash + "/info/" + name + ".trashinfo";
    if (::write(info.get(), text.constData(), std::size_t(text.size())) != text.size() || ::fsync(info.get()) != 0) {
        const int saved = errno;
        QFile::remove(infoPath);
        return fail(QString::fromLocal8Bit(std::strerror(saved)));
    }
    if (::rename(QFile::encodeName(absolute).constData(), QFile::encodeName(trash + "/files/" + name).constData()) != 0) {
        const int saved = errno;
        QFile::remove(infoPath);
        return fail(QString::fromLocal8Bit(std::strerror(saved)));
    }
    return true;
}

} // namespace app
