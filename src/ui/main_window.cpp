// SPDX-License-Identifier: GPL-3.0-or-later
#include "ui/main_window.h"

#include "collection/scan.h"
#include "thumbs/thumbnail_cache.h"
#include "ui/Lang.h"
#include "ui/desktop_commands.h"
#include "ui/draw_grid.h"
#include "ui/folder_room.h"
#include "ui/language_room.h"
#include "ui/selected_photos.h"
#include "ui/shell.h"
#include "ui/thumbs_per_row_dialog.h"
#include "ui/turn_room.h"
#include "ui/window_parts.h"
#include "ui/window_settings.h"

#include <QAbstractEventDispatcher>
#include <QAction>
#include <QActionGroup>
#include <QCheckBox>
#include <QFileInfo>
#include <QKeyEvent>
#include <QLabel>
#include <QLineEdit>
#include <QMenu>
#include <QPainter>
#include <QPushButton>
#include <QToolButton>
#include <QVBoxLayout>

using ui::IsFolder;

TFormTulvex::TFormTulvex(QWidget* parent)
    : QMainWindow(parent), m_language(new ui::LanguageRoom(this)),
      m_placement(new ui::WindowPlacement(*this)),
      m_folder(std::make_unique<ui::FolderRoom>(
          this, *m_language, thumbs::OpenDefaultCache(thumbs::ThumbnailCache::Writes::Background))),
      m_turns(std::make_unique<ui::TurnRoom>(
          this, *m_folder, *m_language,
          ui::TurnInputs{[this] { return pmiKeepTimestamp->isChecked(); },
                         [this] { return ThumbnailOptions(); }})),
      FLangFiles(m_language->files()), FThumbList(m_folder->thumbs()),
      FFavorites(m_folder->favorites()), FFolder(m_folder->folder()),
      FAutoList(m_folder->autoList()), FLang(m_language->translator()) {
    setObjectName("FormTulvex");
    CreateControls();
    CreateCommands();
    CreateMenus();
    ConnectRooms();
    // Commands follow the selection whenever the program becomes idle.
    connect(QAbstractEventDispatcher::instance(), &QAbstractEventDispatcher::aboutToBlock, this,
            &TFormTulvex::UpdateActions);
    FormCreate();
}

TFormTulvex::~TFormTulvex() {
    FormDestroy();
}

void TFormTulvex::CreateControls() {
    setMinimumSize(kMinimumOuter);
    resize(kMinimumOuter);
    QFont dialogFont = font(); // the design's 8-point dialog font, 11 pixels high
    dialogFont.setPixelSize(11);
    setFont(dialogFont);
    auto* central = new QWidget(this);
    auto* layout = new QVBoxLayout(central);
    layout->setContentsMargins(0, 0, 0, 0);
    layout->setSpacing(0);
    const ui::PathPanel panel = ui::MakePathPanel(central);
    std::tie(Panel1, edPath, btnBrowse, cbSubFolders) =
        std::tuple(panel.panel, panel.path, panel.browse, panel.subFolders);
    edPath->installEventFilter(this);
    layout->addWidget(Panel1);

    DrawGrid = new TDrawGrid(central);
    DrawGrid->setObjectName("DrawGrid");
    DrawGrid->onDrawCell = [this](QPainter& p, int c, int r, const QRect& rect, bool selected) {
        DrawGridDrawCell(p, c, r, rect, selected);
    };
    DrawGrid->onSelectCell = [this](int c, int r) { DrawGridSelectCell(c, r); };
    DrawGrid->onDblClick = [this] { ui::RunGuarded([this] { DrawGridDblClick(); }); };
    connect(DrawGrid, &TDrawGrid::selectionChanged, this, &TFormTulvex::SetStatusCount);
    layout->addWidget(DrawGrid, 1);
    setCentralWidget(central);
    const ui::StatusPanels status = ui::MakeStatusBar(this);
    std::tie(StatusPanel0, StatusPanel1) = std::tuple(status.left, status.right);

    connect(btnBrowse, &QPushButton::clicked, this,
            [this] { ui::RunGuarded([this] { btnBrowseClick(); }); });
    connect(cbSubFolders, &QCheckBox::toggled, this,
            [this] { ui::RunGuarded([this] { cbSubFoldersClick(); }); });
}

template <typename Handler>
void TFormTulvex::BindCommand(QAction* action, bool detachable, Handler handler) {
    addAction(action); // shortcuts work anywhere in the window
    connect(action, &QAction::triggered, this, [this, action, handler, detachable] {
        // Detached while the path box has the focus: invoking does nothing.
        if (detachable && !m_handlersAttached) return;
        if (!EnabledAfterUpdate(action)) return;
        ui::RunGuarded(handler);
    });
}

