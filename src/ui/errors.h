// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include <QString>

#include <stdexcept>

// Errors end the command that runs into them and reach the application's error box. They
// belong to the window: the core and the session report failures as results.
class TulvexError : public std::runtime_error {
public:
    explicit TulvexError(const QString& text)
        : std::runtime_error(text.toStdString()), m_text(text) {}
    const QString& text() const { return m_text; }

private:
    QString m_text;
};
