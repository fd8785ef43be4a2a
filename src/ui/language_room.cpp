// SPDX-License-Identifier: GPL-3.0-or-later
#include "ui/language_room.h"

#include "collection/scan.h"
#include "ui/Lang.h"
#include "ui/shell.h"
#include "ui/window_names.h"

#include <QAction>
#include <QActionGroup>
#include <QCoreApplication>
#include <QDir>
#include <QFileInfo>
#include <QMenu>

#include "platform/log.h"

namespace ui {

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

LanguageRoom::LanguageRoom(QObject* window) : QObject(window), m_lang(new TLanguage(window)) {}

QString LanguageRoom::Folder() const {
    return FolderOf(QCoreApplication::applicationDirPath());
}

QString LanguageRoom::FolderOf(const QString& programFolder) {
    // A build folder has them beside the program; an installed copy under its prefix.
    const QDir beside(programFolder);
    if (!beside.entryList({QStringLiteral("*.lng")}, QDir::Files | QDir::Hidden | QDir::System)
             .isEmpty())
        return programFolder;
    const QString shared = QDir::cleanPath(programFolder + QStringLiteral("/../share/tulvex/lang"));
    return QFileInfo(shared).isDir() ? shared : programFolder;
}

void LanguageRoom::BuildMenu(QMenu* menu, QActionGroup* group) {
    const QString folder = Folder();
    const QStringList names = QDir(folder).entryList(
        {QStringLiteral("*.lng")}, QDir::Files | QDir::Hidden | QDir::System, QDir::Unsorted);
    for (const QString& name : names) {
        auto* item = new QAction(LanguageCaption(name), menu);
        m_files << folder + u'/' + name;
        item->setProperty(kTagProperty, int(m_files.size() - 1));
        item->setCheckable(true);
        group->addAction(item);
        connect(item, &QAction::triggered, this,
                [this, item] { RunGuarded([this, item] { Choose(item); }); });
        menu->addAction(item);
    }
    qCDebug(lcStart).noquote() << "language files in" << folder << ":"
                               << names.join(QStringLiteral(", "));
}

void LanguageRoom::Take(const QString& file) {
    m_lang->setLanguageFile(file);
    // The toolkit's words first: the tooltips name their keys in them.
    if (!m_toolkitTranslation.Follow(m_lang->LanguageFile()))
        qCWarning(lcStart).noquote()
            << "no translation of the toolkit's texts for" << m_lang->LanguageFile() << "in"
            << ToolkitTranslationsFolder();
    m_lang->ApplyTranslations();
}

void LanguageRoom::ApplySaved(const QString& saved, QActionGroup* group) {
    if (!saved.isEmpty() && QFileInfo(saved).isFile()) {
        Take(saved);
        for (int i = 0; i < m_files.size(); ++i) {
            if (!collection::SamePath(m_files[i], saved)) continue;
            for (QAction* item : group->actions())
                if (item->property(kTagProperty).toInt() == i) item->setChecked(true);
            break;
        }
        return;
    }
    for (QAction* item : group->actions())
        if (item->text() == QStringLiteral("English")) item->setChecked(true);
}

void LanguageRoom::Choose(QAction* item) {
    const int index = item->property(kTagProperty).toInt();
    if (index < 0 || index >= m_files.size()) return;
    Take(m_files[index]);
    item->setChecked(true);
    emit changed();
}

QString LanguageRoom::Msg(const QString& key) const {
    return m_lang->LookupMessage(key);
}

QString LanguageRoom::LanguageFile() const {
    return m_lang->LanguageFile();
}

} // namespace ui
