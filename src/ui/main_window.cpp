// SPDX-License-Identifier: GPL-3.0-or-later
#include "ui/main_window.h"

#include "collection/scan.h"
#include "thumbs/thumbnail_cache.h"
#include "ui/Lang.h"
#include "ui/draw_grid.h"
#include "ui/shell.h"

#include <QAbstractEventDispatcher>
#include <QAction>
#include <QApplication>
#include <QCheckBox>
#include <QDir>
#include <QFileInfo>
#include <QKeyEvent>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>
#include <QStatusBar>
#include <QVBoxLayout>

#include <utility>

namespace {

// A border drag is one reload once the size has been still this long.
constexpr int kResizeSettleMs = 200;
// How often the first showing looks for a window manager's frame.
constexpr int kFrameCheckMs = 25;

// The 29 translatable properties of the main window, in the order they are applied.
const char* const kTranslationKeys[] = {
    "FormTulvex.ActionOpen.Caption",
    "FormTulvex.ActionOpen.Hint",
    "FormTulvex.ActionRotateLeft.Caption",
    "FormTulvex.ActionRotateLeft.Hint",
    "FormTulvex.ActionRotateRight.Caption",
    "FormTulvex.ActionRotateRight.Hint",
    "FormTulvex.ActionRotate180.Caption",
    "FormTulvex.ActionRotate180.Hint",
    "FormTulvex.ActionDisplayExif.Caption",
    "FormTulvex.ActionDisplayExif.Hint",
    "FormTulvex.tbFavorites.Caption",
    "FormTulvex.tbFavorites.Hint",
    "FormTulvex.tbAuto.Caption",
    "FormTulvex.tbAuto.Hint",
    "FormTulvex.tbOptions.Caption",
    "FormTulvex.tbOptions.Hint",
    "FormTulvex.ActionDelete.Caption",
    "FormTulvex.ActionDelete.Hint",
    "FormTulvex.ActionUndo.Caption",
    "FormTulvex.ActionUndo.Hint",
    "FormTulvex.btnBrowse.Caption",
    "FormTulvex.cbSubFolders.Caption",
    "FormTulvex.pmiRefresh.Caption",
    "FormTulvex.pmiThumbsInRow.Caption",
    "FormTulvex.pmiEnlargeSmall.Caption",
    "FormTulvex.pmiHiQuality.Caption",
    "FormTulvex.pmiLowQuality.Caption",
    "FormTulvex.pmiKeepTimestamp.Caption",
    "FormTulvex.pmiAbout.Caption",
    "FormTulvex.pmiWebsite.Caption",
    "FormTulvex.pmiDeleteConfirm.Caption",
};

} // namespace

TFormTulvex::TFormTulvex(QWidget* parent)
    : QMainWindow(parent),
      m_thumbCache(thumbs::OpenDefaultCache(thumbs::ThumbnailCache::Writes::Background)) {
    setObjectName("FormTulvex");
    CreateControls();
    CreateActions();
    CreateToolBar();
    CreateMenus();
    m_resizeTimer.setSingleShot(true);
    m_resizeTimer.setInterval(kResizeSettleMs);
    connect(&m_resizeTimer, &QTimer::timeout, this,
            [this] { ui::RunGuarded([this] { FormResize(this); }); });
    m_frameWatch.setInterval(kFrameCheckMs);
    connect(&m_frameWatch, &QTimer::timeout, this, &TFormTulvex::CheckForFrame);
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

    Panel1 = new QWidget(central);
    Panel1->setObjectName("Panel1");
    Panel1->setFixedHeight(31);
    edPath = new QLineEdit(Panel1);
    edPath->setObjectName("edPath");
    edPath->setGeometry(2, 4, 400, 23);
    edPath->installEventFilter(this);
    btnBrowse = new QPushButton(QStringLiteral("Browse ..."), Panel1);
    btnBrowse->setObjectName("btnBrowse");
    btnBrowse->setGeometry(408, 4, 105, 23);
    cbSubFolders = new QCheckBox(QStringLiteral("Include subfolders"), Panel1);
    cbSubFolders->setObjectName("cbSubFolders");
    cbSubFolders->setGeometry(519, 6, 178, 19);
    layout->addWidget(Panel1);

    DrawGrid = new TDrawGrid(central);
    DrawGrid->setObjectName("DrawGrid");
    DrawGrid->onDrawCell = [this](QPainter& p, int c, int r, const QRect& rect, bool selected) {
        DrawGridDrawCell(p, c, r, rect, selected);
    };
    DrawGrid->onSelectCell = [this](int c, int r) { DrawGridSelectCell(c, r); };
    DrawGrid->onDblClick = [this] { ui::RunGuarded([this] { DrawGridDblClick(); }); };
    layout->addWidget(DrawGrid, 1);
    setCentralWidget(central);

    auto* bar = new QStatusBar(this);
    bar->setObjectName("StatusBar");
    StatusPanel0 = new QLabel(bar);
    StatusPanel0->setObjectName("StatusPanel0");
    StatusPanel0->setFixedWidth(550);
    StatusPanel1 = new QLabel(bar);
    StatusPanel1->setObjectName("StatusPanel1");
    StatusPanel1->setMinimumWidth(50);
    bar->addWidget(StatusPanel0);
    bar->addWidget(StatusPanel1);
    setStatusBar(bar);

    connect(btnBrowse, &QPushButton::clicked, this,
            [this] { ui::RunGuarded([this] { btnBrowseClick(); }); });
    connect(cbSubFolders, &QCheckBox::toggled, this,
            [this] { ui::RunGuarded([this] { cbSubFoldersClick(); }); });
}

