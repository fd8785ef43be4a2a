// SPDX-License-Identifier: GPL-3.0-or-later
#include "platform/trash.h"

#include <QDateTime>
#include <QFile>
#include <QFileInfo>
#include <QUrl>

#include <fcntl.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>
#include <sys/stat.h>

#include "platform/file_io.h"
#include "platform/private_files.h"
#include "platform/xdg_dirs.h"

namespace platform {
namespace {

constexpr int kMaxNameAttempts = 10000;

bool SameDevice(const QString& a, dev_t device) {
    struct stat st {};
    return ::stat(QFile::encodeName(a).constData(), &st) == 0 && st.st_dev == device;
}

// Whether the folder `path` is there or, missing, could be made private.
bool FolderOrMadePrivate(const QString& path, const PrivateFolderRules& rules) {
    if (QFileInfo(path).isDir()) return true;
    const QByteArray native = QFile::encodeName(path);
    Result why;
    return MakeFoldersAbove(native.toStdString(), 0777).ok() &&
           MakePrivateFolder(AT_FDCWD, native.toStdString(), rules, why).valid();
}

bool PrepareTrash(const QString& trash) {
    const PrivateFolderRules rules;
    return FolderOrMadePrivate(trash, rules) && FolderOrMadePrivate(trash + "/files", rules) &&
           FolderOrMadePrivate(trash + "/info", rules);
}

// The top folder of the device that holds `folder`.
QString TopDirectory(const QString& folder, dev_t device) {
    QString top = QFileInfo(folder).absoluteFilePath();
    while (top != "/") {
        const QString parent = QFileInfo(top).path();
        if (!SameDevice(parent, device)) break;
        top = parent;
    }
    return top;
}

TrashFolder TrashFor(const QString& absolute, dev_t device) {
    const QString home = HomeTrash();
    if (PrepareTrash(home) && SameDevice(home, device)) return {home, {}};
    const QString top = TopDirectory(QFileInfo(absolute).path(), device);
    TrashFolder trash = TopDirTrash(top);
    if (trash.result.ok() && !SameDevice(trash.folder, device))
        return {{}, Result::Failure(Result::Kind::Other, Why::NoTrashOnDevice)};
    return trash;
}

// A folder of the trash must be the user's own real folder: a link or a folder of someone
// else would let another user read or redirect what is deleted. It is made if missing; a trash
// of its own is refused unless of mode 0700, as the trash's rules say, and not made so.
UniqueFd OwnTrashFolder(const QString& path, PrivateFolderRules::Mode mode, Result& why) {
    PrivateFolderRules rules;
    rules.mode = mode;
    return MakePrivateFolder(AT_FDCWD, QFile::encodeName(path).toStdString(), rules, why);
}

bool IsOwnTrashFolder(const QString& path, PrivateFolderRules::Mode mode) {
    Result why;
    return OwnTrashFolder(path, mode, why).valid();
}

// files/ and info/ of a trash, made if missing; each must be the user's own real folder.
bool MakeTrashFolders(const QString& trash) {
    for (const char* sub : {"/files", "/info"})
        if (!IsOwnTrashFolder(trash + QLatin1String(sub), PrivateFolderRules::Mode::Any))
            return false;
    return true;
}

bool IsSharedTrash(const QString& path) {
    struct stat st {};
    return ::lstat(QFile::encodeName(path).constData(), &st) == 0 && S_ISDIR(st.st_mode) &&
           (st.st_mode & S_ISVTX);
}

// Claims `name` in both folders of the trash: the info file and an empty stand-in in files/,
// each created only if absent (O_EXCL), so neither an entry of another deletion nor a file
// left in files/ without its info is ever replaced.
bool ClaimName(const QString& trash, const QString& name, platform::UniqueFd& info, int& error) {
    const QByteArray infoPath = QFile::encodeName(trash + "/info/" + name + ".trashinfo");
    info = platform::UniqueFd(
        ::open(infoPath.constData(), O_WRONLY | O_CREAT | O_EXCL | O_NOFOLLOW | O_CLOEXEC, 0600));
    if (!info.valid()) {
        error = errno;
        return false;
    }
    const platform::UniqueFd standIn(::open(QFile::encodeName(trash + "/files/" + name).constData(),
                                            O_WRONLY | O_CREAT | O_EXCL | O_NOFOLLOW | O_CLOEXEC,
                                            0600));
    if (standIn.valid()) return true;
    error = errno;
    info.reset();
    ::unlink(infoPath.constData());
    return false;
}

QByteArray TrashInfo(const QString& absolute) {
    return "[Trash Info]\nPath=" + QUrl::toPercentEncoding(absolute, "/") + "\nDeletionDate=" +
           QDateTime::currentDateTime().toString(QStringLiteral("yyyy-MM-ddThh:mm:ss")).toUtf8() +
           "\n";
}

} // namespace

TrashFolder TopDirTrash(const QString& topdir) {
    const QString top = topdir == "/" ? QString() : topdir;
    const QString uid = QString::number(::getuid());
    // An administrator's shared $topdir/.Trash (a real folder with the sticky bit) holds a
    // folder per user; a failed check only means it is not used.
    if (IsSharedTrash(top + "/.Trash")) {
        const QString own = top + "/.Trash/" + uid;
        if (IsOwnTrashFolder(own, PrivateFolderRules::Mode::Require) && MakeTrashFolders(own))
            return {own, {}};
    }
    const QString trash = top + "/.Trash-" + uid;
    const auto refuse = [&](Result::Kind kind, Why why, int error = 0) {
        return TrashFolder{
            {}, Result::Failure(kind, why, error).about(QFile::encodeName(trash).toStdString())};
    };
    Result why;
    struct stat st {};
    if (!OwnTrashFolder(trash, PrivateFolderRules::Mode::Require, why).valid() &&
        ::lstat(QFile::encodeName(trash).constData(), &st) != 0) {
        const int error = why.error();
        return refuse(Result::KindOfErrno(error), Why::TrashNotCreated, error);
    }
    if (!why.ok()) return refuse(Result::Kind::NoPermission, Why::TrashNotPrivate);
    if (!MakeTrashFolders(trash)) return refuse(Result::Kind::Damaged, Why::TrashDamaged);
    return {trash, {}};
}

QString HomeTrash() {
    return XdgBaseDir("XDG_DATA_HOME", QStringLiteral(".local/share")) + "/Trash";
}

Result MoveToTrash(const QString& path) {
    const QString absolute = QFileInfo(path).absoluteFilePath();
    struct stat st {};
    if (::lstat(QFile::encodeName(absolute).constData(), &st) != 0) return Result::FromErrno(errno);
    const TrashFolder found = TrashFor(absolute, st.st_dev);
    if (!found.result.ok()) return found.result;
    const QString& trash = found.folder;

    const QString base = QFileInfo(absolute).fileName();
    QString name;
    platform::UniqueFd info;
    for (int n = 0; n < kMaxNameAttempts && !info.valid(); ++n) {
        name = n == 0 ? base : QStringLiteral("%1.%2").arg(base).arg(n);
        int error = 0;
        if (!ClaimName(trash, name, info, error) && error != EEXIST)
            return Result::FromErrno(error);
    }
    if (!info.valid()) return Result::Failure(Result::Kind::Other, Why::TrashNameTaken);
    const QString filesPath = trash + "/files/" + name;
    const QByteArray text = TrashInfo(absolute);
    const QString infoPath = trash + "/info/" + name + ".trashinfo";
    if (::write(info.get(), text.constData(), std::size_t(text.size())) != text.size() ||
        ::fsync(info.get()) != 0) {
        const int saved = errno;
        QFile::remove(infoPath);
        QFile::remove(filesPath);
        return Result::FromErrno(saved);
    }
    // Replaces only the stand-in claimed above.
    if (::rename(QFile::encodeName(absolute).constData(),
                 QFile::encodeName(filesPath).constData()) != 0) {
        const int saved = errno;
        QFile::remove(infoPath);
        QFile::remove(filesPath);
        return Result::FromErrno(saved);
    }
    return {};
}

} // namespace platform
