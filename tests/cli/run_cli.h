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

} // namespace testing_support
