// SPDX-License-Identifier: GPL-3.0-or-later
#include "app/start_arguments.h"

#include <cstring>

namespace app {

const char* const kStartUsage = "usage: tulvex [FOLDER | PHOTO]\n"
                                "       tulvex --version | --help\n";

StartArguments ParseStartArguments(const QStringList& args) {
    StartArguments result;
    bool options = true;
    QStringList paths;
    for (const QString& arg : args) {
        if (options && arg == QStringLiteral("--")) {
            options = false;
        } else if (options && arg == QStringLiteral("--version")) {
            result.action = StartArguments::Action::Version;
            return result;
        } else if (options && (arg == QStringLiteral("--help") || arg == QStringLiteral("-h"))) {
            result.action = StartArguments::Action::Help;
            return result;
        } else if (options && arg.startsWith(u'-') && arg.size() > 1) {
            return {StartArguments::Action::BadUsage, {}, QStringLiteral("unknown option ") + arg};
        } else {
            paths << arg;
        }
    }
    if (paths.size() > 1)
        return {
            StartArguments::Action::BadUsage, {}, QStringLiteral("one folder or photo at most")};
    if (!paths.isEmpty()) result.path = paths.front();
    return result;
}

StartArguments::Action VersionOrHelpRequest(int argc, const char* const* argv) {
    for (int i = 1; i < argc; ++i) {
        if (std::strcmp(argv[i], "--") == 0) break;
        if (std::strcmp(argv[i], "--version") == 0) return StartArguments::Action::Version;
        if (std::strcmp(argv[i], "--help") == 0 || std::strcmp(argv[i], "-h") == 0)
            return StartArguments::Action::Help;
    }
    return StartArguments::Action::Run;
}

} // namespace app