void TFormTulvex::CreateCommands() {
    const ui::CommandActions made = ui::MakeCommandActions(this);
    std::tie(ActionOpen, ActionRotateLeft, ActionRotateRight, ActionRotate180, ActionDisplayExif,
             ActionDelete, ActionUndo, ActionRedo) =
        std::tuple(made.open, made.rotateLeft, made.rotateRight, made.rotate180, made.displayExif,
                   made.remove, made.undo, made.redo);
    BindCommand(ActionOpen, true, [this] { ActionOpenExecute(); });
    BindCommand(ActionRotateLeft, true, [this] { ActionRotate(ActionRotateLeft); });
    BindCommand(ActionRotateRight, true, [this] { ActionRotate(ActionRotateRight); });
    BindCommand(ActionRotate180, true, [this] { ActionRotate(ActionRotate180); });
    BindCommand(ActionDisplayExif, true, [this] { ActionDisplayExifExecute(); });
    BindCommand(ActionDelete, false, [this] { ActionDeleteExecute(); });
    BindCommand(ActionUndo, true, [this] { ActionUndoExecute(); });
    BindCommand(ActionRedo, true, [this] { ActionRedoExecute(); });
    ui::AddQuietKeys(this, made, [this](bool redo) { redo ? m_turns->Redo() : m_turns->Undo(); });
    ui::MakeQuitAction(this);

    const ui::ToolButtons bar = ui::MakeToolBar(this, made);
    std::tie(ToolBar, tbFavorites, tbAuto, tbOptions) =
        std::tuple(bar.bar, bar.favorites, bar.automatic, bar.options);
    connect(tbAuto, &QToolButton::clicked, this,
            [this] { ui::RunGuarded([this] { tbAutoClick(); }); });
}

void TFormTulvex::CreateMenus() {
    const ui::CommandActions commands{ActionOpen,      ActionRotateLeft,  ActionRotateRight,
                                      ActionRotate180, ActionDisplayExif, ActionDelete,
                                      ActionUndo,      ActionRedo};
    PopupMenu = ui::MakePopupMenu(this, commands, [this] { UpdateActions(); });
    DrawGrid->PopupMenu = PopupMenu;
    const ui::OptionsMenu options = ui::MakeOptionsMenu(this, tbOptions);
    std::tie(pmOptions, pmiRefresh, pmiThumbsInRow, pmiEnlargeSmall, pmiKeepTimestamp,
             pmiDeleteConfirm, pmiWebsite, pmiAbout, pmiHiQuality, pmiLowQuality, QualityGroup,
             LanguageGroup) =
        std::tuple(options.menu, options.refresh, options.thumbsInRow, options.enlargeSmall,
                   options.keepTimestamp, options.deleteConfirm, options.website, options.about,
                   options.hiQuality, options.lowQuality, options.quality, options.language);
    const auto guarded = [this](QAction* action, auto handler) {
        connect(action, &QAction::triggered, this, [handler] { ui::RunGuarded(handler); });
    };
    guarded(pmiRefresh, [this] { pmiRefreshClick(); });
    guarded(pmiThumbsInRow, [this] { pmiThumbsInRowClick(); });
    guarded(pmiWebsite, [this] { pmiWebsiteClick(); });
    guarded(pmiAbout, [this] { pmiAboutClick(); });
    for (QAction* quality : {pmiHiQuality, pmiLowQuality}) // the thumbnails anew, from the cache
        guarded(quality, [this] { pmiRefreshClick(); });
    ui::AddUndoItems(pmOptions, commands, [this] { UpdateActions(); });
    pmMru = ui::MakeFavoritesMenu(this, tbFavorites);
}

void TFormTulvex::ConnectRooms() {
    connect(m_placement, &ui::WindowPlacement::settled, this,
            [this] { ui::RunGuarded([this] { FormResize(this); }); });
    connect(m_language, &ui::LanguageRoom::changed, this, [this] {
        BuildFavoritesMenu(); // its texts in the new language
        SetStatusCount();
    });
    using ui::FolderRoom;
    connect(m_folder.get(), &FolderRoom::busyChanged, this, &TFormTulvex::UpdateActions);
    connect(m_folder.get(), &FolderRoom::loadStarting, StatusPanel0, &QLabel::clear);
    connect(m_folder.get(), &FolderRoom::folderBegun, edPath, &QLineEdit::setText);
    connect(m_folder.get(), &FolderRoom::unreadable, this,
            [this] { StatusPanel0->setText(Msg("Warning! Unable to read some images.")); });
    connect(m_folder.get(), &FolderRoom::loaded, this, &TFormTulvex::ShowLoadedFolder);
    connect(m_folder.get(), &FolderRoom::reloadWanted, this, &TFormTulvex::LoadFolder);
    connect(m_turns.get(), &ui::TurnRoom::turning, this,
            [this](const QString& path) { FSelectedFile = path; });
    connect(m_turns.get(), &ui::TurnRoom::changed, this, &TFormTulvex::RepaintGrid);
    connect(m_turns.get(), &ui::TurnRoom::told, StatusPanel0, &QLabel::setText);
    m_notes = new ui::GridNotes(*DrawGrid, *m_folder, *m_language);
}

