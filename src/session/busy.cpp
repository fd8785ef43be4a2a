// SPDX-License-Identifier: GPL-3.0-or-later
#include "session/busy.h"

#include <utility>

namespace session {

void BusyRule::Begin(Loop loop) {
    if (loop == Loop::FolderLoad)
        ++m_foldersLoading;
    else
        m_automaticPass = true;
}

void BusyRule::End(Loop loop) {
    if (loop == Loop::FolderLoad)
        --m_foldersLoading;
    else
        m_automaticPass = false;
}

bool BusyRule::DeferLoad(const QString& folder) {
    if (!m_automaticPass) return false;
    m_deferredLoad = folder;
    return true;
}

std::optional<QString> BusyRule::TakeOwedLoad() {
    if (InLongLoop()) return std::nullopt;
    return std::exchange(m_deferredLoad, std::nullopt);
}

} // namespace session
