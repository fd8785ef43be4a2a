// SPDX-License-Identifier: GPL-3.0-or-later
// Choosing the folder: the path box, Browse, Refresh, the subfolder box and the favorites.
#include "collection/scan.h"
#include "ui/Lang.h"
#include "ui/draw_grid.h"
#include "ui/main_window.h"
#include "ui/shell.h"

#include <QAction>
#include <QDir>
#include <QFileInfo>
#include <QFont>
#include <QLineEdit>
#include <QMenu>
#include <QStandardPaths>

#include <utility>

namespace {

bool IsFolder(const QString& path) {
    return !path.isEmpty() && QFileInfo(path).isDir();
}

} // namespace

void TFormTulvex::edPathEnter() {
    m_handlersAttached = false;
}

void TFormTulvex::edPathExit() {
    m_handlersAttached = true;
}

void TFormTulvex::edPathKeyDown(int key) {
    if ((key == Qt::Key_Return || key == Qt::Key_Enter) && IsFolder(edPath->text()))
        LoadFolder(edPath->text());
}

void TFormTulvex::btnBrowseClick() {
    const QString chosen = ui::Shell::current().browseForFolder(this, edPath->text());
    if (IsFolder(chosen)) LoadFolder(chosen);
}

void TFormTulvex::cbSubFoldersClick() {
    if (IsFolder(FFolder)) LoadFolder(FFolder);
}

void TFormTulvex::pmiRefreshClick() {
    if (IsFolder(FFolder)) LoadFolder(FFolder);
}

QString TFormTulvex::FavoriteCaption(const QString& path) {
    // A root ("/") is shown whole; an empty favorite keeps the empty caption.
    if (path.endsWith(u'/')) return path;
    return collection::FileNameOf(path);
}

void TFormTulvex::BuildFavoritesMenu() {
    for (QAction* old : pmMru->actions()) {
        pmMru->removeAction(old);
        delete old;
    }
    auto* add = new QAction(Msg("Add Current Folder"), pmMru);
    add->setObjectName("pmiAddCurrentFolder");
    QFont bold = add->font();
    bold.setBold(true);
    add->setFont(bold);
    connect(add, &QAction::triggered, this,
            [this] { ui::RunGuarded([this] { AddCurrentFolderClick(); }); });
    pmMru->addAction(add);
    for (int i = 0; i < FFavorites.size(); ++i) {
        auto* item = new QAction(FavoriteCaption(FFavorites[i]), pmMru);
        item->setProperty(kTagProperty, i);
        connect(item, &QAction::triggered, this,
                [this, item] { ui::RunGuarded([this, item] { FavoriteClick(item); }); });
        pmMru->addAction(item);
    }
}

void TFormTulvex::AddCurrentFolderClick() {
    if (!IsFolder(FFolder)) return;
    for (const QString& favorite : FFavorites)
        if (collection::SamePath(favorite, FFolder)) return;
    FFavorites.prepend(FFolder);
    while (FFavorites.size() > kMaxFavorites)
        FFavorites.removeLast();
    BuildFavoritesMenu();
}

void TFormTulvex::FavoriteClick(QAction* item) {
    const int index = item->property(kTagProperty).toInt();
    if (index < 0 || index >= FFavorites.size()) return;
    edPath->setText(FFavorites[index]);
    if (IsFolder(edPath->text())) {
        LoadFolder(edPath->text());
        return;
    }
    ShowMissingFolder(edPath->text());
}

void TFormTulvex::ShowMissingFolder(const QString& path) {
    ui::Shell::current().message(
        this, QString(),
        FormatMessage(Msg("Cannot open \"%s\". The file or folder has been moved or deleted."),
                      {path}),
        ui::Shell::Icon::Warning);
}

void TFormTulvex::ShowMissingFile(const QString& path) {
    ui::Shell::current().message(
        this, QString(),
        FormatMessage(Msg("Cannot open \"%s\". The file or folder has been moved or deleted."),
                      {collection::FileNameOf(path)}),
        ui::Shell::Icon::Warning);
}

QString TFormTulvex::StartFolder(const QString& lastFolder) {
    if (!m_startPath.isEmpty()) {
        const QFileInfo start(m_startPath);
        const QString absolute = QDir::cleanPath(start.absoluteFilePath());
        if (start.isDir()) return absolute;
        if (start.exists()) {
            // The cell of this photo is selected once its folder has loaded; the path is spelt
            // as the scan spells it so that the look-up is exact.
            const QString folder =
                collection::WithoutTrailingDelimiter(QDir::cleanPath(start.absolutePath()));
            m_startPhoto =
                (folder == QStringLiteral("/") ? folder : folder + u'/') + start.fileName();
            return folder;
        }
        ShowMissingFolder(m_startPath);
    }
    return IsFolder(lastFolder) ? lastFolder : GetDocumentsFolder();
}

void TFormTulvex::SelectStartPhoto() {
    const QString photo = std::exchange(m_startPhoto, QString());
    const int index = photo.isEmpty() ? -1 : IndexOfThumb(photo);
    if (index < 0) return;
    const int col = index % DrawGrid->ColCount();
    const int row = index / DrawGrid->ColCount();
    DrawGrid->setCurrentCell(col, row);
    DrawGridSelectCell(col, row);
}

QString TFormTulvex::GetDocumentsFolder() {
    const QString documents = QStandardPaths::writableLocation(QStandardPaths::DocumentsLocation);
    return IsFolder(documents) ? documents : QString();
}