void TFormTulvex::FormCreate() {
    setWindowTitle(kTitle);
    m_language->BuildMenu(pmOptions, LanguageGroup);
    FLang->Properties() << ui::WindowTranslationKeys();
    FLang->ApplyTranslations();
    ui::SetCommandShortcuts({ActionOpen, ActionRotateLeft, ActionRotateRight, ActionRotate180,
                             ActionDisplayExif, ActionDelete, ActionUndo});
}

void TFormTulvex::showEvent(QShowEvent* event) {
    QMainWindow::showEvent(event);
    if (m_shown) return;
    m_shown = true;
    m_placement->FollowScreenDensity();
    ui::RunGuarded([this] { FormShow(); });
}

void TFormTulvex::FormShow() {
    ReadSettings();
    DrawGrid->setFocus(); // the plain-key commands work from the start
    FormResize(nullptr);
    // One load of the start folder once the window has its size, maximized or not: the
    // settle timer folds the size changes of the first showing into it.
    m_placement->Unsettle();
}

void TFormTulvex::moveEvent(QMoveEvent* event) {
    QMainWindow::moveEvent(event);
    m_placement->NoteOuterGeometry();
}

void TFormTulvex::resizeEvent(QResizeEvent* event) {
    QMainWindow::resizeEvent(event);
    m_placement->NoteOuterGeometry();
    if (!m_shown) return;
    FormResize(nullptr);
    m_placement->Unsettle();
}

void TFormTulvex::closeEvent(QCloseEvent* event) {
    // A load or automatic pass in progress stops before its next photo: closing asks nothing
    // and must not leave work running behind a hidden window.
    m_folder->Close();
    m_placement->Stop();
    QMainWindow::closeEvent(event);
}

void TFormTulvex::FormDestroy() {
    m_folder->Clear();
    WriteSettings();
}

void TFormTulvex::ReadSettings() {
    const ui::WindowSettings read = ui::ReadWindowSettings(ui::SettingsPath(), kMinimumOuter);
    m_language->ApplySaved(read.language, LanguageGroup);
    pmiKeepTimestamp->setChecked(read.keepTimestamp);
    pmiEnlargeSmall->setChecked(read.enlargeSmall);
    pmiDeleteConfirm->setChecked(read.confirmDelete);
    cbSubFolders->setChecked(read.subFolders); // no folder yet: loads nothing
    DrawGrid->setColCount(read.thumbsInRow);
    (read.highQuality ? pmiHiQuality : pmiLowQuality)->setChecked(true);
    if (read.maximized)
        m_placement->Maximize();
    else
        m_placement->Place(read.outer);
    m_folder->SetFolder(m_folder->StartFolder(read.lastFolder));
    edPath->setText(FFolder);
    m_folder->SetFavorites(read.favorites);
    BuildFavoritesMenu();
}

void TFormTulvex::WriteSettings() {
    ui::WindowSettings kept;
    kept.keepTimestamp = pmiKeepTimestamp->isChecked();
    kept.enlargeSmall = pmiEnlargeSmall->isChecked();
    kept.maximized = isMaximized();
    kept.language = m_language->LanguageFile();
    if (!kept.maximized) kept.outer = m_placement->OuterToKeep();
    kept.confirmDelete = pmiDeleteConfirm->isChecked();
    kept.highQuality = pmiHiQuality->isChecked();
    kept.lastFolder = FFolder; // what is loaded, not what was typed or refused
    kept.subFolders = cbSubFolders->isChecked();
    kept.thumbsInRow = DrawGrid->ColCount();
    kept.favorites = FFavorites;
    ui::WriteWindowSettings(ui::SettingsPath(), kept);
}

