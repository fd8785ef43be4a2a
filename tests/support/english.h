// SPDX-License-Identifier: GPL-3.0-or-later
// A result told in English, as the command line tells it, for checks and failure messages.
#pragma once

#include <string>

#include "platform/result.h"
#include "session/messages.h"

namespace testing_support {

inline std::string English(const platform::Result& result) {
    return session::RenderEnglish(session::ReasonOf(result),
                                  [](const std::string& literal) { return literal; });
}

} // namespace testing_support
