// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include <QString>
#include <QStringList>

namespace app {

// What the command line of the window program asks for: tulvex [FOLDER | PHOTO].
struct StartArguments {
    enum class Action { Run, Version, Help, BadUsage };
    Action action = Action::Run;
    QString path;    // the folder or photo to start on; empty: the stored last folder
    QString problem; // for BadUsage
};

// The arguments after the program name, once the window system has taken its own.
StartArguments ParseStartArguments(const QStringList& args);

// Version or Help when the raw command line asks for either (the first one counts), else Run.
// Looked at before the window system starts, so that both work without a display.
StartArguments::Action VersionOrHelpRequest(int argc, const char* const* argv);

extern const char* const kStartUsage;

} // namespace app
