// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include "support/jpeg_factory.h"

#include <QCoreApplication>

#include <string>
#include <sys/wait.h>

namespace testing_support {

// Runs the tulvex-cli built beside the test: its standard output and error, and its exit code.
inline std::string Cli(const std::string& args, int* exitCode) {
    const std::string cli = (QCoreApplication::applicationDirPath() + "/tulvex-cli").toStdString();
    int status = 0;
    const std::string out = RunCommand(cli + " " + args + " 2>&1", &status);
    *exitCode = WEXITSTATUS(status);
    return out;
}

// The same under strace with `faults` (its -P and -e options, injections), for faults a real disk
// gives only rarely; false when strace is not installed.
inline bool CliWithFaults(const std::string& faults, const std::string& args, std::string& out,
                          int* exitCode) {
    int found = -1;
    RunCommand("command -v strace >/dev/null", &found);
    if (WEXITSTATUS(found) != 0) return false;
    const std::string cli = (QCoreApplication::applicationDirPath() + "/tulvex-cli").toStdString();
    int status = 0;
    out =
        RunCommand("strace -o /dev/null -f " + faults + " " + cli + " " + args + " 2>&1", &status);
    *exitCode = WEXITSTATUS(status);
    return true;
}

} // namespace testing_support
