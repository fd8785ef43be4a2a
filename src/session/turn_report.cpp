// SPDX-License-Identifier: GPL-3.0-or-later
#include "session/turn_report.h"

#include "thumbs/thumbnail_cache.h"

#include <QFile>

#include <utility>

namespace session {

void TurnReport::Take(const PhotoTurnResult& outcome) {
    using Kind = PhotoTurnResult::Kind;
    if (outcome.kind != Kind::Turned && outcome.kind != Kind::Failed) return;
    m_keptTimes.erase(outcome.path);
    if (outcome.kind == Kind::Failed) return;
    if (outcome.kept) m_keptTimes[outcome.path] = *outcome.kept;
    if (!outcome.result.ok())
        m_warnings.push_back({TurnWarning::Kind::FlushFailed, outcome.path, outcome.result});
    if (!outcome.undo.ok())
        m_warnings.push_back({TurnWarning::Kind::NotUndoable, outcome.path, outcome.undo});
    if (!outcome.times.ok())
        m_warnings.push_back({TurnWarning::Kind::TimesNotRestored, outcome.path, outcome.times});
}

void TurnReport::KeepTimes(const QString& path, std::optional<platform::FileTimes> times) {
    m_keptTimes.erase(path);
    if (times) m_keptTimes[path] = *times;
}

void TurnReport::Warn(TurnWarning warning) {
    m_warnings.push_back(std::move(warning));
}

std::optional<platform::FileTimes> TurnReport::TakeKeptTimes(const QString& path) {
    const auto kept = m_keptTimes.find(path);
    if (kept == m_keptTimes.end()) return std::nullopt;
    const platform::FileTimes times = kept->second;
    m_keptTimes.erase(kept);
    return times;
}

void TurnReport::ForgetKeptTimes(const QString& path) {
    m_keptTimes.erase(path);
}

bool TurnReport::RestoreKeptTimes(const QString& path, thumbs::ThumbnailCache* cache) {
    const std::optional<platform::FileTimes> kept = TakeKeptTimes(path);
    if (!kept || !platform::SetFileTimes(QFile::encodeName(path).toStdString(), *kept).ok())
        return false;
    if (cache) cache->AdoptOwnTimesChange(path);
    return true;
}

void TurnReport::Hold() {
    ++m_holds;
}

std::vector<TurnWarning> TurnReport::Release() {
    if (m_holds > 0) --m_holds;
    return TakeDueWarnings();
}

std::vector<TurnWarning> TurnReport::TakeDueWarnings() {
    if (m_holds > 0) return {};
    return std::exchange(m_warnings, {});
}

} // namespace session
