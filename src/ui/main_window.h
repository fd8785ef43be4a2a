// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include "rotate/orientation_table.h"
#include "rotate/turn.h"
#include "session/auto_list.h"
#include "session/busy.h"
#include "session/folder_load.h"
#include "session/loaded_folder.h"
#include "session/photo_turn.h"
#include "session/thumb_list.h"
#include "session/turn_report.h"
#include "session/undo.h"
#include "thumbs/image_codec.h"
#include "ui/toolkit_translation.h"

#include <QFuture>
#include <QImage>
#include <QMainWindow>
#include <QString>
#include <QStringList>
#include <QTimer>

#include <cstdint>
#include <map>
#include <memory>
#include <optional>
#include <set>
#include <tuple>
#include <utility>
#include <vector>

#include "platform/file_io.h"

class QAction;
class QActionGroup;
class QCheckBox;
class QLabel;
class QLineEdit;
class QMenu;
class QPainter;
class QPushButton;
class QToolBar;
class QToolButton;
class TDrawGrid;
class TLanguage;
namespace thumbs {
class ThumbnailCache;
}

using ThumbEntry = session::ThumbEntry;

using AutoEntry = session::AutoEntry;

// The one main window. Its methods are spread over the files of ui/ named in the sections below.
class TFormTulvex : public QMainWindow {
    Q_OBJECT
public:
    static inline const QString kTitle = QStringLiteral("Tulvex");
    static inline const QString kWebSite = QStringLiteral("https://tulvex.example.org/");
    // The property that carries a menu item's number (a rotation code, a favorite, a language).
    static constexpr const char* kTagProperty = "Tag";
    static constexpr int kMaxFavorites = 10;

    explicit TFormTulvex(QWidget* parent = nullptr);
    ~TFormTulvex() override;

    // Life cycle (main_window.cpp)
    // The folder or photo named on the command line, taken by the first showing; empty: none.
    void SetStartPath(const QString& path) { m_startPath = path; }
    void FormCreate();
    void FormShow();
    void FormDestroy();

    // Settings (window_settings.cpp)
    void ReadSettings();
    void WriteSettings();
    QString SettingsPath() const;
    // The window's outer geometry, frame included, is what the settings keep.
    static constexpr QSize kMinimumOuter{800, 600};
    void FitOuterGeometry();
    QRect OuterGeometry() const;
    void CheckForFrame();
    void NoteOuterGeometry();

    // Commands (commands.cpp)
    void UpdateActions();
    void ActionDeleteExecute();
    void ActionOpenExecute();
    void pmiWebsiteClick();
    void pmiAboutClick();
    void pmiThumbsInRowClick();

    // Image list (image_list.cpp)
    void LoadFolder(const QString& folder);
    void TellLeftover(const session::LeftoverNews& news);
    void ClearThumbnails();
    void WaitWhileResponsive(const QFuture<thumbs::Thumbnail>& future);
    int IndexOfThumb(const QString& path) const;
    int IndexOfAuto(const QString& path) const;

    // Folder selection and favorites (folder_selection.cpp)
    void edPathEnter();
    void edPathExit();
    void edPathKeyDown(int key);
    void btnBrowseClick();
    void cbSubFoldersClick();
    void pmiRefreshClick();
    void BuildFavoritesMenu();
    void AddCurrentFolderClick();
    void FavoriteClick(QAction* item);
    void ShowMissingFile(const QString& path);
    void ShowMissingFolder(const QString& path);
    QString StartFolder(const QString& lastFolder);
    void SelectStartPhoto();
    static QString GetDocumentsFolder();
    static QString FavoriteCaption(const QString& path);

    // Thumbnails and grid (thumbnail_maker.cpp, grid.cpp)
    // The window's part of making a thumbnail anew: the unreadable-image warning. The decoding
    // itself may have run on a worker.
    std::optional<QImage> AcceptThumbnail(thumbs::Thumbnail thumb);
    void WarnUnreadable();
    thumbs::ThumbnailOptions ThumbnailOptions() const;
    // The thumbnail of one photo at the current options, through the thumbnail cache.
    thumbs::Thumbnail MakeCachedThumbnail(const QString& path) const;
    void RefreshThumbnail(const QString& path);
    // Thumbnails are made again when the window moves to a screen of another density.
    void FollowScreenDensity();
    // The list's part of a refresh, for a thumbnail made elsewhere (on a worker).
    void ApplyRefreshedThumbnail(const QString& path, thumbs::Thumbnail made);
    // Sets the times kept by a turn again once its thumbnail has been read: the read may have
    // moved the access time.
    void RestoreKeptTimes(const QString& path);
    void FormResize(QObject* sender);
    void DrawGridDrawCell(QPainter& painter, int col, int row, const QRect& rect, bool selected);
    void DrawGridSelectCell(int col, int row);
    void DrawGridDblClick();
    bool HasSelectedImage() const;

