// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include <cstring>
#include <string>
#include <utility>

namespace platform {

// How a system or library call ended: ok, or an errno value or a library's error, with its text.
class [[nodiscard]] Result {
public:
    // Not an errno value: the failure was reported by a library in words only.
    static constexpr int kLibraryError = -1;

    Result() = default; // ok
    static Result FromErrno(int error) { return Result(error, std::strerror(error)); }
    static Result FromErrno(int error, std::string text) { return Result(error, std::move(text)); }
    static Result FromLibrary(std::string text) { return Result(kLibraryError, std::move(text)); }

    bool ok() const { return m_error == 0; }
    // The errno value, kLibraryError, or 0 when ok.
    int error() const { return m_error; }
    const std::string& text() const { return m_text; }

private:
    Result(int error, std::string text) : m_error(error), m_text(std::move(text)) {}

    int m_error = 0;
    std::string m_text;
};

} // namespace platform
