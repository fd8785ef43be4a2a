// SPDX-License-Identifier: GPL-3.0-or-later
#include "session/auto_list.h"

#include "collection/scan.h"
#include "rotate/orientation_table.h"

namespace session {

bool AutoList::NoteOrientation(const QString& path, int orientation) {
    if (orientation < 0 || orientation > 0xFFFF || !rotate::UprightCode(std::uint16_t(orientation)))
        return false;
    m_entries.push_back({path, orientation});
    return true;
}

int AutoList::IndexOf(const QString& path) const {
    for (std::size_t i = 0; i < m_entries.size(); ++i)
        if (collection::SamePath(m_entries[i].path, path)) return int(i);
    return -1;
}

void AutoList::NoteTurn(const QString& path, std::optional<std::uint16_t> newOrientation,
                        TurnKind kind) {
    const int i = IndexOf(path);
    if (i < 0) return;
    if (kind == TurnKind::Automatic)
        m_entries[std::size_t(i)].value = 0;
    else if (newOrientation == std::uint16_t(1))
        m_entries.erase(m_entries.begin() + i);
    else if (newOrientation)
        m_entries[std::size_t(i)].value = *newOrientation;
}

void AutoList::PurgeHandled() {
    std::erase_if(m_entries, [](const AutoEntry& e) { return e.value == 0; });
}

} // namespace session
