// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include <array>
#include <cerrno>
#include <cstdint>
#include <string>
#include <utility>

#include "platform/why.h"

namespace platform {

// How a piece of work ended: ok, done but with something to tell, or a failure of some kind. It
// carries no text: the system's error number (0 when no system call failed), the specific reason
// where the core knows one, the file it concerns and up to two figures. The message table
// (session/messages) turns it into a sentence in the user's language.
class [[nodiscard]] Result {
public:
    enum class Kind {
        Ok,
        DoneBut,          // the work is done, but something after it went wrong (a warning)
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
        Count // not a kind: the number of them
    };

    Result() = default; // ok
    static Result FromErrno(int error, Why why = Why::None) {
        return Result(KindOfErrno(error), error, why);
    }
    // A failure whose kind the caller knows better than an errno value would say.
    static Result Failure(Kind kind, Why why, int error = 0) {
        return Result(kind == Kind::Ok || kind == Kind::DoneBut ? Kind::Other : kind, error, why);
    }
    // The work is done, but `why` (with the system's `error`) is worth telling.
    static Result DoneBut(Why why, int error = 0) { return Result(Kind::DoneBut, error, why); }

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
    // Ok, or done with something to tell.
    bool done() const { return m_kind == Kind::Ok || m_kind == Kind::DoneBut; }
    Kind kind() const { return m_kind; }
    // The errno value, or 0 when ok or when no system call failed.
    int error() const { return m_error; }
    Why why() const { return m_why; }
    // A reason around this one (the work it happened in), or None.
    Why context() const { return m_context; }
    // The path (bytes, as the system names it) of the file or folder the reason concerns.
    const std::string& subject() const { return m_subject; }
    std::uint64_t figure(std::size_t i) const { return i < m_figures.size() ? m_figures[i] : 0; }

    // The same result about `subject`.
    Result about(std::string subject) const {
        Result r = *this;
        r.m_subject = std::move(subject);
        return r;
    }
    Result withFigures(std::uint64_t first, std::uint64_t second = 0) const {
        Result r = *this;
        r.m_figures = {first, second};
        return r;
    }
    // The same failure, told as part of `context` (about `subject` when one is given).
    Result within(Why context, std::string subject = {}) const {
        Result r = *this;
        r.m_context = context;
        if (!subject.empty()) r.m_subject = std::move(subject);
        return r;
    }

private:
    Result(Kind kind, int error, Why why) : m_kind(kind), m_error(error), m_why(why) {}

    Kind m_kind = Kind::Ok;
    int m_error = 0;
    Why m_why = Why::None;
    Why m_context = Why::None;
    std::string m_subject;
    std::array<std::uint64_t, 2> m_figures{};
};

} // namespace platform
