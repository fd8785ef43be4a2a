// SPDX-License-Identifier: GPL-3.0-or-later
// A message or a result told in English, as the command line tells it, for checks and failure
// messages.
#pragma once

#include "session/messages.h"

#include <string>

#include "platform/result.h"

namespace testing_support {

inline std::string English(const session::Message& message) {
    return session::RenderEnglish(message, [](const std::string& literal) { return literal; });
}

inline std::string English(const platform::Result& result) {
    return English(session::ReasonOf(result));
}

} // namespace testing_support