bool TFormTulvex::eventFilter(QObject* watched, QEvent* event) {
    if (watched != edPath) return QMainWindow::eventFilter(watched, event);
    switch (event->type()) {
    case QEvent::FocusIn:
        edPathEnter();
        break;
    case QEvent::FocusOut:
        edPathExit();
        break;
    case QEvent::ShortcutOverride: {
        // While the path box has the focus, the plain-key commands are detached: their keys
        // are typing. Ctrl+Del stays a command.
        auto* key = static_cast<QKeyEvent*>(event);
        if (key->key() == Qt::Key_Delete && key->modifiers() == Qt::ControlModifier) {
            event->ignore(); // not the box's word deletion: the Delete command
            return true;
        }
        if (!m_handlersAttached && ui::IsPlainCommandKey(*key)) {
            event->accept();
            return true;
        }
        break;
    }
    case QEvent::KeyPress: {
        const int key = static_cast<QKeyEvent*>(event)->key();
        ui::RunGuarded([this, key] { edPathKeyDown(key); });
        break;
    }
    default:
        break;
    }
    return QMainWindow::eventFilter(watched, event);
}

bool TFormTulvex::EnabledAfterUpdate(QAction* action) {
    UpdateActions(); // the update handler runs right before the command
    return action->isEnabled();
}

void TFormTulvex::UpdateActions() {
    const bool selected = HasSelectedImage();
    // During a long loop the grid's selection names whatever the loop has reached so far.
    const bool changesAllowed = !InLongLoop();
    const auto set = [](auto* control, bool enabled) {
        if (control && control->isEnabled() != enabled) control->setEnabled(enabled);
    };
    for (QAction* action : {ActionOpen, ActionDisplayExif})
        set(action, selected);
    for (QAction* action : {ActionRotateLeft, ActionRotateRight, ActionRotate180, ActionDelete})
        set(action, selected && changesAllowed);
    set(ActionUndo, changesAllowed && m_turns->CanUndo());
    set(ActionRedo, changesAllowed && m_turns->CanRedo());
    set(tbAuto, changesAllowed);
    set(pmiThumbsInRow, changesAllowed);
}

void TFormTulvex::LoadFolder(const QString& folder) {
    m_folder->Load(folder, {cbSubFolders->isChecked(), ThumbnailOptions()});
}

void TFormTulvex::OpenFolder(const QString& folder) {
    // Refused: the user was told why, and the box names the folder still shown.
    if (!m_folder->Open(folder, {cbSubFolders->isChecked(), ThumbnailOptions()}))
        edPath->setText(FFolder);
}

void TFormTulvex::ReloadFolder() {
    if (m_folder->Reload({cbSubFolders->isChecked(), ThumbnailOptions()})) return;
    edPath->setText(FFolder); // gone: no folder and none of its photos are shown
    StatusPanel0->clear();
    ShowLoadedFolder();
}

void TFormTulvex::ShowLoadedFolder() {
    AddThumbRows();
    DrawGrid->setCurrentIndex(0);
    DrawGrid->viewport()->repaint();
    DrawGrid->scrollToTop();
    DrawGridSelectCell(0, 0);
    SelectStartPhoto();
    SetStatusCount();
    UpdateActions();
}

void TFormTulvex::SelectStartPhoto() {
    const QString photo = m_folder->TakeStartPhoto();
    const int index = photo.isEmpty() ? -1 : m_folder->IndexOfThumb(photo);
    if (index < 0) return;
    DrawGrid->setCurrentIndex(index);
    FSelectedFile = PhotoAt(index);
}

void TFormTulvex::AddThumbRows() {
    DrawGrid->setItemCount(int(FThumbList.size()));
}

void TFormTulvex::RepaintGrid() {
    DrawGrid->viewport()->update();
}

void TFormTulvex::SetStatusCount() {
    StatusPanel1->setText(
        ui::CountText(*m_language, FThumbList.size(), DrawGrid->Selection().SelectedCount()));
}

void TFormTulvex::edPathKeyDown(int key) {
    if (key == Qt::Key_Return || key == Qt::Key_Enter) OpenFolder(edPath->text());
}

void TFormTulvex::btnBrowseClick() {
    const QString chosen = ui::Shell::current().browseForFolder(this, edPath->text());
    if (!chosen.isEmpty()) OpenFolder(chosen); // empty: cancelled
}

void TFormTulvex::cbSubFoldersClick() {
    ReloadFolder();
}

void TFormTulvex::pmiRefreshClick() {
    ReloadFolder();
}

void TFormTulvex::BuildFavoritesMenu() {
    m_folder->BuildFavoritesMenu(
        pmMru, [this] { AddCurrentFolderClick(); }, [this](QAction* item) { FavoriteClick(item); });
}

