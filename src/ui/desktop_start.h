// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include <QByteArray>
#include <QString>
#include <QStringList>

// What a first start takes from the desktop: its Pictures folder and its language.
namespace ui {

// XDG_<name>_DIR of a user-dirs.dirs `text` as the desktop writes it ("$HOME/Bilder" or an
// absolute path); empty when missing, relative, or the home folder itself (switched off).
QString UserDirFromText(const QByteArray& text, const QString& name, const QString& home);
// The desktop's Pictures folder ($XDG_CONFIG_HOME/user-dirs.dirs, else the toolkit's idea of
// it) when it exists; else empty.
QString PicturesFolder();

// The language codes the desktop asks for, first choice first: LANGUAGE's list (unless the
// locale is C), then the locale of LC_ALL, LC_MESSAGES or LANG. "de_DE.UTF-8" gives "de".
QStringList DesktopLanguages();
// The file of `files` (language files, Deutsch.lng or German.lng) for the first of `languages`
// that has one; empty when none has.
QString LanguageFileFor(const QStringList& languages, const QStringList& files);

} // namespace ui
