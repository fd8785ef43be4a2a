// SPDX-License-Identifier: GPL-3.0-or-later
// The language items of the options menu.
#include "collection/scan.h"
#include "ui/Lang.h"
#include "ui/main_window.h"
#include "ui/shell.h"

#include <QAction>
#include <QActionGroup>
#include <QCoreApplication>
#include <QDir>
#include <QFileInfo>
#include <QMenu>

#include "platform/log.h"

namespace {

// deutsch.lng gives Deutsch; pt.br.lng gives Pt.br.
QString LanguageCaption(const QString& fileName) {
    QString caption = fileName;
    const qsizetype dot = caption.lastIndexOf(u'.');
    if (dot >= 0) caption.truncate(dot);
    if (!caption.isEmpty() && caption[0] >= u'a' && caption[0] <= u'z')
        caption[0] = caption[0].toUpper();
    return caption;
}

} // namespace

QString TFormTulvex::LanguageFolder() const {
    return LanguageFolderOf(QCoreApplication::applicationDirPath());
}

QString TFormTulvex::LanguageFolderOf(const QString& programFolder) {
    // A build folder has them beside the program; an installed copy under its prefix.
    const QDir beside(programFolder);
    if (!beside.entryList({QStringLiteral("*.lng")}, QDir::Files | QDir::Hidden | QDir::System)
             .isEmpty())
        return programFolder;
    const QString shared = QDir::cleanPath(programFolder + QStringLiteral("/../share/tulvex/lang"));
    return QFileInfo(shared).isDir() ? shared : programFolder;
}

void TFormTulvex::BuildLanguageMenu() {
    const QString folder = LanguageFolder();
    const QStringList names = QDir(folder).entryList(
        {QStringLiteral("*.lng")}, QDir::Files | QDir::Hidden | QDir::System, QDir::Unsorted);
    for (const QString& name : names) {
        auto* item = new QAction(LanguageCaption(name), pmOptions);
        FLangFiles << folder + u'/' + name;
        item->setProperty(kTagProperty, int(FLangFiles.size() - 1));
        item->setCheckable(true);
        LanguageGroup->addAction(item);
        connect(item, &QAction::triggered, this,
                [this, item] { ui::RunGuarded([this, item] { LanguageItemClick(item); }); });
        pmOptions->addAction(item);
    }
    qCDebug(lcStart).noquote() << "language files in" << folder << ":"
                               << names.join(QStringLiteral(", "));
}

void TFormTulvex::FollowLanguageInToolkit() {
    if (!m_toolkitTranslation.Follow(FLang->LanguageFile()))
        qCWarning(lcStart).noquote()
            << "no translation of the toolkit's texts for" << FLang->LanguageFile() << "in"
            << ui::ToolkitTranslationsFolder();
}

void TFormTulvex::ApplySavedLanguage(const QString& saved) {
    if (!saved.isEmpty() && QFileInfo(saved).isFile()) {
        FLang->setLanguageFile(saved);
        FLang->ApplyTranslations();
        FollowLanguageInToolkit();
        for (int i = 0; i < FLangFiles.size(); ++i) {
            if (!collection::SamePath(FLangFiles[i], saved)) continue;
            for (QAction* item : LanguageGroup->actions())
                if (item->property(kTagProperty).toInt() == i) item->setChecked(true);
            break;
        }
        return;
    }
    for (QAction* item : LanguageGroup->actions())
        if (item->text() == QStringLiteral("English")) item->setChecked(true);
}

void TFormTulvex::LanguageItemClick(QAction* item) {
    const int index = item->property(kTagProperty).toInt();
    if (index < 0 || index >= FLangFiles.size()) return;
    FLang->setLanguageFile(FLangFiles[index]);
    FLang->ApplyTranslations();
    FollowLanguageInToolkit();
    if (!pmMru->actions().isEmpty()) pmMru->actions().first()->setText(Msg("Add Current Folder"));
    item->setChecked(true);
    SetStatusCount();
}
