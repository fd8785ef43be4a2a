// SPDX-License-Identifier: GPL-3.0-or-later
#include "cli/tag_commands.h"

#include "exif/exif_format.h"
#include "exif/exif_reader.h"
#include "exif/jpeg_header.h"
#include "exif/orientation_writer.h"
#include "lang/charset.h"
#include "thumbs/image_codec.h"

#include <QFile>
#include <QLocale>

#include <cstdint>
#include <cstdio>

#include "cli/path_text.h"
#include "cli/printable.h"
#include "cli/usage.h"
#include "platform/desktop_thumbnails.h"

namespace cli {

int CmdOrientation(const Options& o) {
    if (o.positional.isEmpty()) return Usage("orientation needs files");
    if (o.set && (*o.set < 1 || *o.set > 8)) return Usage("--set takes an orientation from 1 to 8");
    int failed = 0;
    for (const QString& path : o.positional) {
        if (const auto what = NotAPhotoFile(path)) {
            std::fprintf(stderr, "%s: %s\n", Local(path).c_str(), what->c_str());
            ++failed;
            continue;
        }
        if (o.set) {
            const platform::Result written = exif::WriteOrientation(
                QFile::encodeName(path).toStdString(), std::uint16_t(*o.set));
            if (!written.ok()) {
                std::fprintf(stderr, "%s: orientation not set: %s\n", Local(path).c_str(),
                             written.text().c_str());
                ++failed;
                continue;
            }
            platform::RemoveDesktopThumbnails(path);
        }
        std::printf("%s\t%u\n", Local(path).c_str(), thumbs::ReadImageHeader(path).orientation);
    }
    return failed ? kSomeFailed : kOk;
}

int CmdExif(const Options& o) {
    if (o.positional.isEmpty()) return Usage("exif needs files");
    int failed = 0;
    const std::string separator = QLocale().decimalPoint().toStdString();
    for (const QString& path : o.positional) {
        if (const auto what = NotAPhotoFile(path)) {
            std::fprintf(stderr, "%s: %s\n", Local(path).c_str(), what->c_str());
            ++failed;
            continue;
        }
        const auto header = exif::ReadJpegHeader(QFile::encodeName(path).toStdString());
        if (header.empty()) {
            std::fprintf(stderr, "%s: not a readable JPEG\n", Local(path).c_str());
            ++failed;
            continue;
        }
        if (o.positional.size() > 1) std::printf("== %s\n", Local(path).c_str());
        for (const exif::ExifRow& row : exif::ExifRows(exif::ReadJpegExif(header), separator))
            std::printf("%s\t%s\n", row.label.c_str(),
                        lang::DecodeUtf8OrWindows1252(row.value).toUtf8().constData());
    }
    return failed ? kSomeFailed : kOk;
}

} // namespace cli
