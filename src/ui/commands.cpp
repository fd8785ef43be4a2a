// SPDX-License-Identifier: GPL-3.0-or-later
// The commands of the main window: actions, tool bar, menus, enabling and the file commands.
#include "collection/scan.h"
#include "session/delete_photos.h"
#include "session/messages.h"
#include "ui/Lang.h"
#include "ui/draw_grid.h"
#include "ui/icons.h"
#include "ui/main_window.h"
#include "ui/shell.h"
#include "ui/thumbs_per_row_dialog.h"

#include <QAction>
#include <QActionGroup>
#include <QFile>
#include <QFileInfo>
#include <QMenu>
#include <QPointer>
#include <QSet>
#include <QToolBar>
#include <QToolButton>
#include <QUrl>

#include "platform/trash.h"

#ifndef TULVEX_VERSION
#define TULVEX_VERSION "0.0"
#endif

namespace {

constexpr const char* kCommandProperty = "tulvexCommand";

const QString kNothingOpens =
    QStringLiteral("Cannot open \"%s\": no program on this computer could open it.");

// Hands `url` to the desktop and says `failure` over `window` if nothing opened it; by then the
// window may be gone.
void OpenOrSay(QWidget* window, const QUrl& url, const QString& failure) {
    ui::Shell::current().openUrl(url, [window = QPointer<QWidget>(window), failure](bool opened) {
        if (opened || !window) return;
        ui::Shell::current().message(window, QString(), failure, ui::Shell::Icon::Warning);
    });
}

QAction* MakeAction(QObject* owner, const char* name, const QString& caption, const QString& hint,
                    ui::IconIndex icon, int tag) {
    auto* action = new QAction(ui::ToolIcon(icon), caption, owner);
    action->setObjectName(name);
    action->setProperty(TFormTulvex::kTagProperty, tag);
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

QString ShortcutName(const QAction* action) {
    QString name = action->shortcut().toString(QKeySequence::PortableText);
    return name.replace(QStringLiteral("Return"), QStringLiteral("Enter"));
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
            const QString shortcut = ShortcutName(command);
            const QString caption = item == defaultItem ? WithoutAccelerator(command->text())
                                                        : WithAccelerator(command->text(), used);
            item->setText(shortcut.isEmpty() ? caption : caption + u'\t' + shortcut);
            item->setEnabled(command->isEnabled());
        } else {
            item->setText(WithAccelerator(item->text(), used));
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

} // namespace

void TFormTulvex::CreateActions() {
    using ui::IconIndex;
    ActionOpen = MakeAction(this, "ActionOpen", "View Image", "Hotkey", IconIndex::ViewImage, 0);
    ActionRotateLeft =
        MakeAction(this, "ActionRotateLeft", "Rotate Left", "Hotkey", IconIndex::RotateLeft, 1);
    ActionRotateRight =
        MakeAction(this, "ActionRotateRight", "Rotate Right", "Hotkey", IconIndex::RotateRight, 2);
    ActionRotate180 =
        MakeAction(this, "ActionRotate180", "Rotate 180", "Hotkey", IconIndex::Rotate180, 3);
    // The turn an action makes travels with it as its code, not as a bare number.
    ActionRotateLeft->setProperty(kTagProperty, QVariant::fromValue(rotate::RotationCode::Left));
    ActionRotateRight->setProperty(kTagProperty, QVariant::fromValue(rotate::RotationCode::Right));
    ActionRotate180->setProperty(kTagProperty, QVariant::fromValue(rotate::RotationCode::Half));
    ActionDisplayExif =
        MakeAction(this, "ActionDisplayExif", "Display EXIF", "Display EXIF", IconIndex::Exif, 0);
    ActionDelete = MakeAction(this, "ActionDelete", "Delete", "Delete image", IconIndex::Delete, 0);
    ActionDelete->setShortcut(QKeySequence(Qt::CTRL | Qt::Key_Delete));
    SetActionHint(ActionDelete, ActionHint(ActionDelete));
    ActionUndo =
        MakeAction(this, "ActionUndo", "Undo", "Undo the last turn", ui::IconIndex::RotateLeft, 0);
    ActionUndo->setShortcut(QKeySequence::Undo);

    const auto bind = [this](QAction* action, auto handler, bool detachable) {
        addAction(action); // shortcuts work anywhere in the window
        connect(action, &QAction::triggered, this, [this, action, handler, detachable] {
            // Detached while the path box has the focus: invoking does nothing.
            if (detachable && !m_handlersAttached) return;
            if (!EnabledAfterUpdate(action)) return;
            ui::RunGuarded([this, handler] { handler(); });
        });
    };
    bind(
        ActionOpen, [this] { ActionOpenExecute(); }, true);
    bind(
        ActionRotateLeft, [this] { ActionRotate(ActionRotateLeft); }, true);
    bind(
        ActionRotateRight, [this] { ActionRotate(ActionRotateRight); }, true);
    bind(
        ActionRotate180, [this] { ActionRotate(ActionRotate180); }, true);
    bind(
        ActionDisplayExif, [this] { ActionDisplayExifExecute(); }, true);
    bind(
        ActionDelete, [this] { ActionDeleteExecute(); }, false);
    bind(
        ActionUndo, [this] { ActionUndoExecute(); }, true);
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
    set(ActionUndo, changesAllowed && CanUndo());
    set(tbAuto, changesAllowed);
    set(pmiThumbsInRow, changesAllowed);
}

void TFormTulvex::CreateToolBar() {
    ToolBar = new QToolBar(this);
    ToolBar->setObjectName("ToolBar");
    ToolBar->setMovable(false);
    ToolBar->setFloatable(false);
    ToolBar->setFixedHeight(52);
    ToolBar->setIconSize(QSize(24, 24));
    ToolBar->toggleViewAction()->setVisible(false);
    addToolBar(Qt::TopToolBarArea, ToolBar);
    setContextMenuPolicy(Qt::NoContextMenu);

    tbFavorites = MakeToolButton(ToolBar, "tbFavorites");
    tbFavorites->setText("Favorites");
    tbFavorites->setIcon(ui::ToolIcon(ui::IconIndex::Favorites));
    tbAuto = MakeToolButton(ToolBar, "tbAuto");
    tbAuto->setText("Automatic");
    tbAuto->setIcon(ui::ToolIcon(ui::IconIndex::Automatic));
    connect(tbAuto, &QToolButton::clicked, this,
            [this] { ui::RunGuarded([this] { tbAutoClick(); }); });
    const std::pair<const char*, QAction*> bound[] = {
        {"tbViewImage", ActionOpen},          {"tbRotateLeft", ActionRotateLeft},
        {"tbRotateRight", ActionRotateRight}, {"tbRotate180", ActionRotate180},
        {"ToolButton2", ActionDelete},        {"tbExif", ActionDisplayExif}};
    for (const auto& [name, action] : bound)
        MakeToolButton(ToolBar, name)->setDefaultAction(action);
    tbOptions = MakeToolButton(ToolBar, "tbOptions");
    tbOptions->setText("Options");
    tbOptions->setIcon(ui::ToolIcon(ui::IconIndex::Options));
}

void TFormTulvex::CreateMenus() {
    PopupMenu = new QMenu(this);
    PopupMenu->setObjectName("PopupMenu");
    QAction* pmiName = MenuItemFor(PopupMenu, "pmiName", ActionOpen);
    QFont bold = pmiName->font();
    bold.setBold(true);
    pmiName->setFont(bold);
    MenuItemFor(PopupMenu, "pmiRotateLeft", ActionRotateLeft);
    MenuItemFor(PopupMenu, "pmiRotateRight", ActionRotateRight);
    MenuItemFor(PopupMenu, "pmiRotate180", ActionRotate180);
    MenuItemFor(PopupMenu, "pmiDisplayExif", ActionDisplayExif);
    MenuItemFor(PopupMenu, "pmiDelete", ActionDelete);
    PopupMenu->addSeparator();
    MenuItemFor(PopupMenu, "pmiUndo", ActionUndo);
    connect(PopupMenu, &QMenu::aboutToShow, this, [this, pmiName] {
        UpdateActions();
        RefreshMenuCaptions(PopupMenu, pmiName);
    });
    DrawGrid->PopupMenu = PopupMenu;

    pmOptions = new QMenu(this);
    pmOptions->setObjectName("pmOptions");
    const auto item = [this](const char* name, const QString& caption, bool checkable) {
        auto* action = pmOptions->addAction(caption);
        action->setObjectName(name);
        action->setCheckable(checkable);
        return action;
    };
    pmiRefresh = item("pmiRefresh", "Refresh", false);
    pmiThumbsInRow = item("pmiThumbsInRow", "Thumbnails in Row ...", false);
    pmiEnlargeSmall = item("pmiEnlargeSmall", "Enlarge Small Images", true);
    pmiKeepTimestamp = item("pmiKeepTimestamp", "Keep File Timestamp", true);
    pmiDeleteConfirm = item("pmiDeleteConfirm", "Display delete confirmation dialog", true);
    pmOptions->addSeparator()->setObjectName("N1");
    pmiWebsite = item("pmiWebsite", "Web-Site", false);
    pmiAbout = item("pmiAbout", "About", false);
    pmOptions->addSeparator()->setObjectName("pmiSeparator");
    pmiHiQuality = item("pmiHiQuality", "High Thumbnail Quality (slower)", true);
    pmiLowQuality = item("pmiLowQuality", "Low Thumbnail Quality (faster)", true);
    QualityGroup = new QActionGroup(this);
    QualityGroup->setObjectName("QualityGroup");
    QualityGroup->addAction(pmiHiQuality);
    QualityGroup->addAction(pmiLowQuality);
    pmiHiQuality->setChecked(true);
    pmOptions->addSeparator()->setObjectName("N2");
    LanguageGroup = new QActionGroup(this);
    LanguageGroup->setObjectName("LanguageGroup");
    for (QAction* a : {pmiEnlargeSmall, pmiKeepTimestamp, pmiDeleteConfirm})
        a->setChecked(true);
    connect(pmOptions, &QMenu::aboutToShow, this,
            [this] { RefreshMenuCaptions(pmOptions, nullptr); });

    const auto guarded = [this](QAction* action, auto handler) {
        connect(action, &QAction::triggered, this, [handler] { ui::RunGuarded(handler); });
    };
    guarded(pmiRefresh, [this] { pmiRefreshClick(); });
    guarded(pmiThumbsInRow, [this] { pmiThumbsInRowClick(); });
    guarded(pmiWebsite, [this] { pmiWebsiteClick(); });
    guarded(pmiAbout, [this] { pmiAboutClick(); });
    tbOptions->setMenu(pmOptions);
    tbOptions->setPopupMode(QToolButton::InstantPopup);

    pmMru = new QMenu(this);
    pmMru->setObjectName("pmMru");
    tbFavorites->setMenu(pmMru);
    tbFavorites->setPopupMode(QToolButton::InstantPopup);
}

void TFormTulvex::ActionDeleteExecute() {
    if (InLongLoop()) return;
    const TDrawGrid::GridRect sel = DrawGrid->Selection();
    QStringList selected;
    for (int r = sel.top; r <= sel.bottom; ++r)
        for (int c = sel.left; c <= sel.right; ++c) {
            DrawGridSelectCell(c, r);
            if (!FSelectedFile.isEmpty()) selected << FSelectedFile;
        }
    session::DeleteConfirmation confirm;
    if (pmiDeleteConfirm->isChecked())
        confirm = [this](int count) {
            return ui::Shell::current().askYesNo(
                this, kTitle,
                FormatMessage(Msg("Do you want to move %u file(s) to the trash?"),
                              {QString::number(count)}));
        };
    QStringList failures;
    for (const session::DeleteOutcome& outcome :
         session::DeletePhotos(selected, confirm, {&FThumbList, &FAutoList}, platform::MoveToTrash))
        if (outcome.kind == session::DeleteOutcome::Kind::Failed)
            failures << session::Render(
                session::TrashFailed(
                    collection::FileNameOf(outcome.path).toLocal8Bit().toStdString(),
                    outcome.result),
                [this](const QString& english) { return Msg(english); });
    if (!failures.isEmpty())
        ui::Shell::current().message(this, QString(), failures.join(u'\n'),
                                     ui::Shell::Icon::Warning);
    AddThumbRows();
    RepaintGrid();
}

void TFormTulvex::ActionOpenExecute() {
    if (QFileInfo::exists(FSelectedFile))
        OpenOrSay(this, QUrl::fromLocalFile(FSelectedFile),
                  FormatMessage(Msg(kNothingOpens), {collection::FileNameOf(FSelectedFile)}));
    else
        ShowMissingFile(FSelectedFile);
}

void TFormTulvex::pmiWebsiteClick() {
    OpenOrSay(this, QUrl(kWebSite), FormatMessage(Msg(kNothingOpens), {kWebSite}));
}

void TFormTulvex::pmiAboutClick() {
    const QString text = kTitle + u'\n' + Msg("Version") + u' ' + QStringLiteral(TULVEX_VERSION) +
                         u'\n' +
                         Msg("Free software under the GNU General Public License, version 3 or "
                             "later (see the file LICENSE).");
    ui::Shell::current().message(this, Msg("About"), text, ui::Shell::Icon::Information);
}

void TFormTulvex::pmiThumbsInRowClick() {
    if (InLongLoop()) return;
    TThumbForm form(this, FLang->LanguageFile());
    form.udQty->setPosition(DrawGrid->ColCount());
    if (form.exec() != QDialog::Accepted) return;
    DrawGrid->setColCount(form.udQty->position());
    FormResize(this);
}
