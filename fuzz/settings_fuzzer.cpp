// SPDX-License-Identifier: GPL-3.0-or-later
// The settings store reader: whatever it reads, what it writes reads back the same.
#include "session/settings_store.h"

#include <cstdlib>

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    session::SettingsStore store;
    store.parse(QString::fromUtf8(reinterpret_cast<const char*>(data), qsizetype(size)));
    for (const QString& name : store.valueNames()) {
        (void)store.readInteger(name, 5);
        (void)store.readString(name, {});
    }
    store.writeInteger(QStringLiteral("ThumbsInRow"), 7);
    session::SettingsStore again;
    again.parse(store.serialize());
    if (again.readInteger(QStringLiteral("ThumbsInRow"), 0) != 7) std::abort();
    if (again.valueNames() != store.valueNames()) std::abort();
    return 0;
}
