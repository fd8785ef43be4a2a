// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include <QString>
#include <QStringList>

#include <optional>

namespace session {
class UndoCommand;
}

namespace cli {

struct Options {
    bool crop = false, keepTime = false, recursive = false, low = false;
    std::optional<int> set;
    int cell = 150;
    QString out;
    QStringList positional;
    session::UndoCommand* undo = nullptr; // keeps what the command's turns replace
};

// The options after the command's name; nullopt for an unknown or incomplete one. Flags may
// stand anywhere; "--" ends them.
std::optional<Options> ParseOptions(const QStringList& args);

} // namespace cli
