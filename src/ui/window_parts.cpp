// SPDX-License-Identifier: GPL-3.0-or-later
#include "ui/window_parts.h"

#include "rotate/orientation_table.h"
#include "ui/Lang.h"
#include "ui/icons.h"
#include "ui/shell.h"
#include "ui/window_names.h"

#include <QAction>
#include <QActionGroup>
#include <QCheckBox>
#include <QFileInfo>
#include <QKeyEvent>
#include <QLabel>
#include <QLineEdit>
#include <QMainWindow>
#include <QMenu>
#include <QPushButton>
#include <QSet>
#include <QStatusBar>
#include <QToolBar>
#include <QToolButton>

#include <algorithm>

namespace ui {

namespace {

constexpr const char* kCommandProperty = "tulvexCommand";

// The 33 translatable properties of the main window, in the order they are applied.
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
    "FormTulvex.ActionRedo.Caption",
    "FormTulvex.ActionRedo.Hint",
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

QAction* MakeAction(QObject* owner, const char* name, const QString& caption, const QString& hint,
                    IconIndex icon, int tag) {
    auto* action = new QAction(ToolIcon(icon), caption, owner);
    action->setObjectName(name);
    action->setProperty(kTagProperty, tag);
    action->setIconVisibleInMenu(false);
    SetActionHint(action, hint);
    return action;
}

QString WithoutAccelerator(QString text) {
    text.replace(QStringLiteral("&&"), QStringLiteral("\x01"));
    text.remove(u'&');
    text.replace(QStringLiteral("\x01"), QStringLiteral("&&"));
    return text;
}

// One distinct underlined letter per item, where the caption has one left.
QString WithAccelerator(const QString& caption, QSet<QChar>& used) {
    QString plain = WithoutAccelerator(caption);
    for (qsizetype i = 0; i < plain.size(); ++i) {
        const QChar c = plain[i].toUpper();
        if (!c.isLetterOrNumber() || used.contains(c)) continue;
        used.insert(c);
        return plain.left(i) + u'&' + plain.mid(i);
    }
    return plain;
}

// A menu item standing for a command: it shows the command's caption, shortcut and state.
QAction* MenuItemFor(QMenu* menu, const char* name, QAction* command) {
    auto* item = new QAction(menu);
    item->setObjectName(name);
    item->setProperty(kCommandProperty, QVariant::fromValue(static_cast<QObject*>(command)));
    QObject::connect(item, &QAction::triggered, command, &QAction::trigger);
    menu->addAction(item);
    return item;
}

void RefreshMenuCaptions(QMenu* menu, const QAction* defaultItem) {
    QSet<QChar> used;
    for (QAction* item : menu->actions()) {
        if (item->isSeparator()) continue;
        auto* command = qobject_cast<QAction*>(item->property(kCommandProperty).value<QObject*>());
        if (command) {
            const QString shortcut = ShortcutText(command);
            const QString caption = item == defaultItem ? WithoutAccelerator(command->text())
                                                        : WithAccelerator(command->text(), used);
            item->setText(shortcut.isEmpty() ? caption : caption + u'\t' + shortcut);
            item->setEnabled(command->isEnabled());
        } else {
            const QString caption = WithAccelerator(item->text().section(u'\t', 0, 0), used);
            const QString shortcut = ShortcutText(item);
            item->setText(shortcut.isEmpty() ? caption : caption + u'\t' + shortcut);
        }
    }
}

// A tool button of at least 67x44 that grows wider when its caption needs it, so that no
// translation is cut short.
class TToolButton final : public QToolButton {
public:
    static constexpr QSize kMinimum{67, 44};
    using QToolButton::QToolButton;
    QSize sizeHint() const override {
        return {std::max(kMinimum.width(), QToolButton::sizeHint().width()), kMinimum.height()};
    }
    QSize minimumSizeHint() const override { return sizeHint(); }
};

QToolButton* MakeToolButton(QToolBar* bar, const char* name) {
    auto* button = new TToolButton(bar);
    button->setObjectName(name);
    button->setToolButtonStyle(Qt::ToolButtonTextUnderIcon);
    button->setSizePolicy(QSizePolicy::Fixed, QSizePolicy::Fixed);
    button->setIconSize(QSize(24, 24));
    button->setAutoRaise(true);
    QFont font = button->font(); // the design's small caption under the icon
    font.setPixelSize(10);
    button->setFont(font);
    bar->addWidget(button);
    return button;
}

QToolButton* MakeMenuButton(QToolBar* bar, const char* name, const QString& caption,
                            IconIndex icon) {
    QToolButton* button = MakeToolButton(bar, name);
    button->setText(caption);
    button->setIcon(ToolIcon(icon));
    return button;
}

} // namespace

PathPanel MakePathPanel(QWidget* parent) {
    PathPanel made{};
    made.panel = new QWidget(parent);
    made.panel->setObjectName("Panel1");
    made.panel->setFixedHeight(31);
    made.path = new QLineEdit(made.panel);
    made.path->setObjectName("edPath");
    made.path->setGeometry(2, 4, 400, 23);
    made.browse = new QPushButton(QStringLiteral("Browse ..."), made.panel);
    made.browse->setObjectName("btnBrowse");
    made.browse->setGeometry(408, 4, 105, 23);
    made.subFolders = new QCheckBox(QStringLiteral("Include subfolders"), made.panel);
    made.subFolders->setObjectName("cbSubFolders");
    made.subFolders->setGeometry(519, 6, 178, 19);
    return made;
}

StatusPanels MakeStatusBar(QMainWindow* window) {
    auto* bar = new QStatusBar(window);
    bar->setObjectName("StatusBar");
    StatusPanels made{new QLabel(bar), new QLabel(bar)};
    made.left->setObjectName("StatusPanel0");
    made.left->setFixedWidth(550);
    made.right->setObjectName("StatusPanel1");
    made.right->setMinimumWidth(50);
    bar->addWidget(made.left);
    bar->addWidget(made.right);
    window->setStatusBar(bar);
    return made;
}

CommandActions MakeCommandActions(QObject* owner) {
    CommandActions made{};
    made.open = MakeAction(owner, "ActionOpen", "View Image", "Hotkey", IconIndex::ViewImage, 0);
    made.rotateLeft =
        MakeAction(owner, "ActionRotateLeft", "Rotate Left", "Hotkey", IconIndex::RotateLeft, 1);
    made.rotateRight =
        MakeAction(owner, "ActionRotateRight", "Rotate Right", "Hotkey", IconIndex::RotateRight, 2);
    made.rotate180 =
        MakeAction(owner, "ActionRotate180", "Rotate 180", "Hotkey", IconIndex::Rotate180, 3);
    // The turn an action makes travels with it as its code, not as a bare number.
    made.rotateLeft->setProperty(kTagProperty, QVariant::fromValue(rotate::RotationCode::Left));
    made.rotateRight->setProperty(kTagProperty, QVariant::fromValue(rotate::RotationCode::Right));
    made.rotate180->setProperty(kTagProperty, QVariant::fromValue(rotate::RotationCode::Half));
    made.displayExif =
        MakeAction(owner, "ActionDisplayExif", "Display EXIF", "Display EXIF", IconIndex::Exif, 0);
    made.remove = MakeAction(owner, "ActionDelete", "Delete", "Delete image", IconIndex::Delete, 0);
    made.remove->setShortcut(QKeySequence(Qt::CTRL | Qt::Key_Delete));
    SetActionHint(made.remove, ActionHint(made.remove));
    made.undo =
        MakeAction(owner, "ActionUndo", "Undo", "Undo the last turn", IconIndex::RotateLeft, 0);
    made.undo->setShortcut(QKeySequence(Qt::CTRL | Qt::Key_Z));
    made.redo =
        MakeAction(owner, "ActionRedo", "Redo", "Redo what was undone", IconIndex::RotateRight, 0);
    made.redo->setShortcuts(
        {QKeySequence(Qt::CTRL | Qt::SHIFT | Qt::Key_Z), QKeySequence(Qt::CTRL | Qt::Key_Y)});
    return made;
}

void SetCommandShortcuts(const CommandActions& actions) {
    // The keypad's Enter opens as the main Enter does.
    actions.open->setShortcuts({QKeySequence(Qt::Key_Return), QKeySequence(Qt::Key_Enter)});
    actions.rotateLeft->setShortcut(QKeySequence(Qt::Key_L));
    actions.rotateRight->setShortcut(QKeySequence(Qt::Key_R));
    actions.rotate180->setShortcut(QKeySequence(Qt::Key_H));
    actions.displayExif->setShortcut(QKeySequence(Qt::Key_E));
    for (QAction* action : {actions.open, actions.rotateLeft, actions.rotateRight,
                            actions.rotate180, actions.displayExif})
        SetActionHint(action, ActionHint(action)); // the tooltips now name the shortcuts
}

ToolButtons MakeToolBar(QMainWindow* window, const CommandActions& actions) {
    auto* bar = new QToolBar(window);
    bar->setObjectName("ToolBar");
    bar->setMovable(false);
    bar->setFloatable(false);
    bar->setFixedHeight(52);
    bar->setIconSize(QSize(24, 24));
    bar->toggleViewAction()->setVisible(false);
    window->addToolBar(Qt::TopToolBarArea, bar);
    window->setContextMenuPolicy(Qt::NoContextMenu);

    ToolButtons made{bar, nullptr, nullptr, nullptr};
    made.favorites = MakeMenuButton(bar, "tbFavorites", "Favorites", IconIndex::Favorites);
    made.automatic = MakeMenuButton(bar, "tbAuto", "Automatic", IconIndex::Automatic);
    const std::pair<const char*, QAction*> bound[] = {
        {"tbViewImage", actions.open},          {"tbRotateLeft", actions.rotateLeft},
        {"tbRotateRight", actions.rotateRight}, {"tbRotate180", actions.rotate180},
        {"ToolButton2", actions.remove},        {"tbExif", actions.displayExif}};
    for (const auto& [name, action] : bound)
        MakeToolButton(bar, name)->setDefaultAction(action);
    made.options = MakeMenuButton(bar, "tbOptions", "Options", IconIndex::Options);
    return made;
}

QMenu* MakePopupMenu(QWidget* owner, const CommandActions& actions,
                     const std::function<void()>& update) {
    auto* menu = new QMenu(owner);
    menu->setObjectName("PopupMenu");
    QAction* pmiName = MenuItemFor(menu, "pmiName", actions.open);
    QFont bold = pmiName->font();
    bold.setBold(true);
    pmiName->setFont(bold);
    MenuItemFor(menu, "pmiRotateLeft", actions.rotateLeft);
    MenuItemFor(menu, "pmiRotateRight", actions.rotateRight);
    MenuItemFor(menu, "pmiRotate180", actions.rotate180);
    MenuItemFor(menu, "pmiDisplayExif", actions.displayExif);
    MenuItemFor(menu, "pmiDelete", actions.remove);
    menu->addSeparator();
    MenuItemFor(menu, "pmiUndo", actions.undo);
    if (actions.redo) MenuItemFor(menu, "pmiRedo", actions.redo);
    QObject::connect(menu, &QMenu::aboutToShow, owner, [menu, pmiName, update] {
        update();
        RefreshMenuCaptions(menu, pmiName);
    });
    return menu;
}

OptionsMenu MakeOptionsMenu(QWidget* owner, QToolButton* button) {
    OptionsMenu made{};
    QMenu* menu = made.menu = new QMenu(owner);
    menu->setObjectName("pmOptions");
    const auto item = [menu](const char* name, const QString& caption, bool checkable) {
        auto* action = menu->addAction(caption);
        action->setObjectName(name);
        action->setCheckable(checkable);
        return action;
    };
    made.refresh = item("pmiRefresh", "Refresh", false);
    made.refresh->setShortcut(QKeySequence(Qt::Key_F5));
    owner->addAction(made.refresh); // F5 works while the menu is closed
    made.thumbsInRow = item("pmiThumbsInRow", "Thumbnails in Row ...", false);
    made.enlargeSmall = item("pmiEnlargeSmall", "Enlarge Small Images", true);
    made.keepTimestamp = item("pmiKeepTimestamp", "Keep File Timestamp", true);
    made.deleteConfirm = item("pmiDeleteConfirm", "Display delete confirmation dialog", true);
    menu->addSeparator()->setObjectName("N1");
    made.website = item("pmiWebsite", "Web-Site", false);
    made.about = item("pmiAbout", "About", false);
    menu->addSeparator()->setObjectName("pmiSeparator");
    made.hiQuality = item("pmiHiQuality", "High Thumbnail Quality (slower)", true);
    made.lowQuality = item("pmiLowQuality", "Low Thumbnail Quality (faster)", true);
    made.quality = new QActionGroup(owner);
    made.quality->setObjectName("QualityGroup");
    made.quality->addAction(made.hiQuality);
    made.quality->addAction(made.lowQuality);
    made.hiQuality->setChecked(true);
    menu->addSeparator()->setObjectName("N2");
    made.language = new QActionGroup(owner);
    made.language->setObjectName("LanguageGroup");
    for (QAction* a : {made.enlargeSmall, made.keepTimestamp, made.deleteConfirm})
        a->setChecked(true);
    QObject::connect(menu, &QMenu::aboutToShow, owner,
                     [menu] { RefreshMenuCaptions(menu, nullptr); });
    button->setMenu(menu);
    button->setPopupMode(QToolButton::InstantPopup);
    return made;
}

void AddUndoItems(QMenu* options, const CommandActions& actions,
                  const std::function<void()>& update) {
    QAction* first = options->actions().value(0);
    QMenu scratch; // MenuItemFor appends; the items move to the top of the Options menu
    const QList<QAction*> items = {MenuItemFor(&scratch, "pmiOptionsUndo", actions.undo),
                                   MenuItemFor(&scratch, "pmiOptionsRedo", actions.redo)};
    for (QAction* item : items) {
        item->setParent(options);
        options->insertAction(first, item);
    }
    options->insertSeparator(first)->setObjectName("N0");
    QObject::connect(options, &QMenu::aboutToShow, options, [options, update] {
        update();
        RefreshMenuCaptions(options, nullptr);
    });
}

namespace {

void AddQuietKeysOf(QWidget* window, QAction* command, const std::function<void()>& run) {
    auto* keys = new QAction(window);
    keys->setObjectName(command->objectName() + "Quiet");
    keys->setShortcuts(command->shortcuts());
    keys->setEnabled(!command->isEnabled());
    window->addAction(keys);
    // Never both enabled, so that a key is never ambiguous.
    QObject::connect(command, &QAction::enabledChanged, keys,
                     [keys](bool enabled) { keys->setEnabled(!enabled); });
    QObject::connect(keys, &QAction::triggered, window, [run] { RunGuarded(run); });
}

} // namespace

void AddQuietKeys(QWidget* window, const CommandActions& actions,
                  const std::function<void(bool redo)>& takeBack) {
    AddQuietKeysOf(window, actions.undo, [takeBack] { takeBack(false); });
    AddQuietKeysOf(window, actions.redo, [takeBack] { takeBack(true); });
}

bool IsFolder(const QString& path) {
    return !path.isEmpty() && QFileInfo(path).isDir();
}

QMenu* MakeFavoritesMenu(QWidget* owner, QToolButton* button) {
    auto* menu = new QMenu(owner);
    menu->setObjectName("pmMru");
    button->setMenu(menu);
    button->setPopupMode(QToolButton::InstantPopup);
    return menu;
}

QAction* MakeQuitAction(QWidget* window) {
    auto* quit = new QAction(window);
    quit->setObjectName("ActionQuit");
    quit->setShortcut(QKeySequence(Qt::CTRL | Qt::Key_Q));
    window->addAction(quit);
    // As the close button does: loops stop, the settings are kept.
    QObject::connect(quit, &QAction::triggered, window, &QWidget::close);
    return quit;
}

bool IsPlainCommandKey(const QKeyEvent& key) {
    return (key.modifiers() & ~Qt::KeypadModifier) == Qt::NoModifier &&
           (key.key() == Qt::Key_Return || key.key() == Qt::Key_Enter || key.key() == Qt::Key_L ||
            key.key() == Qt::Key_R || key.key() == Qt::Key_H || key.key() == Qt::Key_E);
}

QStringList WindowTranslationKeys() {
    QStringList keys;
    for (const char* key : kTranslationKeys)
        keys << QString::fromLatin1(key);
    return keys;
}

} // namespace ui
