// SPDX-License-Identifier: GPL-3.0-or-later
#include "ui/desktop_commands.h"

#include "collection/scan.h"
#include "ui/Lang.h"
#include "ui/language_room.h"
#include "ui/shell.h"
#include "ui/window_names.h"

#include <QPointer>
#include <QUrl>
#include <QWidget>

#ifndef TULVEX_VERSION
#define TULVEX_VERSION "0.0"
#endif

namespace ui {

namespace {

const QString kNothingOpens =
    QStringLiteral("Cannot open \"%s\": no program on this computer could open it.");

// Hands `url` to the desktop and says `failure` over `window` if nothing opened it; by then the
// window may be gone.
void OpenOrSay(QWidget* window, const QUrl& url, const QString& failure) {
    Shell::current().openUrl(url, [window = QPointer<QWidget>(window), failure](bool opened) {
        if (opened || !window) return;
        Shell::current().message(window, QString(), failure, Shell::Icon::Warning);
    });
}

} // namespace

void OpenPhoto(QWidget* window, const QString& path, const LanguageRoom& language) {
    OpenOrSay(window, QUrl::fromLocalFile(path),
              FormatMessage(language.Msg(kNothingOpens), {collection::FileNameOf(path)}));
}

void OpenWebSite(QWidget* window, const LanguageRoom& language) {
    OpenOrSay(window, QUrl(kWebSite), FormatMessage(language.Msg(kNothingOpens), {kWebSite}));
}

void ShowAbout(QWidget* window, const LanguageRoom& language) {
    const auto Msg = [&language](const QString& key) { return language.Msg(key); };
    const QString text = kTitle + u'\n' + Msg("Version") + u' ' + QStringLiteral(TULVEX_VERSION) +
                         u'\n' +
                         Msg("Free software under the GNU General Public License, version 3 or "
                             "later (see the file LICENSE).");
    Shell::current().message(window, Msg("About"), text, Shell::Icon::Information);
}

} // namespace ui
