// SPDX-License-Identifier: GPL-3.0-or-later
// Undo of one photo (see undo.h): its record read and checked, and the old bytes put back only
// where the photo still holds exactly what the command wrote.
#pragma once

#include "session/undo_record.h"
#include "session/undo_types.h"

#include <functional>
#include <map>
#include <set>
#include <string>
#include <sys/stat.h>
#include <utility>
#include <vector>

#include "platform/file_io.h"
#include "platform/leftovers.h"
#include "platform/result.h"

namespace session::undo_detail {

// The folder a photo is replaced in: that of the file its links lead to.
std::string ReplacedInFolder(const std::string& photo);

// The interrupted turns and undos beside the photos of an undo, finished before those photos are
// looked at, as a turn does: each folder once. A photo whose complete copy could not be put in
// place is torn, not changed since, and keeps its record.
class InterruptedBeside {
public:
    InterruptedBeside(const platform::ReplaceCalls& calls,
                      std::vector<platform::LeftoverResult>& told)
        : m_calls(calls), m_told(told) {}

    void FinishNear(const std::string& photo) {
        const std::string folder = ReplacedInFolder(photo);
        if (!m_folders.insert(folder).second) return;
        for (const std::string& leftover : platform::LeftoversIn(folder))
            Note(platform::ResolveLeftover(leftover, m_calls));
    }

    // Why the photo `identity` names is torn, when it is.
    const platform::Result* Unfinished(const struct stat& identity) const {
        const auto found = m_unfinished.find({identity.st_dev, identity.st_ino});
        return found == m_unfinished.end() ? nullptr : &found->second;
    }

private:
    void Note(platform::LeftoverResult outcome) {
        using Status = platform::LeftoverResult::Status;
        if (outcome.status == Status::Failed) {
            struct stat st {};
            if (::lstat(outcome.target.c_str(), &st) == 0)
                m_unfinished[{st.st_dev, st.st_ino}] =
                    outcome.result.within(platform::Why::InterruptedNotFinished, outcome.leftover);
        }
        if (outcome.status == Status::Finished || outcome.status == Status::Failed ||
            outcome.status == Status::Foreign)
            m_told.push_back(std::move(outcome));
    }

    const platform::ReplaceCalls& m_calls;
    std::vector<platform::LeftoverResult>& m_told;
    std::set<std::string> m_folders;
    std::map<std::pair<dev_t, ino_t>, platform::Result> m_unfinished;
};

// Told, with the photo's lock still held, what a restored photo held before and what it holds
// now: redo keeps the one to put back where the photo still holds the other.
using KeepReplaced = std::function<void(const std::string& photo, const platform::PhotoAsRead& was,
                                        std::span<const std::uint8_t> now)>;

UndoPhoto RestorePhoto(const Header& h, std::span<const std::uint8_t> oldBytes,
                       const platform::ReplaceCalls& calls, const InterruptedBeside& beside,
                       const KeepReplaced& keep = {});

// A record by its command folder's descriptor, and its full path for messages.
struct RecordEntry {
    int folder = -1;
    std::string name;
    std::string shown;
};

// Named like a record, but a link, a FIFO or a folder: never read or followed. Unlinking removes
// the entry alone; a folder is left.
UndoPhoto StrayRecord(const RecordEntry& entry, bool& leftFolder);

UndoPhoto UndoRecord(const RecordEntry& record, const std::string& command,
                     const platform::ReplaceCalls& calls, InterruptedBeside& beside,
                     const KeepReplaced& keep = {});

} // namespace session::undo_detail
