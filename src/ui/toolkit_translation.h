// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include <QString>
#include <QTranslator>

#include <memory>

namespace ui {

// The locale of the toolkit's own texts (standard buttons, file dialogs, a line edit's menu)
// for a language file: "de" for Deutsch.lng, by the file's name, an explicit list. Empty for
// English, which needs none, and for a language without one.
QString ToolkitLocaleOf(const QString& languageFile);

// Where the toolkit's translations lie (Debian: /usr/share/qt6/translations).
QString ToolkitTranslationsFolder();

// The toolkit's translation installed in the application for the chosen language file, and
// removed again when another language is chosen or this object goes.
class ToolkitTranslation {
public:
    ToolkitTranslation() = default;
    ~ToolkitTranslation();
    ToolkitTranslation(const ToolkitTranslation&) = delete;
    ToolkitTranslation& operator=(const ToolkitTranslation&) = delete;

    // False when the language has a locale but its translation is not installed; the toolkit
    // then speaks English.
    bool Follow(const QString& languageFile);
    QString locale() const { return m_locale; }

private:
    void Remove();

    std::unique_ptr<QTranslator> m_translator;
    QString m_locale;
};

} // namespace ui
