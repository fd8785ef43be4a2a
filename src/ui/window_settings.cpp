// SPDX-License-Identifier: GPL-3.0-or-later
#include "ui/window_settings.h"

#include "session/settings_store.h"
#include "ui/placement.h"
#include "ui/window_names.h"

#include <algorithm>

namespace ui {

namespace {

namespace key {
const QString Language = QStringLiteral("Language");
const QString KeepTimestamp = QStringLiteral("KeepTimestamp");
const QString EnlargeSmall = QStringLiteral("EnlargeSmall");
const QString ConfirmDelete = QStringLiteral("ConfirmDelete");
const QString ThumbsInRow = QStringLiteral("ThumbsInRow");
const QString HighQuality = QStringLiteral("HighQuality");
const QString LastFolder = QStringLiteral("LastFolder");
const QString WinMax = QStringLiteral("WinMax");
const QString WinWidth = QStringLiteral("WinWidth");
const QString WinHeight = QStringLiteral("WinHeight");
const QString WinTop = QStringLiteral("WinTop");
const QString WinLeft = QStringLiteral("WinLeft");
QString Mru(int n) {
    return QStringLiteral("MRU%1").arg(n);
}
} // namespace key

constexpr int kDefaultThumbsInRow = 5;
constexpr int kThumbsInRowOutOfRange = 3;

QRect ReadOuter(const session::SettingsStore& store, QSize minimum) {
    // The minimum raises a smaller one before it centres.
    const int width = std::max(store.readInteger(key::WinWidth, minimum.width()), minimum.width());
    const int height =
        std::max(store.readInteger(key::WinHeight, minimum.height()), minimum.height());
    const QRect screen = PrimaryScreenArea();
    const int top = store.readInteger(key::WinTop, screen.top() + screen.height() / 2 - height / 2);
    const int left =
        store.readInteger(key::WinLeft, screen.left() + screen.width() / 2 - width / 2);
    return {left, top, width, height};
}

} // namespace

QString SettingsPath() {
    return session::SettingsStore::DefaultPath();
}

WindowSettings ReadWindowSettings(const QString& path, QSize minimum) {
    session::SettingsStore store;
    store.load(path);
    WindowSettings read;
    read.language = store.readString(key::Language, QString());
    read.keepTimestamp = store.readBool(key::KeepTimestamp, true);
    read.enlargeSmall = store.readBool(key::EnlargeSmall, true);
    read.confirmDelete = store.readBool(key::ConfirmDelete, true);
    read.thumbsInRow = store.readInteger(key::ThumbsInRow, kDefaultThumbsInRow);
    if (read.thumbsInRow < 1 || read.thumbsInRow > 20) read.thumbsInRow = kThumbsInRowOutOfRange;
    read.highQuality = store.readBool(key::HighQuality, true);
    read.lastFolder = store.readString(key::LastFolder, QString());
    read.maximized = store.readBool(key::WinMax, false);
    if (!read.maximized) read.outer = ReadOuter(store, minimum);
    for (int n = 0; n < kMaxFavorites; ++n)
        if (store.exists(key::Mru(n))) read.favorites << store.readString(key::Mru(n), QString());
    return read;
}

void WriteWindowSettings(const QString& path, const WindowSettings& settings) {
    // Read again so that values of other kinds and names are written back as they were.
    session::SettingsStore store;
    store.load(path);
    store.writeBool(key::KeepTimestamp, settings.keepTimestamp);
    store.writeBool(key::EnlargeSmall, settings.enlargeSmall);
    store.writeBool(key::WinMax, settings.maximized);
    store.writeString(key::Language, settings.language);
    if (!settings.maximized) {
        store.writeInteger(key::WinWidth, settings.outer.width());
        store.writeInteger(key::WinHeight, settings.outer.height());
        store.writeInteger(key::WinTop, settings.outer.top());
        store.writeInteger(key::WinLeft, settings.outer.left());
    }
    store.writeBool(key::ConfirmDelete, settings.confirmDelete);
    store.writeBool(key::HighQuality, settings.highQuality);
    store.writeString(key::LastFolder, settings.lastFolder);
    store.writeInteger(key::ThumbsInRow, settings.thumbsInRow);
    for (int i = 0; i < settings.favorites.size(); ++i)
        store.writeString(key::Mru(i), settings.favorites[i]);
    store.save(path); // a store that cannot be written keeps the old file
}

} // namespace ui
