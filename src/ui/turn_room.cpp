// SPDX-License-Identifier: GPL-3.0-or-later
#include "ui/turn_room.h"

#include "collection/scan.h"
#include "lang/word_wrap.h"
#include "rotate/turn_memory.h"
#include "session/messages.h"
#include "thumbs/thumbnail_cache.h"
#include "ui/Lang.h"
#include "ui/errors.h"
#include "ui/folder_room.h"
#include "ui/language_room.h"
#include "ui/progress_window.h"
#include "ui/shell.h"
#include "ui/window_names.h"

#include <QApplication>
#include <QFileInfo>
#include <QPushButton>
#include <QtConcurrent/QtConcurrentRun>

#include <algorithm>
#include <utility>

#include "platform/leftovers.h"

namespace ui {

namespace {

// Runs `action` when it goes out of scope, also when an error leaves the scope.
template <typename F> struct Finally {
    F action;
    ~Finally() { action(); }
};
template <typename F> Finally(F) -> Finally<F>;

} // namespace

// Shows the warnings of the turns of one command together once the command ends, so that a
// loop over many photos is not stopped at each one.
class TurnRoom::HeldWarnings {
public:
    explicit HeldWarnings(TurnRoom& room) : m_room(room) { m_room.m_turnReport.Hold(); }
    ~HeldWarnings() { m_room.ShowTurnWarnings(m_room.m_turnReport.Release(), true); }
    HeldWarnings(const HeldWarnings&) = delete;
    HeldWarnings& operator=(const HeldWarnings&) = delete;

private:
    TurnRoom& m_room;
};

// Records the turns of one command for undo; nested scopes share the outermost one's record.
class TurnRoom::UndoRecording {
public:
    explicit UndoRecording(TurnRoom& room) : m_room(room), m_outermost(!room.m_undoCommand) {
        if (!m_outermost) return;
        platform::Result why;
        m_room.m_undoCommand = m_room.m_undo.Begin(&why);
        if (!m_room.m_undoCommand) m_room.m_undoUnavailable = why;
    }
    ~UndoRecording() {
        if (!m_outermost) return;
        m_room.m_undoCommand.reset();
        m_room.m_undoUnavailable.reset();
        m_room.m_canUndo.reset();
        m_room.m_canRedo.reset();
    }
    UndoRecording(const UndoRecording&) = delete;
    UndoRecording& operator=(const UndoRecording&) = delete;

private:
    TurnRoom& m_room;
    bool m_outermost;
};

TurnRoom::TurnRoom(QWidget* window, FolderRoom& folder, const LanguageRoom& language,
                   TurnInputs inputs)
    : m_window(window), m_folder(folder), m_language(language), m_inputs(std::move(inputs)) {}

TurnRoom::~TurnRoom() = default;

QString TurnRoom::Msg(const QString& key) const {
    return m_language.Msg(key);
}

session::TurnOptions TurnRoom::Options(session::TurnKind kind) const {
    session::TurnOptions options{m_inputs.keepTimes(), m_askCrop, false, kind};
    options.undo = m_undoCommand.get();
    return options;
}

void TurnRoom::RotateImage(const QString& path, rotate::RotationCode code, bool manual) {
    TellOfUnreadableMemoryCap();
    const session::TurnOptions options =
        Options(manual ? session::TurnKind::Manual : session::TurnKind::Automatic);
    TakePhotoTurnResult(session::TurnOne(
        path, code, options, [this](const rotate::TurnPlan& plan) { return AskAboutCrop(plan); },
        &m_folder.autoList(), m_turnCalls));
}

// Once a session, before the first turn; the turns go on within what the machine can spare, as
// without the variable.
void TurnRoom::TellOfUnreadableMemoryCap() {
    if (std::exchange(m_memoryCapChecked, true)) return;
    const rotate::TurnMemoryCap cap = rotate::TurnMemoryCapNow();
    if (!cap.unreadable) return;
    Shell::current().message(
        m_window, kTitle,
        FormatMessage(Msg("%s is set to %s, which is no amount of memory; turns keep to what this "
                          "computer can spare. Write megabytes (2048) or an amount with a unit: "
                          "512M, 1.5G, 2g, 1024K."),
                      {QString::fromLatin1(rotate::kTurnMemoryVariable),
                       QString::fromLocal8Bit(*cap.unreadable)}),
        Shell::Icon::Warning);
}

session::CropAnswer TurnRoom::AskAboutCrop(const rotate::TurnPlan& plan) {
    bool dontAskAgain = false;
    const bool ok = Shell::current().askWithCheckBox(
        m_window, kTitle,
        FormatMessage(
            Msg("The image %s cannot be rotated fully lossless. Image may be cropped by up "
                "to 15 pixels for lossless rotation. Do you want to rotate it anyway?"),
            {collection::FileNameOf(plan.path)}),
        Msg("Don't ask again during this session"), dontAskAgain);
    return {ok, !dontAskAgain};
}

void TurnRoom::TakePhotoTurnResult(const session::PhotoTurnResult& outcome) {
    using Kind = session::PhotoTurnResult::Kind;
    m_askCrop = outcome.askCrop;
    if (outcome.kind == Kind::BadCode) throw TulvexError(QStringLiteral("Internal error"));
    if (const auto why = std::exchange(m_undoUnavailable, std::nullopt))
        m_turnReport.Warn({session::TurnWarning::Kind::UndoUnavailable, {}, *why});
    m_turnReport.Take(outcome);
    if (outcome.kind == Kind::Failed)
        throw TulvexError(session::Render(
            session::TurnFailed(collection::FileNameOf(outcome.path).toLocal8Bit().toStdString(),
                                outcome.result),
            [this](const QString& english) { return Msg(english); }));
    ShowTurnWarnings(m_turnReport.TakeDueWarnings(), false);
}

// Held warnings come in one box; a turn outside a command shows each as it comes.
void TurnRoom::ShowTurnWarnings(const std::vector<session::TurnWarning>& warnings, bool together) {
    QStringList texts;
    for (const session::TurnWarning& warning : warnings)
        texts << session::Render(
            session::TurnWarningMessage(
                collection::FileNameOf(warning.path).toLocal8Bit().toStdString(), warning),
            [this](const QString& english) { return Msg(english); });
    if (together && !texts.isEmpty()) texts = QStringList{texts.join(u'\n')};
    for (const QString& text : texts)
        Shell::current().message(m_window, kTitle, text, Shell::Icon::Warning);
}

void TurnRoom::Rotate(const QStringList& paths, rotate::RotationCode code) {
    if (m_folder.InLongLoop()) return;
    const HeldWarnings warnings(*this);
    const UndoRecording undo(*this);
    TellOfUnreadableMemoryCap();
    std::vector<session::ListEntry> entries;
    for (const QString& path : paths)
        entries.push_back({path, code});
    session::ListOptions options;
    options.turn = Options(session::TurnKind::Manual);
    options.stopAtFailure = true;
    session::ListCalls calls;
    calls.beforeTurn = [this](const session::ListEntry& entry) {
        emit turning(entry.path);
        return session::PassStep::Go;
    };
    calls.afterTurn = [this](const session::PhotoTurnResult& outcome) {
        if (outcome.kind == session::PhotoTurnResult::Kind::NotAPhoto)
            m_folder.ShowMissingFile(outcome.path);
        else
            TakePhotoTurnResult(outcome);
        RefreshThumbnail(outcome.path);
    };
    const session::PassResult turned = session::TurnList(
        entries, options, [this](const rotate::TurnPlan& plan) { return AskAboutCrop(plan); },
        calls, &m_folder.autoList(), m_turnCalls);
    m_askCrop = turned.askCrop;
    if (turned.end == session::PassResult::End::Failed) TakePhotoTurnResult(turned.outcomes.back());
}

void TurnRoom::Automatic(const QString& caption) {
    if (m_folder.InLongLoop()) return;
    const session::AutoList& list = m_folder.autoList();
    if (list.empty()) {
        Shell::current().message(
            m_window, caption,
            lang::WrapText(FormatMessage(
                Msg("%s has not detected any images that can be transformed automatically."),
                {caption})),
            Shell::Icon::Information);
        return;
    }
    const QString question = Msg("%s has detected %u images that can be automatically transformed "
                                 "to normal orientation.") +
                             QStringLiteral("\r\n\r\n") +
                             Msg("Would you like to transform them now?");
    if (!Shell::current().askYesNo(
            m_window, caption,
            lang::WrapText(FormatMessage(question, {caption, QString::number(list.size())}))))
        return;

    {
        const FolderRoom::LongLoop busy(m_folder, FolderRoom::LongLoop::Kind::AutomaticPass);
        const HeldWarnings warnings(*this);
        const UndoRecording undo(*this);
        TellOfUnreadableMemoryCap();
        RunAutomaticPass();
    }
    m_folder.RunDeferredLoad();
}

void TurnRoom::RunAutomaticPass() {
    TProgressWindow progress(m_window);
    const Finally repaint{[this] { emit changed(); }};
    progress.SetInfoText(Msg("Transformation is in progress..."));
    progress.SetRange(0, int(m_folder.autoList().size()));
    // Closing the window ends the pass; a reload asked for meanwhile waits for its end.
    const session::LoadGeneration::Stamp stamp = m_folder.Watch();

    // The thumbnail of the photo just turned is made on a worker while the next one turns.
    QString refreshing;
    QFuture<thumbs::Thumbnail> refreshed;
    const auto finishRefresh = [&] {
        if (refreshing.isEmpty()) return;
        WaitWhileResponsive(refreshed);
        if (!stamp.Superseded()) ApplyRefreshedThumbnail(refreshing, refreshed.result());
        refreshing.clear();
    };
    const Finally flush{finishRefresh}; // also when a turn fails: earlier photos show turned
    session::PassCalls calls;
    calls.beforeTurn = [&] {
        QApplication::processEvents();
        return progress.Cancelled() ? session::PassStep::Cancel : session::PassStep::Go;
    };
    calls.afterTurn = [&](const session::PhotoTurnResult& outcome) {
        TakePhotoTurnResult(outcome);
        finishRefresh();
        if (const QString path = outcome.path; m_folder.IndexOfThumb(path) >= 0) {
            refreshing = path;
            refreshed = QtConcurrent::run(
                [path, options = m_inputs.thumbnailOptions(), cache = m_folder.thumbnailCache()] {
                    return cache ? cache->MakeThumbnail(path, options)
                                 : thumbs::MakeThumbnailImage(path, options);
                });
        }
        progress.StepBy(1);
        return true;
    };
    calls.stamp = &stamp;
    calls.keepTimes = m_inputs.keepTimes;
    const session::PassResult pass = session::RunAutomaticPass(
        m_folder.autoList(), Options(session::TurnKind::Automatic),
        [this](const rotate::TurnPlan& plan) { return AskAboutCrop(plan); }, calls, m_turnCalls);
    m_askCrop = pass.askCrop;
    if (pass.end == session::PassResult::End::Failed) TakePhotoTurnResult(pass.outcomes.back());
}

void TurnRoom::RefreshThumbnail(const QString& path) {
    if (m_folder.IndexOfThumb(path) < 0) {
        m_turnReport.ForgetKeptTimes(path);
        return;
    }
    // A turned photo has a new key, so its new master replaces the old one in the cache.
    ApplyRefreshedThumbnail(path, QFileInfo::exists(path) ? m_folder.MakeCachedThumbnail(
                                                                path, m_inputs.thumbnailOptions())
                                                          : thumbs::Thumbnail{});
}

void TurnRoom::RestoreKeptTimes(const QString& path) {
    m_turnReport.RestoreKeptTimes(path, m_folder.thumbnailCache().get());
}

void TurnRoom::ApplyRefreshedThumbnail(const QString& path, thumbs::Thumbnail made) {
    RestoreKeptTimes(path); // the thumbnail has been read by now
    m_folder.ReplaceThumbnail(path, std::move(made));
}

bool TurnRoom::CanUndo() {
    if (!m_canUndo) m_canUndo = m_undo.CanUndo();
    return *m_canUndo;
}

bool TurnRoom::CanRedo() {
    if (!m_canRedo) m_canRedo = m_undo.CanRedo();
    return *m_canRedo;
}

void TurnRoom::Undo() {
    TakeBack(false);
}

void TurnRoom::Redo() {
    TakeBack(true);
}

void TurnRoom::TakeBack(bool redo) {
    if (m_folder.InLongLoop()) return;
    session::UndoResult undone;
    {
        const FolderRoom::LongLoop busy(m_folder, FolderRoom::LongLoop::Kind::AutomaticPass);
        undone = TakeBackShowingProgress(redo);
    }
    m_canUndo.reset();
    m_canRedo.reset();
    m_folder.FollowUndo(undone);
    for (const platform::LeftoverResult& leftover : undone.leftovers)
        m_folder.TellLeftover(leftover);
    TellUndone(undone);
    emit told(StatusOf(undone, redo));
    m_folder.RunDeferredLoad();
}

session::UndoResult TurnRoom::TakeBackShowingProgress(bool redo) {
    constexpr std::size_t kProgressFrom = 10; // photos; fewer come back in a blink
    const std::size_t photos =
        redo ? m_undo.redoStore().PhotosInLast() : m_undo.undoStore().PhotosInLast();
    std::optional<TProgressWindow> progress;
    if (photos >= kProgressFrom) {
        progress.emplace(m_window);
        progress->SetInfoText(Msg(redo ? "Redo is in progress..." : "Undo is in progress..."));
        progress->SetRange(0, int(photos));
        progress->window()->btnCancel->setEnabled(false); // a photo half taken back helps nobody
    }
    const auto each = [this, &progress](const session::UndoPhoto& photo) {
        m_turnReport.KeepTimes(photo.path, photo.times);
        if (m_folder.IndexOfThumb(photo.path) >= 0) {
            RefreshThumbnail(photo.path);
            emit changed();
        }
        if (!progress) return;
        progress->StepBy(1);
        progress->ProcessMessages();
    };
    return redo ? m_undo.Redo(each) : m_undo.Undo(each);
}

QString TurnRoom::StatusOf(const session::UndoResult& done, bool redo) const {
    if (done.nothing) return Msg(redo ? "Nothing to redo" : "Nothing to undo");
    const auto restored =
        std::count_if(done.photos.begin(), done.photos.end(), [](const session::UndoPhoto& p) {
            return p.status == session::UndoPhoto::Status::Restored;
        });
    return FormatMessage(
        Msg(redo ? "Redo: %s photo(s) turned again" : "Undo: %s photo(s) restored"),
        {QString::number(restored)});
}

void TurnRoom::TellUndone(const session::UndoResult& undone) {
    QStringList changedSince, failed;
    for (const session::UndoPhoto& photo : undone.photos) {
        if (photo.status == session::UndoPhoto::Status::ChangedSince)
            changedSince << collection::FileNameOf(photo.path);
        else if (photo.status != session::UndoPhoto::Status::Restored)
            failed << (photo.path.isEmpty()
                           ? FormatMessage(Msg("an unknown photo (undo record %s)"), {photo.record})
                           : collection::FileNameOf(photo.path)) +
                          QStringLiteral(": ") +
                          session::Render(session::ReasonOf(photo.result),
                                          [this](const QString& e) { return Msg(e); });
    }
    emit changed();
    QStringList told;
    if (!undone.error.ok())
        told << session::Render(session::ReasonOf(undone.error),
                                [this](const QString& english) { return Msg(english); });
    if (!changedSince.isEmpty())
        told << FormatMessage(Msg("These photos changed since and were left as they are: %s"),
                              {changedSince.join(QStringLiteral(", "))});
    if (!failed.isEmpty())
        told << FormatMessage(Msg("These photos could not be restored: %s"),
                              {failed.join(QStringLiteral("; "))});
    if (!told.isEmpty())
        Shell::current().message(m_window, kTitle, told.join(u'\n'), Shell::Icon::Warning);
}

} // namespace ui
