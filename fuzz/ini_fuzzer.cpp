// SPDX-License-Identifier: GPL-3.0-or-later
// The language-file reader.
#include "lang/ini_reader.h"

#include <cstdlib>

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    const lang::IniFile ini =
        lang::IniFile::Parse(QByteArray(reinterpret_cast<const char*>(data), qsizetype(size)));
    for (const QString& section : {QStringLiteral("Translations"), QStringLiteral("Messages")})
        for (const QString& key : ini.keys(section))
            if (ini.read(section, key, {}).size() > lang::IniFile::kMaxValueLength) std::abort();
    return 0;
}
