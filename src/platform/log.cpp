// SPDX-License-Identifier: GPL-3.0-or-later
#include "platform/log.h"

Q_LOGGING_CATEGORY(lcStart, "tulvex.start", QtInfoMsg)
Q_LOGGING_CATEGORY(lcLoad, "tulvex.load", QtInfoMsg)
