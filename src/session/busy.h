// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include <QString>

#include <optional>

namespace session {

// Counts the loads begun. A loop that runs while events are handled (a load, the automatic pass)
// holds a stamp and stops before its next photo once a newer load, or the closing of the window,
// has moved the count on: the lists then belong to someone else.
class LoadGeneration {
public:
    class Stamp {
    public:
        bool Superseded() const { return m_generation->m_count != m_seen; }

    private:
        friend class LoadGeneration;
        Stamp(const LoadGeneration& generation, unsigned seen)
            : m_generation(&generation), m_seen(seen) {}
        const LoadGeneration* m_generation;
        unsigned m_seen;
    };

    // A new load: every stamp handed out so far is superseded.
    Stamp Begin() {
        ++m_count;
        return Stamp(*this, m_count);
    }
    // For a loop that is no load itself, but must end when a load begins.
    Stamp Watch() const { return Stamp(*this, m_count); }
    // Every running loop stops before its next photo (the window closes).
    void SupersedeAll() { ++m_count; }

private:
    unsigned m_count = 0;
};

// What may run while a folder load or the automatic pass runs: nothing turns, deletes or
// reloads from inside such a loop. A reload asked for during the pass replaces the list the
// pass walks, so it waits for the pass to end; loads may nest (a newer one supersedes).
class BusyRule {
public:
    enum class Loop { FolderLoad, AutomaticPass };

    void Begin(Loop loop);
    void End(Loop loop);
    bool InLongLoop() const { return m_foldersLoading > 0 || m_automaticPass; }

    // True when a load of `folder` asked for now must wait; it is then owed (the newest wins).
    bool DeferLoad(const QString& folder);
    bool LoadOwed() const { return m_deferredLoad.has_value(); }
    // The owed load, once no loop runs; it is owed no longer.
    std::optional<QString> TakeOwedLoad();
    void DropOwedLoad() { m_deferredLoad.reset(); }

private:
    int m_foldersLoading = 0; // nested loads count each
    bool m_automaticPass = false;
    std::optional<QString> m_deferredLoad;
};

} // namespace session
