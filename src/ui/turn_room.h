// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include "rotate/orientation_table.h"
#include "rotate/turn.h"
#include "session/photo_turn.h"
#include "session/turn_report.h"
#include "session/undo.h"
#include "session/undo_redo.h"
#include "thumbs/image_codec.h"

#include <QObject>
#include <QString>
#include <QStringList>

#include <functional>
#include <memory>
#include <optional>
#include <vector>

class QWidget;

namespace ui {

class FolderRoom;
class LanguageRoom;

// What the turns read from the window's controls at the moment they need it.
struct TurnInputs {
    std::function<bool()> keepTimes;
    std::function<thumbs::ThumbnailOptions()> thumbnailOptions;
};

// The turns of the window: one photo, the rotate commands, the automatic pass and undo, with the
// turn report (kept times, held warnings), the undo store and the command being recorded, the
// crop answer and the one-time memory-cap warning. Boxes it shows sit over `window`.
class TurnRoom : public QObject {
    Q_OBJECT
public:
    TurnRoom(QWidget* window, FolderRoom& folder, const LanguageRoom& language, TurnInputs inputs);
    ~TurnRoom() override;

    void RotateImage(const QString& path, rotate::RotationCode code, bool manual);
    // Turns `paths` by `code` in order, one command for undo and its warnings; the first
    // failure ends it.
    void Rotate(const QStringList& paths, rotate::RotationCode code);
    // Asks, then turns every photo of the automatic list; `caption` is the window's title.
    void Automatic(const QString& caption);
    // Takes back the last turn or automatic pass of the window.
    void Undo();
    bool CanUndo();
    // Turns again what the last undo took back, where the photos still hold what it wrote.
    void Redo();
    bool CanRedo();

    void RefreshThumbnail(const QString& path);
    // Sets the times kept by a turn again once its thumbnail has been read: the read may have
    // moved the access time.
    void RestoreKeptTimes(const QString& path);

    bool askCrop() const { return m_askCrop; }
    // Tests pass failing calls to reach what a real disk does only rarely.
    void SetTurnCalls(rotate::TurnCalls calls) { m_turnCalls = std::move(calls); }

signals:
    // The photo being turned by a command is the selected one, also when its turn fails.
    void turning(const QString& path);
    // Thumbnails changed: the grid draws them again.
    void changed();
    // What an undo or redo did, or that there was nothing to do, for the status bar.
    void told(const QString& text);

private:
    class HeldWarnings;
    class UndoRecording;

    QString Msg(const QString& key) const;
    void RunAutomaticPass();
    void ApplyRefreshedThumbnail(const QString& path, thumbs::Thumbnail made);
    void ShowTurnWarnings(const std::vector<session::TurnWarning>& warnings, bool together);
    void TellOfUnreadableMemoryCap();
    session::CropAnswer AskAboutCrop(const rotate::TurnPlan& plan);
    session::TurnOptions Options(session::TurnKind kind) const;
    // The room's part of one photo's turn: the lists and warnings, and the error of a failure.
    void TakePhotoTurnResult(const session::PhotoTurnResult& outcome);
    void TellUndone(const session::UndoResult& undone);
    void TakeBack(bool redo);
    // Each photo's thumbnail is made anew as it comes back; a long one shows its progress.
    session::UndoResult TakeBackShowingProgress(bool redo);
    QString StatusOf(const session::UndoResult& done, bool redo) const;

    QWidget* m_window;
    FolderRoom& m_folder;
    const LanguageRoom& m_language;
    TurnInputs m_inputs;
    bool m_askCrop = true;            // false once "Don't ask again" was chosen
    session::TurnReport m_turnReport; // kept times and warnings of the turns
    rotate::TurnCalls m_turnCalls;
    session::UndoRedo m_undo{session::DefaultUndoFolder(), QStringLiteral("window")};
    std::unique_ptr<session::UndoCommand> m_undoCommand; // while a command turns photos
    std::optional<platform::Result> m_undoUnavailable;   // why, until the first turn tells it
    bool m_memoryCapChecked = false; // an unreadable memory cap is told at the first turn
    std::optional<bool> m_canUndo;   // known until the next change
    std::optional<bool> m_canRedo;
};

} // namespace ui
