// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include <QDir>
#include <QString>

namespace platform {

// A base folder of the XDG base directory rules: `variable` when it holds an absolute path
// (a relative one is to be ignored), else `fallback` below the home folder.
inline QString XdgBaseDir(const char* variable, const QString& fallback) {
    const QString base = qEnvironmentVariable(variable);
    if (!base.isEmpty() && QDir::isAbsolutePath(base)) return base;
    return QDir::homePath() + '/' + fallback;
}

} // namespace platform
