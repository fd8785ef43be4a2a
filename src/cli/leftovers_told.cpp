// SPDX-License-Identifier: GPL-3.0-or-later
#include "cli/leftovers_told.h"

#include <QFile>
#include <QFileInfo>

#include <cstdio>
#include <set>

#include "cli/printable.h"
#include "platform/leftovers.h"

namespace cli {

void TellLeftover(const platform::LeftoverResult& outcome) {
    using Status = platform::LeftoverResult::Status;
    const std::string target = Printable(outcome.target), copy = Printable(outcome.leftover);
    if (outcome.status == Status::Finished)
        std::printf("%s: the interrupted turn was finished from its complete copy\n",
                    target.c_str());
    else if (outcome.status == Status::Failed)
        std::fprintf(stderr,
                     "warning: %s: the interrupted turn could not be finished (%s); its "
                     "complete turned copy stays in %s\n",
                     target.c_str(), Reason(outcome.result).c_str(), copy.c_str());
    else if (outcome.status == Status::Foreign)
        std::fprintf(stderr,
                     "warning: %s: named like a copy kept during a turn, but belongs to no "
                     "photo here (%s); left as it is\n",
                     copy.c_str(), Reason(outcome.result).c_str());
}

void FinishInterruptedTurns(const std::vector<std::string>& leftovers) {
    for (const std::string& leftover : leftovers)
        TellLeftover(platform::ResolveLeftover(leftover));
}

std::vector<std::string> LeftoversBeside(const QStringList& photos) {
    std::set<std::string> folders;
    for (const QString& photo : photos)
        if (const QString real = QFileInfo(photo).canonicalFilePath(); !real.isEmpty())
            folders.insert(QFile::encodeName(QFileInfo(real).path()).toStdString());
    std::vector<std::string> leftovers;
    for (const std::string& folder : folders)
        for (std::string& leftover : platform::LeftoversIn(folder))
            leftovers.push_back(std::move(leftover));
    return leftovers;
}

} // namespace cli
