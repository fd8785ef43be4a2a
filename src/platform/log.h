// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include <QLoggingCategory>

// What the program found at start and what it loaded, for someone asking why a language or a
// photo is missing. Off unless asked for: QT_LOGGING_RULES="tulvex.*.debug=true".
Q_DECLARE_LOGGING_CATEGORY(lcStart)
Q_DECLARE_LOGGING_CATEGORY(lcLoad)
