// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include <QStringList>

#include <functional>

class QAction;
class QActionGroup;
class QKeyEvent;
class QCheckBox;
class QLabel;
class QLineEdit;
class QMainWindow;
class QMenu;
class QObject;
class QPushButton;
class QToolBar;
class QToolButton;
class QWidget;

// The controls of the main window as its design lays them out, each named after the member
// that holds it. The window wires them to its handlers.
namespace ui {

struct PathPanel {
    QWidget* panel;
    QLineEdit* path;
    QPushButton* browse;
    QCheckBox* subFolders;
};
PathPanel MakePathPanel(QWidget* parent);

struct StatusPanels {
    QLabel* left;
    QLabel* right;
};
StatusPanels MakeStatusBar(QMainWindow* window);

struct CommandActions {
    QAction* open;
    QAction* rotateLeft;
    QAction* rotateRight;
    QAction* rotate180;
    QAction* displayExif;
    QAction* remove;
    QAction* undo;
    QAction* redo = nullptr;
};
CommandActions MakeCommandActions(QObject* owner);
// The design's shortcuts, named in the tooltips.
void SetCommandShortcuts(const CommandActions& actions);

struct ToolButtons {
    QToolBar* bar;
    QToolButton* favorites;
    QToolButton* automatic;
    QToolButton* options;
};
ToolButtons MakeToolBar(QMainWindow* window, const CommandActions& actions);

// The grid's context menu: items standing for the commands, brought up to date by `update`
// before it shows.
QMenu* MakePopupMenu(QWidget* owner, const CommandActions& actions,
                     const std::function<void()>& update);

struct OptionsMenu {
    QMenu* menu;
    QAction* refresh;
    QAction* thumbsInRow;
    QAction* enlargeSmall;
    QAction* keepTimestamp;
    QAction* deleteConfirm;
    QAction* website;
    QAction* about;
    QAction* hiQuality;
    QAction* lowQuality;
    QActionGroup* quality;
    QActionGroup* language;
};
OptionsMenu MakeOptionsMenu(QWidget* owner, QToolButton* button);
// Undo and Redo at the top of the Options menu, brought up to date by `update` before it shows.
void AddUndoItems(QMenu* options, const CommandActions& actions,
                  const std::function<void()>& update);
// The keys of Undo and Redo while they are disabled (nothing to take back): `takeBack` is run
// all the same, to say so where the disabled command would be silent.
void AddQuietKeys(QWidget* window, const CommandActions& actions,
                  const std::function<void(bool redo)>& takeBack);
// A folder that is there, never the empty path.
bool IsFolder(const QString& path);
QMenu* MakeFavoritesMenu(QWidget* owner, QToolButton* button);

// Ctrl+Q closes `window` as its close button does.
QAction* MakeQuitAction(QWidget* window);

// While the path box has the focus, the keys of the plain-key commands are typing.
bool IsPlainCommandKey(const QKeyEvent& key);

// The translatable properties of the main window, in the order they are applied.
QStringList WindowTranslationKeys();

} // namespace ui
