// SPDX-License-Identifier: GPL-3.0-or-later
// Turning images: one image, the rotate commands and the automatic pass.
#include "collection/scan.h"
#include "lang/word_wrap.h"
#include "rotate/orientation_table.h"
#include "rotate/turn.h"
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

namespace {

// Runs `action` when it goes out of scope, also when an error leaves the scope.
template <typename F> struct Finally {
    F action;
    ~Finally() { action(); }
};
template <typename F> Finally(F) -> Finally<F>;

} // namespace

void TFormTulvex::RotateImage(const QString& path, rotate::RotationCode code, bool manual) {
    const session::TurnOptions options{pmiKeepTimestamp->isChecked(), FAskCrop, false,
                                       manual ? session::TurnKind::Manual
                                              : session::TurnKind::Automatic};
    TakeTurnOutcome(session::TurnOne(
        path, code, options, [this](const rotate::TurnPlan& plan) { return AskAboutCrop(plan); },
        &FAutoList, m_turnCalls));
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
    const QString& path = outcome.path;
    FAskCrop = outcome.askCrop;
    if (outcome.kind == Kind::BadCode) throw TulvexError(QStringLiteral("Internal error"));
    if (outcome.kind == Kind::SkippedByCrop || outcome.kind == Kind::NoTurn) return;
    m_keptTimes.erase(path);
    if (outcome.kind == Kind::Failed)
        throw TulvexError(Msg("Unable to rotate the image") + QStringLiteral(": ") +
                          collection::FileNameOf(path));
    if (outcome.kept) m_keptTimes[path] = *outcome.kept;
    if (!outcome.flushWarning.empty()) WarnAboutTurn(QString::fromLocal8Bit(outcome.flushWarning));
    if (outcome.timesNotRestored)
        WarnAboutTurn(FormatMessage(
            Msg("%s was turned, but its file times could not be restored: %s"),
            {collection::FileNameOf(path), QString::fromLocal8Bit(outcome.result.text())}));
}

void TFormTulvex::WarnAboutTurn(const QString& text) {
    if (m_heldWarnings)
        m_heldWarnings->append(text);
    else
        ui::Shell::current().message(this, kTitle, text, ui::Shell::Icon::Warning);
}

TFormTulvex::HeldWarnings::HeldWarnings(TFormTulvex& window)
    : m_window(window), m_outermost(!window.m_heldWarnings) {
    if (m_outermost) m_window.m_heldWarnings.emplace();
}

TFormTulvex::HeldWarnings::~HeldWarnings() {
    if (!m_outermost) return;
    const QStringList held = *std::exchange(m_window.m_heldWarnings, std::nullopt);
    if (!held.isEmpty())
        ui::Shell::current().message(&m_window, kTitle, held.join(u'\n'), ui::Shell::Icon::Warning);
}

void TFormTulvex::ActionRotate(QAction* sender) {
    if (InLongLoop()) return;
    const HeldWarnings warnings(*this);
    const auto code = sender->property(kTagProperty).value<rotate::RotationCode>();
    const TDrawGrid::GridRect sel = DrawGrid->Selection();
    for (int r = sel.top; r <= sel.bottom; ++r) {
        for (int c = sel.left; c <= sel.right; ++c) {
            DrawGridSelectCell(c, r);
            const QString path = FSelectedFile;
            if (QFileInfo::exists(path))
                RotateImage(path, code, true);
            else if (!path.isEmpty())
                ShowMissingFile(path);
            RefreshThumbnail(path);
        }
    }
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
    const int generation = m_loadGeneration;

    // The thumbnail of the photo just turned is made on a worker while the next one turns.
    QString refreshing;
    QFuture<thumbs::Thumbnail> refreshed;
    const auto finishRefresh = [&] {
        if (refreshing.isEmpty()) return;
        WaitWhileResponsive(refreshed);
        if (generation == m_loadGeneration) ApplyRefreshedThumbnail(refreshing, refreshed.result());
        refreshing.clear();
    };
    const Finally flush{finishRefresh}; // also when a turn fails: earlier photos show turned
    session::PassCalls calls;
    calls.beforeTurn = [&] {
        QApplication::processEvents();
        if (generation != m_loadGeneration) return session::PassStep::Abandon;
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
        return generation == m_loadGeneration;
    };
    calls.keepTimes = [this] { return pmiKeepTimestamp->isChecked(); };
    const session::TurnOptions options{pmiKeepTimestamp->isChecked(), FAskCrop, false,
                                       session::TurnKind::Automatic};
    const session::PassResult pass = session::RunAutomaticPass(
        FAutoList, options, [this](const rotate::TurnPlan& plan) { return AskAboutCrop(plan); },
        calls, m_turnCalls);
    FAskCrop = pass.askCrop;
    if (pass.end == session::PassResult::End::Failed) TakeTurnOutcome(pass.outcomes.back());
}
