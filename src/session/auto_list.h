// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include <QString>

#include <cstddef>
#include <cstdint>
#include <optional>
#include <utility>
#include <vector>

namespace session {

// A photo whose stored orientation asks for a turn (3, 6, 8), or 0 once the automatic pass has
// handled it.
struct AutoEntry {
    QString path;
    int value = 0;
};

// Who turned a photo: the user by a rotate command, or the automatic pass.
enum class TurnKind { Manual, Automatic };

// The photos of the loaded folder that the automatic pass offers to turn upright, kept in step
// with the turns made meanwhile.
class AutoList {
public:
    using Entries = std::vector<AutoEntry>;

    std::size_t size() const { return m_entries.size(); }
    bool empty() const { return m_entries.empty(); }
    const AutoEntry& operator[](std::size_t i) const { return m_entries[i]; }
    AutoEntry& operator[](std::size_t i) { return m_entries[i]; }
    Entries::iterator begin() { return m_entries.begin(); }
    Entries::iterator end() { return m_entries.end(); }
    Entries::const_iterator begin() const { return m_entries.begin(); }
    Entries::const_iterator end() const { return m_entries.end(); }
    void push_back(AutoEntry entry) { m_entries.push_back(std::move(entry)); }
    Entries::iterator erase(Entries::const_iterator at) { return m_entries.erase(at); }
    void clear() { m_entries.clear(); }

    // Lists a photo read with `orientation` when that orientation asks for a turn.
    bool NoteOrientation(const QString& path, int orientation);
    // The entry's index, or -1.
    int IndexOf(const QString& path) const;
    // After a turn that leaves the photo with `newOrientation` (none: no orientation written).
    // A manual turn delists a photo made upright and notes any other new value; the automatic
    // pass only marks the entry handled, since it walks the list by index.
    void NoteTurn(const QString& path, std::optional<std::uint16_t> newOrientation, TurnKind kind);
    // Drops the entries the automatic pass has handled.
    void PurgeHandled();

private:
    Entries m_entries;
};

} // namespace session
