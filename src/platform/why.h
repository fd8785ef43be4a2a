// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include <cstdint>

namespace platform {

// Every specific reason the core knows for a piece of work that failed or went through with a
// "but". A reason names no file and holds no figure: the Result carries those beside it, and the
// message table (session/messages) is the only place where a reason becomes a sentence.
enum class Why : std::uint8_t {
    None, // the kind and the system's error number say it all

    // The photo and its lock
    PhotoBusy,       // another program holds the photo's lock
    ForeignLink,     // a link another user made in a shared folder
    PhotoChanged,    // changed between its read and its replacement
    NotARegularFile, // a folder, a FIFO or a device where a photo was expected
    PhotoReadOnly,   // no write permission bit: the user's word that it stays as it is

    // What stands where a photo was named, when it is none
    IsFolder,     // a folder
    IsFifo,       // a FIFO, never opened
    IsSocket,     // a socket
    IsDevice,     // a character or block device, never opened
    DanglingLink, // a symbolic link to nothing
    Unreadable,   // a file that cannot be opened for reading
    IsFile,       // a file where a folder was named

    // Replacing the photo
    NoSpaceToRewrite,    // a hard-linked photo rewritten in place: the reserve failed
    AttributesNotCopied, // an extended attribute could not go to the new contents
    NotFlushed,          // done, but a flush after the replacement failed
    TurnedCopyKept,      // around a failure: the complete turned photo waits in `subject`

    // Turning
    BadTurn,            // a turn value that is no quarter turn
    EmptyFile,          // nothing to turn
    ImageDataDamaged,   // the compressed image data is damaged
    NotWholeBlocks,     // trimming would be needed, and was not allowed
    DataAfterImage,     // bytes after the end of one image
    NotAJpeg,           // a picture, but not a JPEG
    NeedsMemory,        // figures: the memory the turn needs, the memory the computer can spare
    XmpOutgrowsSegment, // the turned images' sizes do not fit the XMP segment
    IndexLost,          // the turned photo lost its multi-picture index
    TooLargeForIndex,   // the turned photo outgrows the offsets of its index
    IndexNotRewritten,  // the multi-picture index could not be rewritten
    IndexMismatch,      // the multi-picture index does not match the images
    OtherImage,         // around a failure: an image besides the main one
    NoOrientationEntry, // no EXIF orientation entry to change in place
    NotAnOrientation,   // figure: the value asked for
    Undecodable,        // the picture cannot be decoded

    // The trash
    NoTrashOnDevice, // no trash folder on the photo's device
    TrashNameTaken,  // every name tried is taken in the trash
    TrashNotCreated, // `subject`: the trash folder that could not be made
    TrashNotPrivate, // `subject`: not a private folder of this user
    TrashDamaged,    // `subject`: its files/ or info/ is missing or foreign

    // A leftover of an interrupted turn that is not put in place
    LeftoverPhotoChanged,     // the photo changed since the copy was made
    LeftoverUnreadable,       // the copy cannot be read whole
    LeftoverNoRecord,         // the copy holds no record of its photo
    LeftoverNoJpeg,           // the copy holds no JPEG photo
    LeftoverPhotoGone,        // the photo it was made for is gone
    LeftoverPhotoNotJpeg,     // the photo is not a JPEG
    LeftoverIsLink,           // the copy is a symbolic link
    LeftoverNotRegular,       // the copy is not a regular file
    LeftoverOtherOwner,       // the copy belongs to another user
    LeftoverWritableByOthers, // others may write the copy
    LeftoverPhotoNotRegular,  // the photo is not a regular file
    LeftoverSingleLink,       // the photo has a single link
    LeftoverPhotoNotWritable, // the photo may not be written
    InterruptedNotFinished,   // around a failure: the complete copy stays in `subject`

    // Undo
    UndoFolderIsLink,     // `subject`: the folder
    UndoFolderNotFolder,  // `subject`: the folder
    UndoLockUnavailable,  // the store's lock file cannot be opened or is no file
    UndoSpaceUsedUp,      // the command's own records fill the store
    UndoCommandBusy,      // `subject`: the command still being written or undone
    UndoDidNotFit,        // the photo's record did not fit the store
    UndoMoreLost,         // more photos lost their records; their list was full
    UndoDropped,          // the record was dropped to make room
    UndoRecordTooLarge,   // larger than any record of ours
    UndoRecordDamaged,    // its bytes are not a record
    UndoRecordForeign,    // `subject`: the command it belongs to
    UndoRecordIsFolder,   // a folder where a record should be; left as it is
    UndoRecordNotRegular, // a link or a special file where a record should be
    UndoRecordUnreadable, // around a failure: reading the record
    UndoRecordRemoved,    // around a failure: the record was removed

    // The thumbnail cache
    CacheOff, // around a failure: thumbnails are not kept on disk in `subject`

    Count // not a reason: the number of them
};

} // namespace platform