    // Rotation (rotate_image.cpp)
    void RotateImage(const QString& path, rotate::RotationCode code, bool manual);
    void ActionRotate(QAction* sender);
    void tbAutoClick();
    // Takes back the last turn or automatic pass of the window.
    void ActionUndoExecute();
    // Tests pass failing calls to reach what a real disk does only rarely.
    void SetTurnCalls(rotate::TurnCalls calls) { m_turnCalls = std::move(calls); }

    // EXIF (exif_dialog.cpp)
    void ActionDisplayExifExecute();

    // Language menu (language_menu.cpp)
    void BuildLanguageMenu();
    void LanguageItemClick(QAction* item);
    void ApplySavedLanguage(const QString& saved);
    QString LanguageFolder() const;
    // The toolkit's own texts follow the language file now in use.
    void FollowLanguageInToolkit();
    // Beside the program when language files lie there, else PREFIX/share/tulvex/lang.
    static QString LanguageFolderOf(const QString& programFolder);

    // Message lookup on FLang.
    QString Msg(const QString& key) const;

    // Read access for the parts that only look.
    const std::vector<ThumbEntry>& thumbList() const { return FThumbList; }
    const session::AutoList& autoList() const { return FAutoList; }
    const QString& selectedFile() const { return FSelectedFile; }
    const QString& folder() const { return FFolder; }
    const QStringList& favorites() const { return FFavorites; }
    const QStringList& languageFiles() const { return FLangFiles; }
    bool askCrop() const { return FAskCrop; }
    TLanguage* language() const { return FLang; }
    int loadCount() const { return m_loadCount; }         // loads started
    int loadsFinished() const { return m_loadsFinished; } // loads that ran to their end
    // True while a folder load or the automatic pass runs: nothing may then turn, delete or
    // reload from inside the loop.
    bool InLongLoop() const { return m_busy.InLongLoop(); }
    const std::shared_ptr<thumbs::ThumbnailCache>& thumbnailCache() const { return m_thumbCache; }

protected:
    void showEvent(QShowEvent* event) override;
    void resizeEvent(QResizeEvent* event) override;
    void moveEvent(QMoveEvent* event) override;
    void closeEvent(QCloseEvent* event) override;
    bool eventFilter(QObject* watched, QEvent* event) override;

private:
    // Marks the window busy for the life of one long loop.
    class LongLoop {
    public:
        using Kind = session::BusyRule::Loop;
        LongLoop(TFormTulvex& window, Kind kind);
        ~LongLoop();
        LongLoop(const LongLoop&) = delete;
        LongLoop& operator=(const LongLoop&) = delete;

    private:
        TFormTulvex& m_window;
        Kind m_kind;
    };
    // Shows the warnings of the turns of one command together once the command ends, so that
    // a loop over many photos is not stopped at each one.
    class HeldWarnings {
    public:
        explicit HeldWarnings(TFormTulvex& window);
        ~HeldWarnings();
        HeldWarnings(const HeldWarnings&) = delete;
        HeldWarnings& operator=(const HeldWarnings&) = delete;

    private:
        TFormTulvex& m_window;
    };

    // Records the turns of one command for undo; nested scopes share the outermost one's record.
    class UndoRecording {
    public:
        explicit UndoRecording(TFormTulvex& window);
        ~UndoRecording();
        UndoRecording(const UndoRecording&) = delete;
        UndoRecording& operator=(const UndoRecording&) = delete;

    private:
        TFormTulvex& m_window;
        bool m_outermost;
    };

    void RunDeferredLoad();
    void RunAutomaticPass();
    void ShowTurnWarnings(const std::vector<session::TurnWarning>& warnings, bool together);
    void TellOfUnreadableMemoryCap();
    bool CanUndo();
    session::CropAnswer AskAboutCrop(const rotate::TurnPlan& plan);
    // The window's part of one photo's turn: the lists and warnings, and the error of a failure.
    void TakeTurnOutcome(const session::PhotoOutcome& outcome);
    void CreateControls();
    void CreateActions();
    void CreateToolBar();
    void CreateMenus();
    void RegisterTranslations();
    void AddThumbRows();
    void RepaintGrid();
    void SetStatusCount();
    bool EnabledAfterUpdate(QAction* action);

