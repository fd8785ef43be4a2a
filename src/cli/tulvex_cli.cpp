// SPDX-License-Identifier: GPL-3.0-or-later
// tulvex-cli: the photo work of the window without a window.
#include "collection/scan.h"
#include "exif/exif_format.h"
#include "exif/exif_reader.h"
#include "jpeg/jpeg_header.h"
#include "jpeg/orientation_writer.h"
#include "lang/charset.h"
#include "rotate/orientation_table.h"
#include "rotate/turn.h"
#include "thumbs/image_codec.h"
#include "thumbs/thumbnail_cache.h"
#include "thumbs/thumbnail_pipeline.h"

#include <QCoreApplication>
#include <QDir>
#include <QElapsedTimer>
#include <QFile>
#include <QFileInfo>
#include <QLocale>
#include <QtConcurrent/QtConcurrentMap>

#include <cstdio>
#include <cstring>
#include <map>
#include <optional>
#include <string>
#include <sys/stat.h>
#include <vector>

#include "platform/allocator.h"

namespace {

constexpr int kOk = 0;
constexpr int kSomeFailed = 1;
constexpr int kUsage = 2;

const char* const kUsageText =
    "usage: tulvex-cli rotate [--crop] [--keep-time] left|right|180 FILE...\n"
    "       tulvex-cli auto [--recursive] [--keep-time] [--crop] FOLDER\n"
    "       tulvex-cli orientation [--set N] FILE...\n"
    "       tulvex-cli exif FILE...\n"
    "       tulvex-cli thumbnails [--low] [--cell W] [--recursive] FOLDER [--out DIR]\n"
    "       tulvex-cli --version | --help\n";

int Usage(const char* problem = nullptr) {
    if (problem) std::fprintf(stderr, "tulvex-cli: %s\n", problem);
    std::fputs(kUsageText, stderr);
    return kUsage;
}

int Help() {
    std::fputs(kUsageText, stdout);
    std::fputs(
        "\nExit status: 0 all went well, 1 some photo failed, 2 bad usage. See tulvex-cli(1).\n",
        stdout);
    return kOk;
}

std::string Local(const QString& s) {
    return s.toLocal8Bit().toStdString();
}

struct Options {
    bool crop = false, keepTime = false, recursive = false, low = false;
    std::optional<int> set;
    int cell = 150;
    QString out;
    QStringList positional;
};

// Flags may stand anywhere; "--" ends them.
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

enum class TurnResult { Turned, Skipped, Failed };

struct TurnReport {
    TurnResult result = TurnResult::Failed;
    std::string message; // to standard output when skipped, to standard error when failed
    std::string warning; // to standard error, whatever the result
};

TurnReport TurnOne(const QString& path, rotate::RotationCode code, const Options& o) {
    const auto name = Local(path);
    if (!QFileInfo(path).isFile()) return {TurnResult::Failed, name + ": no such file", {}};
    const std::optional<rotate::TurnPlan> plan = rotate::PlanTurn(path, code, o.keepTime);
    if (!plan) return {TurnResult::Failed, name + ": bad turn", {}};
    if (plan->mayCrop() && !o.crop)
        return {TurnResult::Skipped,
                name + ": skipped, " + plan->cropReason() + " (use --crop to turn it anyway)",
                {}};
    const rotate::TurnOutcome outcome = rotate::ApplyTurn(*plan, o.crop);
    switch (outcome.status) {
    case rotate::TurnOutcome::Status::Turned:
        return {TurnResult::Turned, {}, outcome.warning};
    case rotate::TurnOutcome::Status::TransformFailed:
        return {TurnResult::Failed,
                name + ": unable to rotate the image: " + outcome.result.text(),
                {}};
    case rotate::TurnOutcome::Status::TimesFailed:
        return {TurnResult::Failed,
                name + ": turned, but its times could not be restored: " + outcome.result.text(),
                {}};
    }
    return {};
}

struct TurnJob {
    QString path;
    std::optional<rotate::RotationCode> code; // none: the photo's orientation decides
    std::uint16_t orientation = 0;
    TurnReport report;
};

void RunJob(TurnJob& job, const Options& o) {
    if (!job.code) {
        job.orientation = thumbs::ReadImageHeader(job.path).orientation;
        job.code = rotate::UprightCode(job.orientation);
    }
    if (job.code) job.report = TurnOne(job.path, *job.code, o);
}

// The jobs of one file (the same device and inode, however it was named) in the given order: one
// writer per photo, each job reading what the one before it wrote.
std::vector<std::vector<std::size_t>> GroupBySameFile(const std::vector<TurnJob>& jobs) {
    std::vector<std::vector<std::size_t>> groups;
    std::map<std::pair<dev_t, ino_t>, std::size_t> groupOf;
    for (std::size_t i = 0; i < jobs.size(); ++i) {
        struct stat st {};
        if (::stat(QFile::encodeName(jobs[i].path).constData(), &st) != 0) {
            groups.push_back({i});
            continue;
        }
        const auto [at, added] = groupOf.try_emplace({st.st_dev, st.st_ino}, groups.size());
        if (added) groups.emplace_back();
        groups[at->second].push_back(i);
    }
    return groups;
}

// Turns photos on all cores, each written safely on its own; reports in the given order.
void RunTurns(std::vector<TurnJob>& jobs, const Options& o) {
    std::vector<std::vector<std::size_t>> groups = GroupBySameFile(jobs);
    QtConcurrent::blockingMap(groups, [&jobs, &o](const std::vector<std::size_t>& group) {
        for (const std::size_t i : group)
            RunJob(jobs[i], o);
    });
}

void PrintReport(const TurnReport& report) {
    if (!report.warning.empty()) std::fprintf(stderr, "warning: %s\n", report.warning.c_str());
    if (report.message.empty()) return;
    std::fprintf(report.result == TurnResult::Failed ? stderr : stdout, "%s\n",
                 report.message.c_str());
}

int CmdRotate(const Options& o) {
    if (o.positional.size() < 2) return Usage("rotate needs a direction and files");
    const QString dir = o.positional[0];
    using rotate::RotationCode;
    const std::optional<RotationCode> code = dir == "left"    ? std::optional(RotationCode::Left)
                                             : dir == "right" ? std::optional(RotationCode::Right)
                                             : dir == "180"   ? std::optional(RotationCode::Half)
                                                              : std::nullopt;
    if (!code) return Usage("the direction is left, right or 180");
    std::vector<TurnJob> jobs;
    for (qsizetype i = 1; i < o.positional.size(); ++i)
        jobs.push_back({o.positional[i], code, 0, {}});
    RunTurns(jobs, o);
    int failed = 0;
    for (const TurnJob& job : jobs) {
        PrintReport(job.report);
        if (job.report.result == TurnResult::Turned)
            std::printf("%s: turned %s\n", Local(job.path).c_str(), Local(dir).c_str());
        failed += job.report.result == TurnResult::Failed;
    }
    return failed ? kSomeFailed : kOk;
}

int CmdAuto(const Options& o) {
    if (o.positional.size() != 1) return Usage("auto needs one folder");
    const QString folder = collection::WithoutTrailingDelimiter(o.positional[0]);
    if (!QFileInfo(folder).isDir()) {
        std::fprintf(stderr, "%s: not a folder\n", Local(folder).c_str());
        return kSomeFailed;
    }
    QStringList paths;
    collection::ScanFolder(folder, o.recursive, paths);
    std::sort(paths.begin(), paths.end(), collection::PathLess);
    std::vector<TurnJob> jobs;
    for (const QString& path : paths)
        jobs.push_back({path, std::nullopt, 0, {}});
    RunTurns(jobs, o);
    int turned = 0, skipped = 0, failed = 0;
    for (const TurnJob& job : jobs) {
        if (!job.code) continue;
        PrintReport(job.report);
        switch (job.report.result) {
        case TurnResult::Turned:
            ++turned;
            std::printf("%s: orientation %u, turned upright\n", Local(job.path).c_str(),
                        job.orientation);
            break;
        case TurnResult::Skipped:
            ++skipped;
            break;
        case TurnResult::Failed:
            ++failed;
            break;
        }
    }
    std::printf("%d turned, %d skipped, %d failed\n", turned, skipped, failed);
    return failed ? kSomeFailed : kOk;
}

int CmdOrientation(const Options& o) {
    if (o.positional.isEmpty()) return Usage("orientation needs files");
    if (o.set && (*o.set < 1 || *o.set > 8)) return Usage("--set takes an orientation from 1 to 8");
    int failed = 0;
    for (const QString& path : o.positional) {
        if (!QFileInfo(path).isFile()) {
            std::fprintf(stderr, "%s: no such file\n", Local(path).c_str());
            ++failed;
            continue;
        }
        if (o.set)
            jpeg::WriteOrientation(QFile::encodeName(path).toStdString(), std::uint16_t(*o.set));
        std::printf("%s\t%u\n", Local(path).c_str(), thumbs::ReadImageHeader(path).orientation);
    }
    return failed ? kSomeFailed : kOk;
}

int CmdExif(const Options& o) {
    if (o.positional.isEmpty()) return Usage("exif needs files");
    int failed = 0;
    const std::string separator = QLocale().decimalPoint().toStdString();
    for (const QString& path : o.positional) {
        const auto header = jpeg::ReadJpegHeader(QFile::encodeName(path).toStdString());
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

// Named after the photo's whole path below the folder, extension kept: IMG_0001.jpg of two
// subfolders, or IMG.jpg beside IMG.JPG, never share a thumbnail file.
QString ThumbnailFileName(const QString& out, const QString& relativePath) {
    return out + u'/' + relativePath + QStringLiteral(".png");
}

int CmdThumbnails(const Options& o) {
    if (o.positional.size() != 1 || o.cell < 20 || o.cell > 4000)
        return Usage("thumbnails needs one folder and a cell of 20 to 4000");
    const QString folder = collection::WithoutTrailingDelimiter(o.positional[0]);
    if (!QFileInfo(folder).isDir()) {
        std::fprintf(stderr, "%s: not a folder\n", Local(folder).c_str());
        return kSomeFailed;
    }
    QStringList paths;
    collection::ScanFolder(folder, o.recursive, paths);
    if (!o.out.isEmpty() && !QDir().mkpath(o.out)) {
        std::fprintf(stderr, "%s: cannot create\n", Local(o.out).c_str());
        return kSomeFailed;
    }
    const thumbs::ThumbnailOptions options{o.cell, o.cell + 20, !o.low, true};
    // Only here: a process that turns one photo is faster with its large buffers mapped apart.
    platform::KeepImageBuffersMapped();
    QElapsedTimer timer;
    timer.start();
    int made = 0, unreadable = 0, unwritten = 0;
    // The window's cache, pool and order. A batch run writes each file on the thread that
    // decoded the photo: nobody waits for the first thumbnail.
    const auto cache = thumbs::OpenDefaultCache(thumbs::ThumbnailCache::Writes::Inline);
    thumbs::ThumbnailPipeline pipeline(paths, options, cache);
    const QDir base(folder);
    for (qsizetype i = 0; i < paths.size(); ++i) {
        const QString& path = paths[i];
        const thumbs::Thumbnail thumb = pipeline.take(i);
        if (thumb.status != thumbs::Thumbnail::Status::Made) {
            std::fprintf(stderr, "%s: %s\n", Local(path).c_str(),
                         thumb.status == thumbs::Thumbnail::Status::Missing ? "gone"
                                                                            : "unreadable");
            ++unreadable;
            continue;
        }
        ++made;
        if (o.out.isEmpty()) continue;
        const QString target = ThumbnailFileName(o.out, base.relativeFilePath(path));
        if (!QDir().mkpath(QFileInfo(target).path()) || !thumb.image.save(target, "PNG")) {
            std::fprintf(stderr, "%s: cannot write\n", Local(target).c_str());
            ++unwritten;
        }
    }
    std::printf("%d thumbnails made, %d unreadable, %d not written, %.3f s\n", made, unreadable,
                unwritten, double(timer.nsecsElapsed()) / 1e9);
    return unreadable || unwritten ? kSomeFailed : kOk;
}

} // namespace

int main(int argc, char* argv[]) {
    QCoreApplication application(argc, argv);
    QStringList args = application.arguments().mid(1);
    if (args.isEmpty()) return Usage();
    const QString command = args.takeFirst();
    if (command == "--help" || command == "-h") return Help();
    if (command == "--version") {
        std::printf("tulvex-cli %s\n", TULVEX_VERSION);
        return kOk;
    }
    const std::optional<Options> options = ParseOptions(args);
    if (!options) return Usage("unknown or incomplete option");
    if (command == "rotate") return CmdRotate(*options);
    if (command == "auto") return CmdAuto(*options);
    if (command == "orientation") return CmdOrientation(*options);
    if (command == "exif") return CmdExif(*options);
    if (command == "thumbnails") return CmdThumbnails(*options);
    return Usage("unknown command");
}
