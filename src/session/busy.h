// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include <QString>

#include <optional>

namespace session {

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
