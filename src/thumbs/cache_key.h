// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include "thumbs/master_image.h"

#include <QByteArray>
#include <QString>

#include <cstdint>
#include <ctime>
#include <optional>
#include <string>

namespace thumbs {

// What identifies one state of one photo: a turn, a copy over it or a touch changes at least
// one field (the status-change time changes even when the modification time is put back).
struct CacheKey {
    QString path; // absolute
    std::uint64_t device = 0;
    std::uint64_t inode = 0;
    std::int64_t size = 0;
    std::int64_t mtimeSec = 0, mtimeNsec = 0;
    std::int64_t ctimeSec = 0, ctimeNsec = 0;
    bool highQuality = true;
    int masterSide = kMasterSide; // masters for a dense screen are finer, kept apart

    QByteArray Text() const;
    friend bool operator==(const CacheKey&, const CacheKey&) = default;
};

// The key of the photo at `path` as it is now; nullopt when no regular file is there.
std::optional<CacheKey> ReadCacheKey(const QString& path, bool highQuality,
                                     int masterSide = kMasterSide);

// The path as the file system spells it.
std::string NativePath(const QString& path);

// The fine real-time clock, against which photos' status-change times are compared.
struct timespec ClockNow();

} // namespace thumbs