void TFormTulvex::FormCreate() {
    FAskCrop = true;
    FLangFiles.clear();
    setWindowTitle(kTitle);
    FLang = new TLanguage(this);
    BuildLanguageMenu();
    RegisterTranslations();
    FLang->ApplyTranslations();
    FAutoList.clear();
    FFavorites.clear();
    FThumbList.clear();
    // The keypad's Enter opens as the main Enter does.
    ActionOpen->setShortcuts({QKeySequence(Qt::Key_Return), QKeySequence(Qt::Key_Enter)});
    ActionRotateLeft->setShortcut(QKeySequence(Qt::Key_L));
    ActionRotateRight->setShortcut(QKeySequence(Qt::Key_R));
    ActionRotate180->setShortcut(QKeySequence(Qt::Key_H));
    ActionDisplayExif->setShortcut(QKeySequence(Qt::Key_E));
    for (QAction* action :
         {ActionOpen, ActionRotateLeft, ActionRotateRight, ActionRotate180, ActionDisplayExif})
        SetActionHint(action, ActionHint(action)); // the tooltips now name the shortcuts
}

void TFormTulvex::RegisterTranslations() {
    for (const char* key : kTranslationKeys)
        FLang->Properties() << QString::fromLatin1(key);
}

void TFormTulvex::showEvent(QShowEvent* event) {
    QMainWindow::showEvent(event);
    if (m_shown) return;
    m_shown = true;
    FollowScreenDensity();
    ui::RunGuarded([this] { FormShow(); });
}

void TFormTulvex::FormShow() {
    ReadSettings();
    DrawGrid->setFocus(); // the plain-key commands work from the start
    FormResize(nullptr);
    // One load of the start folder once the window has its size, maximized or not: the
    // settle timer folds the size changes of the first showing into it.
    m_resizeTimer.start();
}

void TFormTulvex::moveEvent(QMoveEvent* event) {
    QMainWindow::moveEvent(event);
    NoteOuterGeometry();
}

void TFormTulvex::resizeEvent(QResizeEvent* event) {
    QMainWindow::resizeEvent(event);
    NoteOuterGeometry();
    if (!m_shown) return;
    FormResize(nullptr);
    m_resizeTimer.start();
}

void TFormTulvex::closeEvent(QCloseEvent* event) {
    // A load or automatic pass in progress stops before its next photo: closing asks nothing
    // and must not leave work running behind a hidden window.
    m_generation.SupersedeAll();
    m_resizeTimer.stop();
    m_busy.DropOwedLoad();
    NoteOuterGeometry(); // while the frame is still there
    m_frameWatch.stop();
    QMainWindow::closeEvent(event);
}

void TFormTulvex::FormDestroy() {
    FAutoList.clear();
    ClearThumbnails();
    WriteSettings();
    FFavorites.clear();
}

TFormTulvex::LongLoop::LongLoop(TFormTulvex& window, Kind kind) : m_window(window), m_kind(kind) {
    m_window.m_busy.Begin(m_kind);
    m_window.UpdateActions();
}

TFormTulvex::LongLoop::~LongLoop() {
    m_window.m_busy.End(m_kind);
    m_window.UpdateActions();
    // A loop left by an error still owes the reload asked for during it.
    if (!m_window.InLongLoop() && m_window.m_busy.LoadOwed())
        QTimer::singleShot(0, &m_window,
                           [w = &m_window] { ui::RunGuarded([w] { w->RunDeferredLoad(); }); });
}

void TFormTulvex::RunDeferredLoad() {
    const std::optional<QString> folder = m_busy.TakeOwedLoad();
    if (folder && QFileInfo(*folder).isDir()) LoadFolder(*folder);
}

QString TFormTulvex::Msg(const QString& key) const {
    return FLang->LookupMessage(key);
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
        if (!m_handlersAttached && (key->modifiers() & ~Qt::KeypadModifier) == Qt::NoModifier &&
            (key->key() == Qt::Key_Return || key->key() == Qt::Key_Enter ||
             key->key() == Qt::Key_L || key->key() == Qt::Key_R || key->key() == Qt::Key_H ||
             key->key() == Qt::Key_E)) {
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
