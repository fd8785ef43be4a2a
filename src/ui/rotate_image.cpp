// SPDX-License-Identifier: GPL-3.0-or-later
// Turning images: one image, the rotate commands and the automatic pass.
#include "collection/scan.h"
#include "lang/word_wrap.h"
#include "rotate/orientation_table.h"
#include "rotate/turn.h"
#include "rotate/turn_memory.h"
#include "session/messages.h"
#include "thumbs/thumbnail_cache.h"
#include "ui/Lang.h"
#include "ui/draw_grid.h"
#include "ui/errors.h"
#include "ui/main_window.h"
#include "ui/progress_window.h"
#include "ui/shell.h"

#include <QAction>
#include <QApplication>
#include <QFile>
#include <QFileInfo>
#include <QtConcurrent/QtConcurrentRun>

#include <utility>

#include "platform/file_io.h"
#include "platform/leftovers.h"

namespace {

// Runs `action` when it goes out of scope, also when an error leaves the scope.
template <typename F> struct Finally {
    F action;
    ~Finally() { action(); }
};
template <typename F> Finally(F) -> Finally<F>;

} // namespace

void TFormTulvex::RotateImage(const QString& path, rotate::RotationCode code, bool manual) {
    TellOfUnreadableMemoryCap();
    session::TurnOptions options{pmiKeepTimestamp->isChecked(), FAskCrop, false,
                                 manual ? session::TurnKind::Manual : session::TurnKind::Automatic};
    options.undo = m_undoCommand.get();
    TakeTurnOutcome(session::TurnOne(
        path, code, options, [this](const rotate::TurnPlan& plan) { return AskAboutCrop(plan); },
        &FAutoList, m_turnCalls));
}

// Once a session, before the first turn; the turns go on within what the machine can spare, as
// without the variable.
void TFormTulvex::TellOfUnreadableMemoryCap() {
    if (std::exchange(m_memoryCapChecked, true)) return;
    const rotate::TurnMemoryCap cap = rotate::TurnMemoryCapNow();
    if (!cap.unreadable) return;
    ui::Shell::current().message(
        this, kTitle,
        FormatMessage(Msg("%s is set to %s, which is no amount of memory; turns keep to what this "
                          "computer can spare. Write megabytes (2048) or an amount with a unit: "
                          "512M, 1.5G, 2g, 1024K."),
                      {QString::fromLatin1(rotate::kTurnMemoryVariable),
                       QString::fromLocal8Bit(*cap.unreadable)}),
        ui::Shell::Icon::Warning);
}

session::CropAnswer TFormTulvex::AskAboutCrop(const rotate::TurnPlan& plan) {
    bool dontAskAgain = false;
    const bool ok = ui::Shell::current().askWithCheckBox(
        this, kTitle,
        FormatMessage(
            Msg("The image %s cannot be rotated fully lossless. Image may be cropped by up "
                "to 15 pixels for lossless rotation. Do you want to rotate it anyway?"),
            {collection::FileNameOf(plan.path)}),
        Msg("Don't ask again during this session"), dontAskAgain);
    return {ok, !dontAskAgain};
}

