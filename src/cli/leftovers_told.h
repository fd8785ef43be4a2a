// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include <QStringList>

#include <string>
#include <vector>

namespace platform {
struct LeftoverResult;
}

namespace cli {

// Turns a killed or failed run left unfinished in these folders are finished before new turns
// read their photos, by the same checked rule as a folder load in the window; a file named like
// our copies that belongs to no photo is told and left.
void TellLeftover(const platform::LeftoverResult& outcome);
void FinishInterruptedTurns(const std::vector<std::string>& leftovers);

// The leftovers of interrupted turns in the folders that hold `photos`.
std::vector<std::string> LeftoversBeside(const QStringList& photos);

} // namespace cli
