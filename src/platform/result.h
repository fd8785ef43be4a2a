// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include <cerrno>
#include <cstring>
#include <string>
#include <utility>

namespace platform {

// How a piece of work ended: ok, or a failure of some kind with the system's error number (0
// when no system call failed) and a text for people.
class [[nodiscard]] Result {
public:
    enum class Kind {
        Ok,
        NotFound,         // the file or folder is not there (any more)
        NoPermission,     // refused by permissions or a read-only file system
        NoSpace,          // the disk or the user's quota is full
        TooLarge,         // beyond a limit of ours or of the system
        Busy,             // another program holds the photo
        ChangedMeanwhile, // the photo changed between reading and replacing it
        Damaged,          // the data is not what its format says
        Unsupported,      // valid, but not something this program can do
        WouldCrop,        // the turn would trim edge pixels, which was not allowed
        BadArgument,      // the caller asked for something that names nothing
        Other,
    };

    Result() = default; // ok
    static Result FromErrno(int error) { return Result(KindOfErrno(error), error, TextOf(error)); }
    static Result FromErrno(int error, std::string text) {
        return Result(KindOfErrno(error), error, std::move(text));
    }
    // A failure a library reported in words only.
    static Result FromLibrary(std::string text) { return Failure(Kind::Other, std::move(text)); }
    // A failure whose kind the caller knows better than an errno value would say.
    static Result Failure(Kind kind, std::string text, int error = 0) {
        return Result(kind == Kind::Ok ? Kind::Other : kind, error, std::move(text));
    }

    // What the system's error number says, where it says anything; 0 is no failure.
    static constexpr Kind KindOfErrno(int error) {
        switch (error) {
        case 0:
            return Kind::Ok;
        case ENOENT:
        case ENOTDIR:
            return Kind::NotFound;
        case EACCES:
        case EPERM:
        case EROFS:
            return Kind::NoPermission;
        case ENOSPC:
        case EDQUOT:
            return Kind::NoSpace;
        case EFBIG:
        case ENOMEM:
        case EOVERFLOW:
            return Kind::TooLarge;
        case EWOULDBLOCK:
        case EBUSY:
        case ETXTBSY:
            return Kind::Busy;
        case ESTALE:
            return Kind::ChangedMeanwhile;
        case EINVAL:
            return Kind::BadArgument;
        default:
            return Kind::Other;
        }
    }

    bool ok() const { return m_kind == Kind::Ok; }
    Kind kind() const { return m_kind; }
    // The errno value, or 0 when ok or when no system call failed.
    int error() const { return m_error; }
    const std::string& text() const { return m_text; }

    // The same failure told in other words.
    Result withText(std::string text) const { return Result(m_kind, m_error, std::move(text)); }

private:
    Result(Kind kind, int error, std::string text)
        : m_kind(kind), m_error(error), m_text(std::move(text)) {}
    static std::string TextOf(int error) { return error ? std::strerror(error) : std::string(); }

    Kind m_kind = Kind::Ok;
    int m_error = 0;
    std::string m_text;
};

} // namespace platform
