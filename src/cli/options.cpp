// SPDX-License-Identifier: GPL-3.0-or-later
#include "cli/options.h"

namespace cli {

std::optional<Options> ParseOptions(const QStringList& args) {
    Options o;
    bool flags = true;
    for (qsizetype i = 0; i < args.size(); ++i) {
        const QString& a = args[i];
        if (flags && a == "--") {
            flags = false;
        } else if (flags && a == "--crop") {
            o.crop = true;
        } else if (flags && a == "--keep-time") {
            o.keepTime = true;
        } else if (flags && a == "--recursive") {
            o.recursive = true;
        } else if (flags && a == "--low") {
            o.low = true;
        } else if (flags && (a == "--set" || a == "--cell" || a == "--out")) {
            if (++i >= args.size()) return std::nullopt;
            bool ok = true;
            if (a == "--set") o.set = args[i].toInt(&ok);
            if (a == "--cell") o.cell = args[i].toInt(&ok);
            if (a == "--out") o.out = args[i];
            if (!ok) return std::nullopt;
        } else if (flags && a.startsWith("--")) {
            return std::nullopt;
        } else {
            o.positional << a;
        }
    }
    return o;
}

} // namespace cli