void TFormTulvex::AddCurrentFolderClick() {
    if (m_folder->AddCurrentFolder()) BuildFavoritesMenu();
}

void TFormTulvex::FavoriteClick(QAction* item) {
    const int index = item->property(kTagProperty).toInt();
    if (index < 0 || index >= FFavorites.size()) return;
    OpenFolder(FFavorites[index]);
}

thumbs::ThumbnailOptions TFormTulvex::ThumbnailOptions() const {
    return {DrawGrid->DefaultColWidth(), DrawGrid->DefaultRowHeight(), pmiHiQuality->isChecked(),
            pmiEnlargeSmall->isChecked(), DrawGrid->devicePixelRatioF()};
}

void TFormTulvex::FormResize(QObject* sender) {
    const int width =
        (DrawGrid->clientWidth() - TDrawGrid::scrollBarWidth() - 4) / DrawGrid->ColCount();
    DrawGrid->setDefaultColWidth(width);
    DrawGrid->setDefaultRowHeight(width + 20);
    if (sender) ReloadFolder();
}

void TFormTulvex::DrawGridDrawCell(QPainter& painter, int col, int row, const QRect& rect,
                                   bool selected) {
    DrawGrid->DrawCellBackground(painter, rect, selected);
    const std::int64_t index = col + std::int64_t(row) * DrawGrid->ColCount();
    if (index < 0 || index >= std::int64_t(FThumbList.size())) return;
    DrawGrid->DrawThumbnail(painter, rect, FThumbList[std::size_t(index)].thumbnail,
                            m_notes->Caption(FThumbList[std::size_t(index)].path));
}

QString TFormTulvex::PhotoAt(std::int64_t index) const {
    return ui::PhotoOnDisk(FThumbList, index);
}

void TFormTulvex::DrawGridSelectCell(int col, int row) {
    FSelectedFile = PhotoAt(col + std::int64_t(row) * DrawGrid->ColCount());
}

QStringList TFormTulvex::SelectedPaths() const {
    return ui::SelectedPhotos(FThumbList, DrawGrid->Selection());
}

void TFormTulvex::SelectLastSelectedCell() {
    const std::vector<int> selected = DrawGrid->Selection().Selected();
    if (!selected.empty()) FSelectedFile = PhotoAt(selected.back());
}

void TFormTulvex::DrawGridDblClick() {
    UpdateActions();
    ActionOpen->trigger(); // does nothing while the command is disabled
}

bool TFormTulvex::HasSelectedImage() const {
    const std::vector<int> selected = DrawGrid->Selection().Selected();
    return !selected.empty() && selected.front() < std::int64_t(FThumbList.size());
}

void TFormTulvex::ActionRotate(QAction* sender) {
    if (InLongLoop()) return;
    const QStringList paths = SelectedPaths();
    SelectLastSelectedCell();
    const QString last = FSelectedFile;
    m_turns->Rotate(paths, sender->property(kTagProperty).value<rotate::RotationCode>());
    FSelectedFile = last;
    RepaintGrid();
}

void TFormTulvex::ActionDeleteExecute() {
    if (InLongLoop()) return;
    const QStringList paths = SelectedPaths();
    const std::vector<int> selected = DrawGrid->Selection().Selected();
    SelectLastSelectedCell();
    const std::size_t listed = FThumbList.size();
    m_folder->Delete(paths, pmiDeleteConfirm->isChecked());
    AddThumbRows();
    // The photo that moved up into the first deleted one's place is selected alone: the
    // others that moved up were never chosen.
    if (FThumbList.size() != listed && !selected.empty()) {
        DrawGrid->setCurrentIndex(std::min(selected.front(), DrawGrid->ItemCount() - 1));
        SelectLastSelectedCell();
    }
    SetStatusCount(); // how many are listed now
    RepaintGrid();
}

void TFormTulvex::ActionOpenExecute() {
    ShowSelectedPhoto(ui::OpenPhoto);
}

void TFormTulvex::ActionDisplayExifExecute() {
    ShowSelectedPhoto(ui::ShowExif);
}

void TFormTulvex::ShowSelectedPhoto(PhotoShow show) {
    if (!QFileInfo::exists(FSelectedFile)) return m_folder->ShowMissingFile(FSelectedFile);
    show(this, FSelectedFile, *m_language);
}

void TFormTulvex::pmiThumbsInRowClick() {
    if (InLongLoop()) return;
    TThumbForm form(this, m_language->LanguageFile());
    form.udQty->setPosition(DrawGrid->ColCount());
    if (form.exec() != QDialog::Accepted) return;
    DrawGrid->setColCount(form.udQty->position());
    FormResize(this);
}
