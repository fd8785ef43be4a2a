// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include "rotate/turn.h"
#include "session/loaded_folder.h"
#include "session/turn_report.h"

#include <QString>

#include <functional>
#include <optional>
#include <string>
#include <vector>

#include "platform/leftovers.h"
#include "platform/result.h"

namespace session {

// One sentence of the message table: its English template, with %s placeholders, which is also
// the key of the language files' [Messages], and what fills the placeholders in order. An
// argument is a literal (a name in the system's encoding, a figure written out) or a sentence of
// its own, translated before it fills its place.
struct Message {
    const char* format = nullptr; // none: `literal` stands as it is
    std::string literal;
    std::vector<Message> args;
};

Message Literal(std::string text);
Message Literal(const QString& text); // in the system's encoding

// Why `result` ended as it did, as a clause that goes on a frame ("the disk is read-only").
Message ReasonOf(const platform::Result& result);

// The frames: each names the photo (`name`, as the caller shows names) and says why.
Message TurnFailed(const std::string& name, const platform::Result& result);
Message TrashFailed(const std::string& name, const platform::Result& result);
Message TurnWarningMessage(const std::string& name, const TurnWarning& told);
Message CropCauseMessage(const rotate::CropCause& cause);
// The news of a leftover of a killed turn; none for a leftover with nothing to tell.
std::optional<Message> LeftoverMessage(const platform::LeftoverResult& outcome,
                                       const std::string& target, const std::string& leftover);
std::optional<Message> LeftoverMessage(const LeftoverNews& news);

// Fills a message: `translate` gives the template in the user's language, literals are names in
// the system's encoding.
using Translate = std::function<QString(const QString& english)>;
QString Render(const Message& message, const Translate& translate);
// The English sentence, each literal passed through `literal` (escaping for a terminal, say).
std::string RenderEnglish(const Message& message,
                          const std::function<std::string(const std::string&)>& literal);

// Fills the %s placeholders of `format` in order; "%%" gives "%".
QString FillPlaceholders(const QString& format, const QStringList& args);

// Every template of the table, for the language files.
std::vector<const char*> AllMessageFormats();

} // namespace session