    // Fields of the window, in the order of its design.
    bool FAskCrop = true;
    QStringList FLangFiles;
    session::LoadedFolder m_loaded;
    std::vector<ThumbEntry>& FThumbList = m_loaded.thumbs;
    QStringList FFavorites;
    QString& FFolder = m_loaded.folder;
    QString FSelectedFile;
    session::AutoList& FAutoList = m_loaded.autoList;
    TLanguage* FLang = nullptr; // owned by the window

    // A newer load supersedes one in progress: the older loop stops before its next photo.
    session::LoadGeneration m_generation;
    int m_loadCount = 0;
    int m_loadsFinished = 0;
    session::BusyRule m_busy;
    session::TurnReport m_turnReport; // kept times and warnings of the turns
    rotate::TurnCalls m_turnCalls;
    session::UndoStore m_undoStore{session::DefaultUndoFolder(), QStringLiteral("window")};
    std::unique_ptr<session::UndoCommand> m_undoCommand; // while a command turns photos
    std::optional<platform::Result> m_undoUnavailable;   // why, until the first turn tells it
    bool m_memoryCapChecked = false; // an unreadable memory cap is told at the first turn
    bool m_cacheOffTold = false;     // a thumbnail folder that cannot be used, at the first load
    std::optional<bool> m_canUndo;   // known until the next change
    bool m_shown = false;
    QString m_startPath;  // from the command line
    QString m_startPhoto; // selected once the first load has run to its end
    bool m_handlersAttached = true;
    QTimer m_resizeTimer; // coalesces a border drag into one reload
    // Leftovers already reported (path, device, inode): told once per run, not at every reload.
    session::LeftoverResolver m_leftovers;
    QRect m_wantedOuter; // the stored outer geometry, until the frame is known
    QRect m_outer;       // the last outer geometry seen while shown
    QTimer m_frameWatch; // waits for a window manager's frame after the first showing
    int m_frameChecks = 0;
    QMargins m_lastFrame; // as seen at the previous check
    qreal m_density = 1;  // of the screen the window was last seen on
    // The toolkit's own texts (standard buttons, file dialogs) in the chosen language.
    ui::ToolkitTranslation m_toolkitTranslation;
    // Masters of unchanged photos, so that a reload only scales; shared with the workers.
    std::shared_ptr<thumbs::ThumbnailCache> m_thumbCache;

private:
    // Controls and components, named as the window design names them; each object is named
    // after its member.
    QToolBar* ToolBar = nullptr;
    QWidget* Panel1 = nullptr;
    QLineEdit* edPath = nullptr;
    QPushButton* btnBrowse = nullptr;
    QCheckBox* cbSubFolders = nullptr;
    TDrawGrid* DrawGrid = nullptr;
    QLabel* StatusPanel0 = nullptr;
    QLabel* StatusPanel1 = nullptr;

    QAction* ActionOpen = nullptr;
    QAction* ActionRotateLeft = nullptr;
    QAction* ActionRotateRight = nullptr;
    QAction* ActionRotate180 = nullptr;
    QAction* ActionDisplayExif = nullptr;
    QAction* ActionDelete = nullptr;
    QAction* ActionUndo = nullptr;

    QToolButton* tbFavorites = nullptr;
    QToolButton* tbAuto = nullptr;
    QToolButton* tbOptions = nullptr;

    QMenu* PopupMenu = nullptr;
    QMenu* pmOptions = nullptr;
    QMenu* pmMru = nullptr;
    QAction* pmiRefresh = nullptr;
    QAction* pmiThumbsInRow = nullptr;
    QAction* pmiEnlargeSmall = nullptr;
    QAction* pmiKeepTimestamp = nullptr;
    QAction* pmiDeleteConfirm = nullptr;
    QAction* pmiWebsite = nullptr;
    QAction* pmiAbout = nullptr;
    QAction* pmiHiQuality = nullptr;
    QAction* pmiLowQuality = nullptr;
    QActionGroup* QualityGroup = nullptr;
    QActionGroup* LanguageGroup = nullptr;
};