void TFormTulvex::TakeTurnOutcome(const session::PhotoOutcome& outcome) {
    using Kind = session::PhotoOutcome::Kind;
    FAskCrop = outcome.askCrop;
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
void TFormTulvex::ShowTurnWarnings(const std::vector<session::TurnWarning>& warnings,
                                   bool together) {
    QStringList texts;
    for (const session::TurnWarning& warning : warnings)
        texts << session::Render(
            session::TurnWarningMessage(
                collection::FileNameOf(warning.path).toLocal8Bit().toStdString(), warning),
            [this](const QString& english) { return Msg(english); });
    if (together && !texts.isEmpty()) texts = QStringList{texts.join(u'\n')};
    for (const QString& text : texts)
        ui::Shell::current().message(this, kTitle, text, ui::Shell::Icon::Warning);
}

TFormTulvex::HeldWarnings::HeldWarnings(TFormTulvex& window) : m_window(window) {
    m_window.m_turnReport.Hold();
}

TFormTulvex::HeldWarnings::~HeldWarnings() {
    m_window.ShowTurnWarnings(m_window.m_turnReport.Release(), true);
}

void TFormTulvex::ActionRotate(QAction* sender) {
    if (InLongLoop()) return;
    const HeldWarnings warnings(*this);
    const UndoRecording undo(*this);
    TellOfUnreadableMemoryCap();
    const auto code = sender->property(kTagProperty).value<rotate::RotationCode>();
    const TDrawGrid::GridRect sel = DrawGrid->Selection();
    std::vector<session::ListEntry> entries;
    for (int r = sel.top; r <= sel.bottom; ++r) {
        for (int c = sel.left; c <= sel.right; ++c) {
            DrawGridSelectCell(c, r);
            if (!FSelectedFile.isEmpty()) entries.push_back({FSelectedFile, code});
        }
    }
    const QString last = FSelectedFile;
    session::ListOptions options;
    options.turn = {pmiKeepTimestamp->isChecked(), FAskCrop, false, session::TurnKind::Manual};
    options.turn.undo = m_undoCommand.get();
    options.stopAtFailure = true;
    session::ListCalls calls;
    // The photo being turned is the selected one, also when its turn fails.
    calls.beforeTurn = [this](const session::ListEntry& entry) {
        FSelectedFile = entry.path;
        return session::PassStep::Go;
    };
    calls.afterTurn = [this](const session::PhotoOutcome& outcome) {
        if (outcome.kind == session::PhotoOutcome::Kind::NotAPhoto)
            ShowMissingFile(outcome.path);
        else
            TakeTurnOutcome(outcome);
        RefreshThumbnail(outcome.path);
    };
    const session::PassResult turned = session::TurnList(
        entries, options, [this](const rotate::TurnPlan& plan) { return AskAboutCrop(plan); },
        calls, &FAutoList, m_turnCalls);
    FAskCrop = turned.askCrop;
    if (turned.end == session::PassResult::End::Failed) TakeTurnOutcome(turned.outcomes.back());
    FSelectedFile = last;
    RepaintGrid();
}

void TFormTulvex::tbAutoClick() {
    if (InLongLoop()) return;
    const QString caption = windowTitle();
    if (FAutoList.empty()) {
        ui::Shell::current().message(
            this, caption,
            lang::WrapText(FormatMessage(
                Msg("%s has not detected any images that can be transformed automatically."),
                {caption})),
            ui::Shell::Icon::Information);
        return;
    }
    const QString question = Msg("%s has detected %u images that can be automatically transformed "
                                 "to normal orientation.") +
                             QStringLiteral("\r\n\r\n") +
                             Msg("Would you like to transform them now?");
    if (!ui::Shell::current().askYesNo(
            this, caption,
            lang::WrapText(FormatMessage(question, {caption, QString::number(FAutoList.size())}))))
        return;

    {
        const LongLoop busy(*this, LongLoop::Kind::AutomaticPass);
        const HeldWarnings warnings(*this);
        const UndoRecording undo(*this);
        TellOfUnreadableMemoryCap();
        RunAutomaticPass();
    }
    RunDeferredLoad();
}

void TFormTulvex::RunAutomaticPass() {
    TProgressWindow progress(this);
    const Finally repaint{[this] { RepaintGrid(); }};
    progress.SetInfoText(Msg("Transformation is in progress..."));
    progress.SetRange(0, int(FAutoList.size()));
    // Closing the window ends the pass; a reload asked for meanwhile waits for its end.
    const session::LoadGeneration::Stamp stamp = m_generation.Watch();

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
    calls.afterTurn = [&](const session::PhotoOutcome& outcome) {
        TakeTurnOutcome(outcome);
        finishRefresh();
        if (const QString path = outcome.path; IndexOfThumb(path) >= 0) {
            refreshing = path;
            refreshed =
                QtConcurrent::run([path, options = ThumbnailOptions(), cache = m_thumbCache] {
                    return cache ? cache->MakeThumbnail(path, options)
                                 : thumbs::MakeThumbnailImage(path, options);
                });
        }
        progress.StepBy(1);
        return true;
    };
    calls.stamp = &stamp;
    calls.keepTimes = [this] { return pmiKeepTimestamp->isChecked(); };
    session::TurnOptions options{pmiKeepTimestamp->isChecked(), FAskCrop, false,
                                 session::TurnKind::Automatic};
    options.undo = m_undoCommand.get();
    const session::PassResult pass = session::RunAutomaticPass(
        FAutoList, options, [this](const rotate::TurnPlan& plan) { return AskAboutCrop(plan); },
        calls, m_turnCalls);
    FAskCrop = pass.askCrop;
    if (pass.end == session::PassResult::End::Failed) TakeTurnOutcome(pass.outcomes.back());
}

TFormTulvex::UndoRecording::UndoRecording(TFormTulvex& window)
    : m_window(window), m_outermost(!window.m_undoCommand) {
    if (!m_outermost) return;
    platform::Result why;
    m_window.m_undoCommand = m_window.m_undoStore.Begin(&why);
    if (!m_window.m_undoCommand) m_window.m_undoUnavailable = why;
}

TFormTulvex::UndoRecording::~UndoRecording() {
    if (!m_outermost) return;
    m_window.m_undoCommand.reset();
    m_window.m_undoUnavailable.reset();
    m_window.m_canUndo.reset();
}

bool TFormTulvex::CanUndo() {
    if (!m_canUndo) m_canUndo = m_undoStore.CanUndo();
    return *m_canUndo;
}

void TFormTulvex::ActionUndoExecute() {
    if (InLongLoop()) return;
    const session::UndoResult undone = m_undoStore.UndoLast();
    m_canUndo.reset();
    session::FollowUndo(FAutoList, FFolder, undone);
    for (const platform::LeftoverOutcome& leftover : undone.leftovers)
        TellLeftover(m_leftovers.News(leftover));
    QStringList changed, failed;
    for (const session::UndoPhoto& photo : undone.photos) {
        m_turnReport.KeepTimes(photo.path, photo.times);
        if (photo.status == session::UndoPhoto::Status::ChangedSince)
            changed << collection::FileNameOf(photo.path);
        else if (photo.status != session::UndoPhoto::Status::Restored)
            failed << (photo.path.isEmpty()
                           ? FormatMessage(Msg("an unknown photo (undo record %s)"), {photo.record})
                           : collection::FileNameOf(photo.path)) +
                          QStringLiteral(": ") +
                          session::Render(session::ReasonOf(photo.result),
                                          [this](const QString& e) { return Msg(e); });
        if (IndexOfThumb(photo.path) >= 0) RefreshThumbnail(photo.path);
    }
    RepaintGrid();
    QStringList told;
    if (!undone.error.ok())
        told << session::Render(session::ReasonOf(undone.error),
                                [this](const QString& english) { return Msg(english); });
    if (!changed.isEmpty())
        told << FormatMessage(Msg("These photos changed since and were left as they are: %s"),
                              {changed.join(QStringLiteral(", "))});
    if (!failed.isEmpty())
        told << FormatMessage(Msg("These photos could not be restored: %s"),
                              {failed.join(QStringLiteral("; "))});
    if (!told.isEmpty())
        ui::Shell::current().message(this, kTitle, told.join(u'\n'), ui::Shell::Icon::Warning);
}
