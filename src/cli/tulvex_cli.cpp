// SPDX-License-Identifier: GPL-3.0-or-later
// tulvex-cli: the photo work of the window without a window.
#include "collection/scan.h"
#include "exif/exif_format.h"
#include "exif/exif_reader.h"
#include "exif/jpeg_header.h"
#include "exif/orientation_writer.h"
#include "lang/charset.h"
#include "rotate/orientation_table.h"
#include "rotate/turn.h"
#include "rotate/turn_memory.h"
#include "session/photo_turn.h"
#include "session/undo.h"
#include "thumbs/image_codec.h"
#include "thumbs/thumbnail_cache.h"
#include "thumbs/thumbnail_pipeline.h"

#include <QCoreApplication>
#include <QDir>
#include <QElapsedTimer>
#include <QFile>
#include <QFileInfo>
#include <QLocale>

#include <fcntl.h>
#include <unistd.h>

#include <cerrno>
#include <cstdio>
#include <cstring>
#include <memory>
#include <optional>
#include <set>
#include <string>
#include <sys/stat.h>
#include <vector>

#include "platform/allocator.h"
#include "platform/desktop_thumbnails.h"
#include "platform/file_io.h"
#include "platform/leftovers.h"

namespace {

constexpr int kOk = 0;
constexpr int kSomeFailed = 1;
constexpr int kUsage = 2;

const char* const kUsageText =
    "usage: tulvex-cli rotate [--crop] [--keep-time] left|right|180 FILE...\n"
    "       tulvex-cli auto [--recursive] [--keep-time] [--crop] FOLDER\n"
    "       tulvex-cli undo\n"
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

// The length of the UTF-8 sequence that starts at `at`, or 0 when it is not one.
std::size_t Utf8SequenceAt(const std::string& bytes, std::size_t at) {
    const auto byte = [&](std::size_t i) { return static_cast<unsigned char>(bytes[i]); };
    const unsigned char lead = byte(at);
    std::size_t length = 0;
    unsigned char low = 0x80, high = 0xBF; // the range of the second byte
    if (lead >= 0xC2 && lead <= 0xDF) {
        length = 2;
    } else if (lead >= 0xE0 && lead <= 0xEF) {
        length = 3;
        if (lead == 0xE0) low = 0xA0;  // no overlong form
        if (lead == 0xED) high = 0x9F; // no surrogate
    } else if (lead >= 0xF0 && lead <= 0xF4) {
        length = 4;
        if (lead == 0xF0) low = 0x90;
        if (lead == 0xF4) high = 0x8F; // nothing past U+10FFFF
    }
    if (length == 0 || at + length > bytes.size()) return 0;
    if (byte(at + 1) < low || byte(at + 1) > high) return 0;
    for (std::size_t i = 2; i < length; ++i)
        if (byte(at + i) < 0x80 || byte(at + i) > 0xBF) return 0;
    return length;
}

// Text as one printable line: control characters (C0, DEL, C1 and the Unicode line and paragraph
// separators), a backslash and bytes that are not UTF-8 are written as C escapes, so that a name
// holding a line break reads as one name.
std::string Printable(const std::string& bytes) {
    std::string out;
    out.reserve(bytes.size());
    const auto hex = [&out](unsigned char c) {
        char escaped[5];
        std::snprintf(escaped, sizeof escaped, "\\x%02x", c);
        out += escaped;
    };
    for (std::size_t i = 0; i < bytes.size();) {
        const auto c = static_cast<unsigned char>(bytes[i]);
        if (c < 0x80) {
            switch (c) {
            case '\\':
                out += "\\\\";
                break;
            case '\n':
                out += "\\n";
                break;
            case '\t':
                out += "\\t";
                break;
            case '\r':
                out += "\\r";
                break;
            default:
                if (c < 0x20 || c == 0x7F)
                    hex(c);
                else
                    out += char(c);
            }
            ++i;
            continue;
        }
        const std::size_t length = Utf8SequenceAt(bytes, i);
        const std::string_view sequence(bytes.data() + i, length);
        const bool control =
            length == 2 && c == 0xC2 && static_cast<unsigned char>(bytes[i + 1]) < 0xA0;
        const bool separator = sequence == "\xE2\x80\xA8" || sequence == "\xE2\x80\xA9";
        if (length == 0) {
            hex(c);
            ++i;
        } else if (control || separator) {
            for (const char b : sequence)
                hex(static_cast<unsigned char>(b));
            i += length;
        } else {
            out += sequence;
            i += length;
        }
    }
    return out;
}

// A name as it is printed: in the file system's encoding, escaped to one line.
std::string Local(const QString& s) {
    return Printable(QFile::encodeName(s).toStdString());
}

// What stands at `path` when it is not a photo file that can be read; nullopt when it is one.
// Nothing is opened that could block: a FIFO or a device is named from its status alone.
std::optional<std::string> NotAPhotoFile(const QString& path) {
    const QByteArray native = QFile::encodeName(path);
    struct stat st {};
    if (::stat(native.constData(), &st) != 0) {
        const int error = errno;
        if (error == ENOENT || error == ENOTDIR) {
            struct stat link {};
            return ::lstat(native.constData(), &link) == 0 && S_ISLNK(link.st_mode)
                       ? "no such file (a link to nothing)"
                       : "no such file";
        }
        if (error == EACCES) return "cannot be read: permission denied";
        return std::string("cannot be read: ") + std::strerror(error);
    }
    if (S_ISDIR(st.st_mode)) return "is a folder";
    if (S_ISFIFO(st.st_mode)) return "is not a regular file (FIFO)";
    if (S_ISSOCK(st.st_mode)) return "is not a regular file (socket)";
    if (S_ISCHR(st.st_mode) || S_ISBLK(st.st_mode)) return "is a device";
    if (!S_ISREG(st.st_mode)) return "is not a regular file";
    const int fd = ::open(native.constData(), O_RDONLY | O_NONBLOCK | O_NOCTTY | O_CLOEXEC);
    if (fd < 0) {
        const int error = errno;
        if (error == EACCES) return "cannot be read: permission denied";
        return std::string("cannot be read: ") + std::strerror(error);
    }
    ::close(fd);
    return std::nullopt;
}

// What stands at `path` when it is not a folder; nullopt when it is one.
std::optional<std::string> NotAFolder(const QString& path) {
    struct stat st {};
    if (::stat(QFile::encodeName(path).constData(), &st) == 0 && S_ISDIR(st.st_mode))
        return std::nullopt;
    const std::optional<std::string> what = NotAPhotoFile(path);
    return what ? what : std::optional<std::string>("is a file, not a folder");
}

struct Options {
    bool crop = false, keepTime = false, recursive = false, low = false;
    std::optional<int> set;
    int cell = 150;
    QString out;
    QStringList positional;
    session::UndoCommand* undo = nullptr; // keeps what the command's turns replace
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
    // Turned, but not yet safely on disk: the exit status says so, as for a failure.
    bool notFlushed = false;
};

TurnReport ReportOf(const session::PhotoOutcome& outcome) {
    const auto name = Local(outcome.path);
    using Kind = session::PhotoOutcome::Kind;
    switch (outcome.kind) {
    case Kind::NotAPhoto:
        return {TurnResult::Failed, name + ": " + outcome.notAPhoto, {}};
    case Kind::BadCode:
    case Kind::NoTurn:
        return {TurnResult::Failed, name + ": bad turn", {}};
    case Kind::SkippedByCrop:
        return {TurnResult::Skipped,
                name + ": skipped, " + outcome.cropReason + " (use --crop to turn it anyway)",
                {}};
    case Kind::Failed:
        return {TurnResult::Failed,
                name + ": unable to rotate the image: " + Printable(outcome.result.text()),
                {}};
    case Kind::Turned:
        break;
    }
    // The photo is turned: what follows are only warnings.
    std::vector<std::string> warnings;
    if (outcome.timesNotRestored)
        warnings.push_back(name + ": turned, but its times could not be restored: " +
                           Printable(outcome.result.text()));
    if (!outcome.flushWarning.empty()) warnings.push_back(Printable(outcome.flushWarning));
    if (!outcome.undoWarning.empty())
        warnings.push_back(
            name + ": turned, but the turn cannot be undone: " + Printable(outcome.undoWarning));
    std::string warning;
    for (const std::string& each : warnings)
        warning += (warning.empty() ? "" : "\nwarning: ") + each;
    return {TurnResult::Turned, {}, warning, !outcome.flushWarning.empty()};
}

// Turns photos on all cores, each written safely on its own; one outcome per entry, in order.
std::vector<session::PhotoOutcome> RunTurns(const std::vector<session::ListEntry>& entries,
                                            const Options& o) {
    session::ListOptions options;
    // --crop answers the crop question before it is asked; without it every such photo is
    // left as it is.
    options.turn = {o.keepTime, !o.crop, o.crop, session::TurnKind::Manual};
    options.turn.undo = o.undo;
    options.parallel = true;
    session::ListCalls calls;
    calls.notAPhoto = NotAPhotoFile;
    return session::TurnList(
               entries, options, [](const rotate::TurnPlan&) { return session::CropAnswer{}; },
               calls, nullptr)
        .outcomes;
}

void PrintReport(const TurnReport& report) {
    if (!report.warning.empty()) std::fprintf(stderr, "warning: %s\n", report.warning.c_str());
    if (report.message.empty()) return;
    std::fprintf(report.result == TurnResult::Failed ? stderr : stdout, "%s\n",
                 report.message.c_str());
}

// Turns a killed or failed run left unfinished in these folders are finished before new turns
// read their photos, by the same checked rule as a folder load in the window; a file named like
// our copies that belongs to no photo is told and left.
void TellLeftover(const platform::LeftoverOutcome& outcome) {
    using Status = platform::LeftoverOutcome::Status;
    const std::string target = Printable(outcome.target), copy = Printable(outcome.leftover);
    if (outcome.status == Status::Finished)
        std::printf("%s: the interrupted turn was finished from its complete copy\n",
                    target.c_str());
    else if (outcome.status == Status::Failed)
        std::fprintf(stderr,
                     "warning: %s: the interrupted turn could not be finished (%s); its "
                     "complete turned copy stays in %s\n",
                     target.c_str(), Printable(outcome.result.text()).c_str(), copy.c_str());
    else if (outcome.status == Status::Foreign)
        std::fprintf(stderr,
                     "warning: %s: named like a copy kept during a turn, but belongs to no "
                     "photo here (%s); left as it is\n",
                     copy.c_str(), Printable(outcome.result.text()).c_str());
}

void FinishInterruptedTurns(const std::vector<std::string>& leftovers) {
    for (const std::string& leftover : leftovers)
        TellLeftover(platform::ResolveLeftover(leftover));
}

std::vector<std::string> LeftoversBeside(const QStringList& photos) {
    std::set<std::string> folders;
    for (const QString& photo : photos)
        if (const QString real = QFileInfo(photo).canonicalFilePath(); !real.isEmpty())
            folders.insert(QFile::encodeName(QFileInfo(real).path()).toStdString());
    std::vector<std::string> leftovers;
    for (const std::string& folder : folders)
        for (std::string& leftover : platform::LeftoversIn(folder))
            leftovers.push_back(std::move(leftover));
    return leftovers;
}

// The command line's own stack of commands: a script's undo never takes back a turn made in the
// window meanwhile, nor the other way round.
session::UndoStore CommandLineUndo() {
    return session::UndoStore(session::DefaultUndoFolder(), QStringLiteral("cli"),
                              session::UndoBoundNow().bytes);
}

// The options with a new undo record for this command's turns.
struct Recorded {
    Options options;
    std::unique_ptr<session::UndoCommand> command;
};
Recorded RecordedForUndo(const Options& o) {
    Recorded recorded{o, {}};
    platform::Result why;
    recorded.command = CommandLineUndo().Begin(&why);
    if (!recorded.command)
        std::fprintf(stderr, "warning: the turns cannot be undone: %s\n",
                     Printable(why.text()).c_str());
    recorded.options.undo = recorded.command.get();
    return recorded;
}

int CmdUndo(const Options& o) {
    if (!o.positional.isEmpty()) return Usage("undo takes no arguments");
    const session::UndoResult undone = CommandLineUndo().UndoLast();
    if (!undone.error.ok()) {
        std::fprintf(stderr, "tulvex-cli: %s\n", Printable(undone.error.text()).c_str());
        return kSomeFailed;
    }
    if (undone.nothing) {
        std::fprintf(stderr, "tulvex-cli: nothing to undo\n");
        return kSomeFailed;
    }
    for (const platform::LeftoverOutcome& leftover : undone.leftovers)
        TellLeftover(leftover);
    int failed = 0;
    using Status = session::UndoPhoto::Status;
    for (const session::UndoPhoto& photo : undone.photos) {
        const std::string name = Local(photo.path);
        if (photo.status == Status::Restored && !photo.timesNotRestored) {
            std::printf("%s: restored\n", name.c_str());
            continue;
        }
        ++failed;
        if (photo.status == Status::Restored)
            std::fprintf(stderr, "%s: restored, but its times could not be set back: %s\n",
                         name.c_str(), Printable(photo.result.text()).c_str());
        else if (photo.status == Status::ChangedSince)
            std::fprintf(stderr, "%s: changed since, left as it is\n", name.c_str());
        else if (photo.path.isEmpty())
            std::fprintf(stderr, "%s: undo record of an unknown photo, not restored: %s\n",
                         Local(photo.record).c_str(), Printable(photo.result.text()).c_str());
        else if (!photo.record.isEmpty())
            std::fprintf(stderr, "%s: not restored: %s: %s\n", name.c_str(),
                         Local(photo.record).c_str(), Printable(photo.result.text()).c_str());
        else
            std::fprintf(stderr, "%s: not restored: %s\n", name.c_str(),
                         Printable(photo.result.text()).c_str());
    }
    return failed ? kSomeFailed : kOk;
}

// A memory cap or an undo bound that is no amount is refused before anything is turned or
// recorded: turning under a limit other than the one meant would be a silent surprise.
bool Unreadable(const rotate::AmountSetting& setting, std::string (*describe)(std::string_view)) {
    if (!setting.unreadable) return false;
    std::fprintf(stderr, "tulvex-cli: %s\n", Printable(describe(*setting.unreadable)).c_str());
    return true;
}

bool SettingsUnreadable() {
    return Unreadable(rotate::TurnMemoryCapNow(), rotate::DescribeUnreadableCap) ||
           Unreadable(session::UndoBoundNow(), session::DescribeUnreadableUndoBound);
}

int CmdRotate(const Options& given) {
    if (SettingsUnreadable()) return kUsage;
    const Recorded recorded = RecordedForUndo(given);
    const Options& o = recorded.options;
    if (o.positional.size() < 2) return Usage("rotate needs a direction and files");
    const QString dir = o.positional[0];
    using rotate::RotationCode;
    const std::optional<RotationCode> code = dir == "left"    ? std::optional(RotationCode::Left)
                                             : dir == "right" ? std::optional(RotationCode::Right)
                                             : dir == "180"   ? std::optional(RotationCode::Half)
                                                              : std::nullopt;
    if (!code) return Usage("the direction is left, right or 180");
    FinishInterruptedTurns(LeftoversBeside(o.positional.mid(1)));
    // One photo is faster with its large buffers mapped apart; several reuse them.
    if (o.positional.size() > 2) platform::KeepTurnBuffersMapped();
    std::vector<session::ListEntry> entries;
    for (qsizetype i = 1; i < o.positional.size(); ++i)
        entries.push_back({o.positional[i], code});
    int failed = 0;
    for (const session::PhotoOutcome& outcome : RunTurns(entries, o)) {
        const TurnReport report = ReportOf(outcome);
        PrintReport(report);
        if (report.result == TurnResult::Turned)
            std::printf("%s: turned %s\n", Local(outcome.path).c_str(), Local(dir).c_str());
        failed += report.result == TurnResult::Failed || report.notFlushed;
    }
    return failed ? kSomeFailed : kOk;
}

int CmdAuto(const Options& given) {
    if (SettingsUnreadable()) return kUsage;
    const Recorded recorded = RecordedForUndo(given);
    const Options& o = recorded.options;
    if (o.positional.size() != 1) return Usage("auto needs one folder");
    const QString folder = collection::WithoutTrailingDelimiter(o.positional[0]);
    if (const auto what = NotAFolder(folder)) {
        std::fprintf(stderr, "%s: %s\n", Local(folder).c_str(), what->c_str());
        return kSomeFailed;
    }
    QStringList paths, stale;
    collection::ScanFolder(folder, o.recursive, paths, &stale);
    std::vector<std::string> leftovers;
    for (const QString& leftover : stale)
        leftovers.push_back(QFile::encodeName(leftover).toStdString());
    FinishInterruptedTurns(leftovers);
    std::sort(paths.begin(), paths.end(), collection::PathLess);
    std::vector<session::ListEntry> entries;
    for (const QString& path : paths)
        entries.push_back({path, std::nullopt});
    int turned = 0, skipped = 0, failed = 0, notFlushed = 0;
    for (const session::PhotoOutcome& outcome : RunTurns(entries, o)) {
        // Photos that need no turn, and names that are no photo file, are passed over.
        if (outcome.kind == session::PhotoOutcome::Kind::NoTurn) continue;
        const TurnReport report = ReportOf(outcome);
        PrintReport(report);
        switch (report.result) {
        case TurnResult::Turned:
            ++turned;
            notFlushed += report.notFlushed;
            std::printf("%s: orientation %u, turned upright\n", Local(outcome.path).c_str(),
                        outcome.storedOrientation);
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
    return failed || notFlushed ? kSomeFailed : kOk;
}

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

// The photo's path below the folder it was scanned from, as the scan built it; nullopt when it
// holds anything that could lead out of an output folder.
std::optional<QStringList> PathBelow(const QString& folder, const QString& path) {
    const QString prefix = folder.endsWith(u'/') ? folder : folder + u'/';
    if (!path.startsWith(prefix)) return std::nullopt;
    const QStringList parts = path.mid(prefix.size()).split(u'/');
    for (const QString& part : parts)
        if (part.isEmpty() || part == u'.' || part == QStringLiteral("..")) return std::nullopt;
    return parts;
}

// Named after the photo's whole path below the folder, extension kept: IMG_0001.jpg of two
// subfolders, or IMG.jpg beside IMG.JPG, never share a thumbnail file.
QString ThumbnailFileName(const QString& out, const QStringList& below) {
    return out + u'/' + below.join(u'/') + QStringLiteral(".png");
}

// Writes the thumbnail at `below` inside the open output folder, creating its subfolders there;
// no link met on the way (a subfolder or the file itself) is followed, so nothing lands outside.
bool WriteThumbnailBelow(int outFolder, const QStringList& below, const QImage& image) {
    platform::UniqueFd folder(::fcntl(outFolder, F_DUPFD_CLOEXEC, 0));
    for (qsizetype i = 0; folder.valid() && i + 1 < below.size(); ++i) {
        const QByteArray name = QFile::encodeName(below[i]);
        if (::mkdirat(folder.get(), name.constData(), 0777) != 0 && errno != EEXIST) return false;
        folder = platform::UniqueFd(::openat(folder.get(), name.constData(),
                                             O_RDONLY | O_DIRECTORY | O_NOFOLLOW | O_CLOEXEC));
    }
    if (!folder.valid()) return false;
    const QByteArray file = QFile::encodeName(below.last() + QStringLiteral(".png"));
    const platform::UniqueFd fd(::openat(
        folder.get(), file.constData(),
        O_WRONLY | O_CREAT | O_TRUNC | O_NOFOLLOW | O_CLOEXEC | O_NONBLOCK | O_NOCTTY, 0666));
    struct stat st {};
    if (!fd.valid() || ::fstat(fd.get(), &st) != 0 || !S_ISREG(st.st_mode)) return false;
    QFile target;
    if (!target.open(fd.get(), QIODevice::WriteOnly, QFileDevice::DontCloseHandle)) return false;
    const bool saved = image.save(&target, "PNG") && target.flush();
    target.close();
    return saved;
}

int CmdThumbnails(const Options& o) {
    if (o.positional.size() != 1 || o.cell < 20 || o.cell > 4000)
        return Usage("thumbnails needs one folder and a cell of 20 to 4000");
    const QString folder = collection::WithoutTrailingDelimiter(o.positional[0]);
    if (const auto what = NotAFolder(folder)) {
        std::fprintf(stderr, "%s: %s\n", Local(folder).c_str(), what->c_str());
        return kSomeFailed;
    }
    QStringList paths;
    collection::ScanFolder(folder, o.recursive, paths);
    platform::UniqueFd outFolder;
    if (!o.out.isEmpty()) {
        if (QDir().mkpath(o.out))
            outFolder = platform::UniqueFd(
                ::open(QFile::encodeName(o.out).constData(), O_RDONLY | O_DIRECTORY | O_CLOEXEC));
        if (!outFolder.valid()) {
            std::fprintf(stderr, "%s: cannot create\n", Local(o.out).c_str());
            return kSomeFailed;
        }
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
    for (qsizetype i = 0; i < paths.size(); ++i) {
        const QString& path = paths[i];
        const thumbs::Thumbnail thumb = pipeline.take(i);
        if (!thumb.made()) {
            std::fprintf(stderr, "%s: %s\n", Local(path).c_str(),
                         thumb.missing() ? "gone" : "unreadable");
            ++unreadable;
            continue;
        }
        ++made;
        if (o.out.isEmpty()) continue;
        const std::optional<QStringList> below = PathBelow(folder, path);
        if (!below || !WriteThumbnailBelow(outFolder.get(), *below, thumb.image)) {
            const QString target = below ? ThumbnailFileName(o.out, *below) : path;
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
    if (command == "undo") return CmdUndo(*options);
    if (command == "orientation") return CmdOrientation(*options);
    if (command == "exif") return CmdExif(*options);
    if (command == "thumbnails") return CmdThumbnails(*options);
    return Usage("unknown command");
}
