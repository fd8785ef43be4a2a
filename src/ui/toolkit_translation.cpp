// SPDX-License-Identifier: GPL-3.0-or-later
#include "ui/toolkit_translation.h"

#include <QCoreApplication>
#include <QFileInfo>
#include <QLibraryInfo>

#include <array>
#include <utility>

namespace ui {
namespace {

// The language files that come with Tulvex, by their name without ".lng".
constexpr std::array<std::pair<const char*, const char*>, 4> kToolkitLocales{{
    {"English", ""},
    {"Deutsch", "de"},
    {"Español", "es"},
    {"Français", "fr"},
}};

} // namespace

QString ToolkitLocaleOf(const QString& languageFile) {
    const QString name = QFileInfo(languageFile).completeBaseName();
    for (const auto& [language, locale] : kToolkitLocales)
        if (name.compare(QString::fromUtf8(language), Qt::CaseInsensitive) == 0)
            return QString::fromLatin1(locale);
    return {};
}

QString ToolkitTranslationsFolder() {
    return QLibraryInfo::path(QLibraryInfo::TranslationsPath);
}

ToolkitTranslation::~ToolkitTranslation() {
    Remove();
}

void ToolkitTranslation::Remove() {
    if (m_translator) QCoreApplication::removeTranslator(m_translator.get());
    m_translator.reset();
    m_locale.clear();
}

bool ToolkitTranslation::Follow(const QString& languageFile) {
    const QString locale = ToolkitLocaleOf(languageFile);
    if (m_translator && locale == m_locale) return true;
    Remove();
    if (locale.isEmpty()) return true;
    auto translator = std::make_unique<QTranslator>();
    if (!translator->load(QStringLiteral("qtbase_") + locale, ToolkitTranslationsFolder()))
        return false;
    QCoreApplication::installTranslator(translator.get());
    m_translator = std::move(translator);
    m_locale = locale;
    return true;
}

} // namespace ui
