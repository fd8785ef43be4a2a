// SPDX-License-Identifier: GPL-3.0-or-later
#include "session/messages.h"

#include "rotate/turn_memory.h"

#include <QStringList>

#include <array>
#include <cstring>
#include <utility>

namespace session {

namespace {

using platform::Result;
using platform::Why;

// What fills one placeholder of a reason's sentence.
enum class Arg {
    Subject,    // the file or folder the result is about
    Figure,     // its first figure
    Memory,     // its first figure, an amount of memory
    MemoryDown, // its second figure, an amount of memory rounded down
    Cause,      // what its kind and error number say
    Inner,      // the reason around which a context stands
};

struct WhyEntry {
    Why why;
    const char* format;
    std::vector<Arg> args;
};

// The sentence of every reason the core knows.
const std::vector<WhyEntry> kWhyTable = {
    {Why::PhotoBusy, "another program is changing the photo", {}},
    {Why::ForeignLink,
     "it is a link another user made in a shared folder, which is not followed",
     {}},
    {Why::PhotoChanged, "the photo changed while it was being turned", {}},
    {Why::NotARegularFile, "it is not a regular file", {}},
    {Why::PhotoReadOnly, "the photo is read-only", {}},
    {Why::IsFolder, "it is a folder", {}},
    {Why::IsFifo, "it is not a regular file (FIFO)", {}},
    {Why::IsSocket, "it is not a regular file (socket)", {}},
    {Why::IsDevice, "it is a device", {}},
    {Why::DanglingLink, "it is a link to nothing", {}},
    {Why::Unreadable, "it cannot be read: %s", {Arg::Cause}},
    {Why::IsFile, "it is a file, not a folder", {}},
    {Why::NoSpaceToRewrite, "there is not enough space to rewrite the photo in place", {}},
    {Why::AttributesNotCopied, "its extended attributes could not be copied: %s", {Arg::Cause}},
    {Why::NotFlushed,
     "%s was turned, but is not yet safely on disk: flushing it failed (%s)",
     {Arg::Subject, Arg::Cause}},
    {Why::TurnedCopyKept,
     "%s; the turned photo is complete in %s and is put in place the next time a photo of "
     "its folder is loaded or turned",
     {Arg::Inner, Arg::Subject}},
    {Why::BadTurn, "the turn asked for is no quarter turn", {}},
    {Why::EmptyFile, "the file is empty", {}},
    {Why::ImageDataDamaged, "the photo's image data is damaged", {}},
    {Why::NotWholeBlocks, "the size is not a whole number of blocks", {}},
    {Why::DataAfterImage, "data follows the end of the image where none was expected", {}},
    {Why::NotAJpeg, "it is not a JPEG photo", {}},
    {Why::NeedsMemory,
     "the photo needs %s of memory to turn, more than the %s this computer can spare now",
     {Arg::Memory, Arg::MemoryDown}},
    {Why::XmpOutgrowsSegment,
     "the photo's XMP block would outgrow its segment with the turned images' sizes",
     {}},
    {Why::IndexLost, "the turned photo lost its multi-picture index", {}},
    {Why::TooLargeForIndex, "the turned photo is too large for its multi-picture index", {}},
    {Why::IndexNotRewritten, "the multi-picture index could not be rewritten", {}},
    {Why::IndexMismatch, "the photo's multi-picture index does not match its images", {}},
    {Why::OtherImage,
     "an image the photo holds besides the main one cannot be turned (%s)",
     {Arg::Inner}},
    {Why::NoOrientationEntry, "it has no EXIF orientation entry that can be changed in place", {}},
    {Why::NotAnOrientation, "%s is not an orientation", {Arg::Figure}},
    {Why::Undecodable, "the photo cannot be decoded", {}},
    {Why::NoTrashOnDevice, "there is no trash folder on its device", {}},
    {Why::TrashNameTaken, "the trash is full of files of that name", {}},
    {Why::TrashNotCreated, "the trash folder %s cannot be created: %s", {Arg::Subject, Arg::Cause}},
    {Why::TrashNotPrivate,
     "the trash folder %s is not a private folder of this user (owner, mode 0700, no link)",
     {Arg::Subject}},
    {Why::TrashDamaged, "the trash folder %s is damaged", {Arg::Subject}},
    {Why::LeftoverPhotoChanged, "the photo has changed since", {}},
    {Why::LeftoverUnreadable, "it cannot be read whole", {}},
    {Why::LeftoverNoRecord, "it holds no record of the photo it belongs to", {}},
    {Why::LeftoverNoJpeg, "it holds no JPEG photo", {}},
    {Why::LeftoverPhotoGone, "the photo it was made for is no longer there", {}},
    {Why::LeftoverPhotoNotJpeg, "the photo is not a JPEG", {}},
    {Why::LeftoverIsLink, "it is a symbolic link", {}},
    {Why::LeftoverNotRegular, "it is not a regular file", {}},
    {Why::LeftoverOtherOwner, "it belongs to another user", {}},
    {Why::LeftoverWritableByOthers, "others may write it", {}},
    {Why::LeftoverPhotoNotRegular, "the photo is not a regular file", {}},
    {Why::LeftoverSingleLink, "the photo has a single link", {}},
    {Why::LeftoverPhotoNotWritable, "the photo may not be written", {}},
    {Why::InterruptedNotFinished,
     "its interrupted change could not be finished (%s); the complete copy stays in %s",
     {Arg::Inner, Arg::Subject}},
    {Why::UndoFolderIsLink,
     "the undo folder %s is a symbolic link; nothing is kept there",
     {Arg::Subject}},
    {Why::UndoFolderNotFolder,
     "the undo folder %s is not a folder; nothing is kept there",
     {Arg::Subject}},
    {Why::UndoLockUnavailable, "the undo folder's lock cannot be taken", {}},
    {Why::UndoSpaceUsedUp, "the undo folder's space is used up by this command", {}},
    {Why::UndoCommandBusy,
     "the last command (%s) is still being written or undone",
     {Arg::Subject}},
    {Why::UndoDidNotFit, "its undo data did not fit in the undo folder", {}},
    {Why::UndoMoreLost,
     "more photos of this command lost their undo data to make room; the list of their "
     "names was full",
     {}},
    {Why::UndoDropped, "its undo data was dropped to make room", {}},
    {Why::UndoRecordTooLarge, "the undo record is too large", {}},
    {Why::UndoRecordDamaged, "the undo record is damaged", {}},
    {Why::UndoRecordForeign, "the undo record belongs to another command (%s)", {Arg::Subject}},
    {Why::UndoRecordIsFolder, "the undo record is a folder; left as it is", {}},
    {Why::UndoRecordNotRegular,
     "the undo record is a link or a special file, not a regular file",
     {}},
    {Why::UndoRecordUnreadable, "the undo record cannot be read: %s", {Arg::Inner}},
    {Why::UndoRecordRemoved, "%s; the record was removed", {Arg::Inner}},
    {Why::CacheOff,
     "Thumbnails are not kept on disk this time: the folder %s cannot be used (%s).",
     {Arg::Subject, Arg::Inner}},
};

// What the system's error numbers say, where they say more than the kind.
constexpr std::pair<int, const char*> kErrnoTable[] = {
    {ENOENT, "the file or folder is not there (any more)"},
    {ENOTDIR, "a file stands where a folder is needed"},
    {EACCES, "the system does not permit it"},
    {EPERM, "the system does not permit it"},
    {EROFS, "the disk is read-only"},
    {ENOSPC, "the disk is full"},
    {EDQUOT, "the disk space allowed to this user is used up"},
    {EXDEV, "the photo is on another device than the trash, and it is only ever moved, never "
            "copied"},
    {EFBIG, "the file is too large"},
    {ENOMEM, "there is not enough memory"},
    {ENAMETOOLONG, "the name is too long"},
    {ELOOP, "there is a symbolic link where none is followed"},
    {EIO, "the disk reported an error while reading or writing"},
    {EISDIR, "it is a folder"},
    {EMFILE, "too many files are open"},
    {ENFILE, "too many files are open"},
};

// What a kind says where neither a reason nor the error number says more.
constexpr std::array<const char*, std::size_t(Result::Kind::Count)> kKindTable = {
    "it went well",                                  // Ok
    "it is done, but something after it went wrong", // DoneBut
    "the file or folder is not there (any more)",    // NotFound
    "the system does not permit it",                 // NoPermission
    "the disk is full",                              // NoSpace
    "it is too large",                               // TooLarge
    "another program holds the photo",               // Busy
    "the photo changed meanwhile",                   // ChangedMeanwhile
    "the data is damaged",                           // Damaged
    "this program cannot do that with it",           // Unsupported
    "the turn would trim edge pixels",               // WouldCrop
    "the request names nothing this program knows",  // BadArgument
    "something went wrong",                          // Other
};

// The last resort for an error number with no sentence of its own.
constexpr const char* kSystemSays = "the system reports: %s";

Message Sentence(const char* format, std::vector<Message> args = {}) {
    return Message{format, {}, std::move(args)};
}

const WhyEntry* EntryOf(Why why) {
    for (const WhyEntry& entry : kWhyTable)
        if (entry.why == why) return &entry;
    return nullptr;
}

// What the kind and the error number say, the reason aside.
Message CauseOf(const Result& result) {
    for (const auto& [error, format] : kErrnoTable)
        if (result.error() == error) return Sentence(format);
    const auto kind = std::size_t(result.kind());
    if (result.error() != 0 && result.kind() == Result::Kind::Other)
        return Sentence(kSystemSays, {Literal(std::string(std::strerror(result.error())))});
    return Sentence(kind < kKindTable.size() ? kKindTable[kind] : kKindTable.back());
}

// `inner` fills Arg::Inner: the reason a context stands around.
Message FromEntry(const WhyEntry& entry, const Result& result, const Message& inner) {
    std::vector<Message> args;
    for (const Arg arg : entry.args) {
        switch (arg) {
        case Arg::Subject:
            args.push_back(Literal(result.subject()));
            break;
        case Arg::Figure:
            args.push_back(Literal(std::to_string(result.figure(0))));
            break;
        case Arg::Memory:
            args.push_back(Literal(rotate::DescribeMemory(result.figure(0))));
            break;
        case Arg::MemoryDown:
            args.push_back(
                Literal(rotate::DescribeMemory(result.figure(1), rotate::Rounding::Down)));
            break;
        case Arg::Cause:
            args.push_back(CauseOf(result));
            break;
        case Arg::Inner:
            args.push_back(inner);
            break;
        }
    }
    return Sentence(entry.format, std::move(args));
}

std::string SizeText(int width, int height) {
    return std::to_string(width) + "x" + std::to_string(height);
}

constexpr const char* kTurnFailed = "Unable to rotate %s: %s";
constexpr const char* kTrashFailed = "Unable to move \"%s\" to the trash: %s";
constexpr const char* kTimesNotRestored =
    "%s was turned, but its file times could not be restored: %s";
constexpr const char* kNotUndoable = "%s was turned, but the turn cannot be undone: %s";
constexpr const char* kUndoUnavailable = "The turns cannot be undone: %s";
constexpr const char* kMainCrop = "%s is not a multiple of %s";
constexpr const char* kOtherCrop = "its image %s (%s) is not a multiple of %s";
constexpr const char* kLeftoverFinished =
    "The interrupted turn of %s was finished from its complete copy.";
constexpr const char* kLeftoverFailed = "The interrupted turn of %s could not be finished (%s); "
                                        "its complete turned copy stays in %s.";
constexpr const char* kLeftoverForeign = "%s is named like a copy kept during a turn, but belongs "
                                         "to no photo here (%s); it was left as it is.";

constexpr const char* kFrames[] = {kTurnFailed,      kTrashFailed,      kTimesNotRestored,
                                   kNotUndoable,     kUndoUnavailable,  kMainCrop,
                                   kOtherCrop,       kLeftoverFinished, kLeftoverFailed,
                                   kLeftoverForeign, kSystemSays};

} // namespace

Message Literal(std::string text) {
    return Message{nullptr, std::move(text), {}};
}

Message Literal(const QString& text) {
    return Literal(text.toLocal8Bit().toStdString());
}

Message ReasonOf(const Result& result) {
    if (result.context() != Why::None) {
        if (const WhyEntry* entry = EntryOf(result.context()))
            return FromEntry(*entry, result, ReasonOf(result.within(Why::None)));
    }
    // A context's reason used as the reason itself stands around what the error number says.
    if (const WhyEntry* entry = EntryOf(result.why()))
        return FromEntry(*entry, result, CauseOf(result));
    return CauseOf(result);
}

Message TurnFailed(const std::string& name, const Result& result) {
    return Sentence(kTurnFailed, {Literal(name), ReasonOf(result)});
}

Message TrashFailed(const std::string& name, const Result& result) {
    return Sentence(kTrashFailed, {Literal(name), ReasonOf(result)});
}

Message TurnWarningMessage(const std::string& name, const TurnWarning& told) {
    switch (told.kind) {
    case TurnWarning::Kind::FlushFailed:
        return ReasonOf(told.result);
    case TurnWarning::Kind::TimesNotRestored:
        return Sentence(kTimesNotRestored, {Literal(name), ReasonOf(told.result)});
    case TurnWarning::Kind::NotUndoable:
        return Sentence(kNotUndoable, {Literal(name), ReasonOf(told.result)});
    case TurnWarning::Kind::UndoUnavailable:
        break;
    }
    return Sentence(kUndoUnavailable, {ReasonOf(told.result)});
}

Message CropCauseMessage(const rotate::CropCause& cause) {
    const bool square = cause.blockWidth == cause.blockHeight;
    if (cause.image == 0)
        return Sentence(kMainCrop,
                        {Literal(SizeText(cause.width, cause.height)),
                         Literal(square ? std::to_string(cause.blockWidth)
                                        : SizeText(cause.blockWidth, cause.blockHeight))});
    return Sentence(kOtherCrop, {Literal(std::to_string(cause.image)),
                                 Literal(SizeText(cause.width, cause.height)),
                                 Literal(SizeText(cause.blockWidth, cause.blockHeight))});
}

std::optional<Message> LeftoverMessage(const platform::LeftoverResult& outcome,
                                       const std::string& target, const std::string& leftover) {
    using Status = platform::LeftoverResult::Status;
    switch (outcome.status) {
    case Status::Finished:
        return Sentence(kLeftoverFinished, {Literal(target)});
    case Status::Failed:
        return Sentence(kLeftoverFailed,
                        {Literal(target), ReasonOf(outcome.result), Literal(leftover)});
    case Status::Foreign:
        return Sentence(kLeftoverForeign, {Literal(leftover), ReasonOf(outcome.result)});
    default:
        return std::nullopt;
    }
}

std::optional<Message> LeftoverMessage(const LeftoverNews& news) {
    using Kind = LeftoverNews::Kind;
    platform::LeftoverResult outcome;
    outcome.status = news.kind == Kind::Finished  ? platform::LeftoverResult::Status::Finished
                     : news.kind == Kind::Failed  ? platform::LeftoverResult::Status::Failed
                     : news.kind == Kind::Foreign ? platform::LeftoverResult::Status::Foreign
                                                  : platform::LeftoverResult::Status::NotOurs;
    outcome.result = news.result;
    return LeftoverMessage(outcome, news.target.toLocal8Bit().toStdString(),
                           news.leftover.toLocal8Bit().toStdString());
}

QString FillPlaceholders(const QString& format, const QStringList& args) {
    QString out;
    qsizetype next = 0;
    for (qsizetype i = 0; i < format.size(); ++i) {
        if (format[i] == u'%' && i + 1 < format.size()) {
            if (format[i + 1] == u'%') {
                out += u'%';
                ++i;
                continue;
            }
            if (format[i + 1] == u's') {
                out += next < args.size() ? args[next] : QString();
                ++next;
                ++i;
                continue;
            }
        }
        out += format[i];
    }
    return out;
}

QString Render(const Message& message, const Translate& translate) {
    if (!message.format) return QString::fromLocal8Bit(message.literal);
    QStringList args;
    for (const Message& arg : message.args)
        args << Render(arg, translate);
    return FillPlaceholders(translate(QString::fromUtf8(message.format)), args);
}

std::string RenderEnglish(const Message& message,
                          const std::function<std::string(const std::string&)>& literal) {
    if (!message.format) return literal(message.literal);
    std::string out;
    std::size_t next = 0;
    for (const char* c = message.format; *c; ++c) {
        if (c[0] == '%' && c[1] == '%') {
            out += '%';
            ++c;
        } else if (c[0] == '%' && c[1] == 's') {
            if (next < message.args.size()) out += RenderEnglish(message.args[next], literal);
            ++next;
            ++c;
        } else {
            out += *c;
        }
    }
    return out;
}

std::vector<const char*> AllMessageFormats() {
    std::vector<const char*> formats(std::begin(kFrames), std::end(kFrames));
    for (const WhyEntry& entry : kWhyTable)
        formats.push_back(entry.format);
    for (const auto& [error, format] : kErrnoTable)
        formats.push_back(format);
    for (const char* format : kKindTable)
        formats.push_back(format);
    return formats;
}

} // namespace session
