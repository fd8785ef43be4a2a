// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include "rotate/orientation_table.h"
#include "rotate/turn.h"
#include "session/auto_list.h"
#include "session/thumb_list.h"
#include "thumbs/image_codec.h"
#include "ui/desktop_commands.h"
#include "ui/folder_room.h"
#include "ui/grid_notes.h"
#include "ui/language_room.h"
#include "ui/turn_room.h"
#include "ui/window_names.h"
#include "ui/window_placement.h"

#include <QMainWindow>
#include <QString>
#include <QStringList>

#include <memory>
#include <vector>

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

using ThumbEntry = session::ThumbEntry;

using AutoEntry = session::AutoEntry;

// The one main window: the face the toolkit and the tests see. Its state lives in rooms that
// each own their fields (ui/folder_room, ui/turn_room, ui/window_placement, ui/language_room);
// the window wires its controls to them.
class TFormTulvex : public QMainWindow {
    Q_OBJECT
public:
    static inline const QString kTitle = ui::kTitle;
    static inline const QString kWebSite = ui::kWebSite;
    static constexpr const char* kTagProperty = ui::kTagProperty;
    static constexpr int kMaxFavorites = ui::kMaxFavorites;
    // The window's outer geometry, frame included, is what the settings keep.
    static constexpr QSize kMinimumOuter = ui::WindowPlacement::kMinimumOuter;

    explicit TFormTulvex(QWidget* parent = nullptr);
    ~TFormTulvex() override;

    // The folder or photo named on the command line, taken by the first showing; empty: none.
    void SetStartPath(const QString& path) { m_folder->SetStartPath(path); }
    // Another copy runs: this one does not open exactly on top of it.
    void CascadeFromAnother() { m_placement->CascadeFromAnother(); }
    void FormCreate();
    void FormShow();
    void FormDestroy();
    void ReadSettings();
    void WriteSettings();

    void UpdateActions();
    void ActionDeleteExecute();
    void ActionOpenExecute();
    void pmiWebsiteClick() { ui::OpenWebSite(this, *m_language); }
    void pmiAboutClick() { ui::ShowAbout(this, *m_language); }
    void pmiThumbsInRowClick();

    void LoadFolder(const QString& folder);

    void edPathEnter() { m_handlersAttached = false; }
    void edPathExit() { m_handlersAttached = true; }
    void edPathKeyDown(int key);
    void btnBrowseClick();
    void cbSubFoldersClick();
    void pmiRefreshClick();
    void AddCurrentFolderClick();
    void FavoriteClick(QAction* item);

    thumbs::ThumbnailOptions ThumbnailOptions() const;
    void RestoreKeptTimes(const QString& path) { m_turns->RestoreKeptTimes(path); }
    void FormResize(QObject* sender);
    void DrawGridDrawCell(QPainter& painter, int col, int row, const QRect& rect, bool selected);
    void DrawGridSelectCell(int col, int row);
    void DrawGridDblClick();
    bool HasSelectedImage() const;
    // The grid's selected photos that still exist, in list order.
    QStringList SelectedPaths() const;

    void RotateImage(const QString& path, rotate::RotationCode code, bool manual) {
        m_turns->RotateImage(path, code, manual);
    }
    void ActionRotate(QAction* sender);
    void tbAutoClick() { m_turns->Automatic(windowTitle()); }
    // Takes back the last turn or automatic pass of the window.
    void ActionUndoExecute() { m_turns->Undo(); }
    void ActionRedoExecute() { m_turns->Redo(); }
    // Tests pass failing calls to reach what a real disk does only rarely.
    void SetTurnCalls(rotate::TurnCalls calls) { m_turns->SetTurnCalls(std::move(calls)); }

    void ActionDisplayExifExecute();
    void LanguageItemClick(QAction* item) { m_language->Choose(item); }
    // Beside the program when language files lie there, else PREFIX/share/tulvex/lang.
    static QString LanguageFolderOf(const QString& programFolder) {
        return ui::LanguageRoom::FolderOf(programFolder);
    }
    // Message lookup on FLang.
    QString Msg(const QString& key) const { return m_language->Msg(key); }

    // Read access for the parts that only look.
    const std::vector<ThumbEntry>& thumbList() const { return FThumbList; }
    const session::AutoList& autoList() const { return FAutoList; }
    const QString& selectedFile() const { return FSelectedFile; }
    const QString& folder() const { return FFolder; }
    const QStringList& favorites() const { return FFavorites; }
    const QStringList& languageFiles() const { return FLangFiles; }
    bool askCrop() const { return m_turns->askCrop(); }
    TLanguage* language() const { return FLang; }
    int loadCount() const { return m_folder->loadCount(); }         // loads started
    int loadsFinished() const { return m_folder->loadsFinished(); } // loads that ran to their end
    // True while a folder load or the automatic pass runs: nothing may then turn, delete or
    // reload from inside the loop.
    bool InLongLoop() const { return m_folder->InLongLoop(); }
    const std::shared_ptr<thumbs::ThumbnailCache>& thumbnailCache() const {
        return m_folder->thumbnailCache();
    }

protected:
    void showEvent(QShowEvent* event) override;
    void resizeEvent(QResizeEvent* event) override;
    void moveEvent(QMoveEvent* event) override;
    void closeEvent(QCloseEvent* event) override;
    bool eventFilter(QObject* watched, QEvent* event) override;

private:
    void CreateControls();
    void CreateCommands();
    void CreateMenus();
    void ConnectRooms();
    void ApplySettings();
    void BuildFavoritesMenu();
    void SelectStartPhoto();
    // Loads `folder`, or tells why not and puts the folder still shown back in the path box.
    void OpenFolder(const QString& folder);
    // Loads the folder shown anew, or tells that it is gone and shows none.
    void ReloadFolder();
    void ShowLoadedFolder();
    void AddThumbRows();
    void RepaintGrid();
    void SetStatusCount();
    // Shows the selected photo one way, or says it is gone.
    using PhotoShow = void (*)(QWidget*, const QString&, const ui::LanguageRoom&);
    void ShowSelectedPhoto(PhotoShow show);
    bool EnabledAfterUpdate(QAction* action);
    QString PhotoAt(std::int64_t index) const;
    // The selected file as the grid's walk over the selection leaves it: its last cell.
    void SelectLastSelectedCell();
    template <typename Handler> void BindCommand(QAction* action, bool detachable, Handler handler);

    // The rooms, each the owner of its own fields.
    ui::LanguageRoom* m_language; // children of the window
    ui::WindowPlacement* m_placement;
    std::unique_ptr<ui::FolderRoom> m_folder;
    std::unique_ptr<ui::TurnRoom> m_turns;
    ui::GridNotes* m_notes = nullptr; // a child of the grid
    bool m_shown = false;
    bool m_handlersAttached = true;

    // Fields of the window, in the order of its design; the lists are the folder room's and
    // the language files the language room's, seen here under their design names.
    const QStringList& FLangFiles;
    const std::vector<ThumbEntry>& FThumbList;
    const QStringList& FFavorites;
    const QString& FFolder;
    QString FSelectedFile;
    const session::AutoList& FAutoList;
    TLanguage* FLang; // the language room's

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
    QAction* ActionRedo = nullptr;

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
