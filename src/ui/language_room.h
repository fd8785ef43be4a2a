// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include "ui/toolkit_translation.h"

#include <QObject>
#include <QString>
#include <QStringList>

class QAction;
class QActionGroup;
class QMenu;
class TLanguage;

namespace ui {

// The window's language: the translator of its captions and messages, the language files
// offered in the options menu and the toolkit's own texts in the same language.
class LanguageRoom : public QObject {
    Q_OBJECT
public:
    // `window` is the top-level widget whose captions the language files name.
    explicit LanguageRoom(QObject* window);

    // Beside the program when language files lie there, else PREFIX/share/tulvex/lang.
    static QString FolderOf(const QString& programFolder);
    QString Folder() const;

    // One checkable item per language file at the end of `menu`, in `group`.
    void BuildMenu(QMenu* menu, QActionGroup* group);
    // The language of the settings, or English when it names no file.
    void ApplySaved(const QString& saved, QActionGroup* group);
    // The item's language is taken and the window told by `changed`.
    void Choose(QAction* item);

    QString Msg(const QString& key) const;
    QString LanguageFile() const;
    TLanguage* translator() const { return m_lang; }
    const QStringList& files() const { return m_files; }

signals:
    // Another language file is in use: texts the window built itself follow it.
    void changed();

private:
    void Take(const QString& file);

    TLanguage* m_lang; // owned as a child
    QStringList m_files;
    // The toolkit's own texts (standard buttons, file dialogs) in the chosen language.
    ToolkitTranslation m_toolkitTranslation;
};

} // namespace ui
