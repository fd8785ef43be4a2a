// SPDX-License-Identifier: GPL-3.0-or-later
#include "ui/desktop_start.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QLocale>
#include <QStandardPaths>

namespace ui {

namespace {

// user-dirs.dirs is a few lines; a larger file is not one the desktop wrote.
constexpr qint64 kMaxUserDirsBytes = 64 * 1024;

bool IsFolder(const QString& path) {
    return !path.isEmpty() && QFileInfo(path).isDir();
}

// The shell quoting xdg-user-dirs writes: "..." with \ before " \ $ and `.
QString Unquoted(const QString& value) {
    if (value.size() < 2 || !value.startsWith(u'"') || !value.endsWith(u'"')) return {};
    QString out;
    const QString inner = value.mid(1, value.size() - 2);
    for (qsizetype i = 0; i < inner.size(); ++i) {
        if (inner[i] == u'\\' && i + 1 < inner.size()) ++i;
        out += inner[i];
    }
    return out;
}

QString LanguageCode(QString locale) {
    for (const QChar stop : {u'.', u'@', u'_', u'-'})
        if (const qsizetype at = locale.indexOf(stop); at >= 0) locale.truncate(at);
    return locale.toLower();
}

} // namespace

QString UserDirFromText(const QByteArray& text, const QString& name, const QString& home) {
    const QString key = QStringLiteral("XDG_%1_DIR=").arg(name);
    QString found;
    for (const QString& raw : QString::fromUtf8(text).split(u'\n')) {
        const QString line = raw.trimmed();
        if (line.startsWith(key)) found = Unquoted(line.mid(key.size()).trimmed()); // last wins
    }
    if (found.startsWith(QStringLiteral("$HOME/")))
        found = home + found.mid(5);
    else if (!found.startsWith(u'/'))
        return {};
    found = QDir::cleanPath(found);
    return found == QDir::cleanPath(home) ? QString() : found;
}

QString PicturesFolder() {
    QString config = qEnvironmentVariable("XDG_CONFIG_HOME");
    if (config.isEmpty()) config = QDir::homePath() + QStringLiteral("/.config");
    QFile file(config + QStringLiteral("/user-dirs.dirs"));
    if (file.open(QIODevice::ReadOnly) && file.size() <= kMaxUserDirsBytes) {
        const QString named =
            UserDirFromText(file.read(kMaxUserDirsBytes), "PICTURES", QDir::homePath());
        if (IsFolder(named)) return named;
    }
    const QString toolkit = QStandardPaths::writableLocation(QStandardPaths::PicturesLocation);
    return IsFolder(toolkit) && QDir::cleanPath(toolkit) != QDir::cleanPath(QDir::homePath())
               ? toolkit
               : QString();
}

QStringList DesktopLanguages() {
    QString locale;
    for (const char* name : {"LC_ALL", "LC_MESSAGES", "LANG"}) {
        locale = qEnvironmentVariable(name);
        if (!locale.isEmpty()) break;
    }
    QStringList codes;
    const bool plain = locale == QStringLiteral("C") || locale.startsWith(QStringLiteral("C.")) ||
                       locale == QStringLiteral("POSIX");
    if (!plain)
        for (const QString& wanted :
             qEnvironmentVariable("LANGUAGE").split(u':', Qt::SkipEmptyParts))
            codes << LanguageCode(wanted);
    if (!locale.isEmpty() && !plain) codes << LanguageCode(locale);
    codes.removeDuplicates();
    return codes;
}

QString LanguageFileFor(const QStringList& languages, const QStringList& files) {
    for (const QString& code : languages) {
        const QLocale locale(code);
        if (code.isEmpty() || locale.language() == QLocale::C) continue;
        // The native name may name the country too ("español de España").
        const QString native = locale.nativeLanguageName();
        const QStringList names{native, native.section(u' ', 0, 0),
                                QLocale::languageToString(locale.language())};
        for (const QString& file : files) {
            const QString base = QFileInfo(file).completeBaseName();
            for (const QString& name : names)
                if (base.compare(name, Qt::CaseInsensitive) == 0) return file;
        }
    }
    return {};
}

} // namespace ui
