// SPDX-License-Identifier: GPL-3.0-or-later
// What the main window remembers between runs.
#include "app/main_window.h"
#include "app/settings_store.h"
#include "lang/Lang.h"
#include "thumbs/draw_grid.h"

#include <QAction>
#include <QFileInfo>
#include <QGuiApplication>
#include <QLineEdit>
#include <QScreen>

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
QString Mru(int n) { return QStringLiteral("MRU%1").arg(n); }
} // namespace key

constexpr int kDefaultThumbsInRow = 5;
constexpr int kThumbsInRowOutOfRange = 3;

} // namespace

QString TFormTulvex::SettingsPath() const { return app::SettingsStore::DefaultPath(); }

void TFormTulvex::ReadSettings()
{
    app::SettingsStore store;
    store.load(SettingsPath());

    ApplySavedLanguage(store.readString(key::Language, QString()));
    pmiKeepTimestamp->setChecked(store.readBool(key::KeepTimestamp, true));
    pmiEnlargeSmall->setChecked(store.readBool(key::EnlargeSmall, true));
    pmiDeleteConfirm->setChecked(store.readBool(key::ConfirmDelete, true));
    int columns = store.readInteger(key::ThumbsInRow, kDefaultThumbsInRow);
    if (columns < 1 || columns > 20) columns = kThumbsInRowOutOfRange;
    DrawGrid->setColCount(columns);
    if (store.readBool(key::HighQuality, true))
        pmiHiQuality->setChecked(true);
    else
        pmiLowQuality->setChecked(true);
    const QString lastFolder = store.readString(key::LastFolder, QString());

    if (store.readBool(key::WinMax, false)) {
        setWindowState(windowState() | Qt::WindowMaximized);
    } else {
        // The outer size is kept; the minimum raises a smaller one before it centres.
        const QSize frameExtra = frameGeometry().size() - geometry().size();
        const int width = std::max(store.readInteger(key::WinWidth, 800), minimumWidth() + frameExtra.width());
        const int height = std::max(store.readInteger(key::WinHeight, 600), minimumHeight() + frameExtra.height());
        resize(width - frameExtra.width(), height - frameExtra.height());
        const QRect screen = QGuiApplication::primaryScreen() ? QGuiApplication::primaryScreen()->geometry() : QRect();
        const int top = store.readInteger(key::WinTop, screen.height() / 2 - height / 2);
        const int left = store.readInteger(key::WinLeft, screen.width() / 2 - width / 2);
        move(left, top); // kept as stored, even off the screen
    }

    FFolder = !lastFolder.isEmpty() && QFileInfo(lastFolder).isDir() ? lastFolder : GetDocumentsFolder();
    edPath->setText(FFolder);

    FFavorites.clear();
    for (int n = 0; n < kMaxFavorites; ++n)
        if (store.exists(key::Mru(n))) FFavorites << store.readString(key::Mru(n), QString());
    BuildFavoritesMenu();
}

void TFormTulvex::WriteSettings()
{
    // Read again so that values of other kinds and names are written back as they were.
    app::SettingsStore store;
    store.load(SettingsPath());

    store.writeBool(key::KeepTimestamp, pmiKeepTimestamp->isChecked());
    store.writeBool(key::EnlargeSmall, pmiEnlargeSmall->isChecked());
    const bool maximized = isMaximized();
    store.writeBool(key::WinMax, maximized);
    store.writeString(key::Language, FLang->LanguageFile());
    if (!maximized) {
        const QRect frame = frameGeometry();
        store.writeInteger(key::WinWidth, frame.width());
        store.writeInteger(key::WinHeight, frame.height());
        store.writeInteger(key::WinTop, frame.top());
        store.writeInteger(key::WinLeft, frame.left());
    }
    store.writeBool(key::ConfirmDelete, pmiDeleteConfirm->isChecked());
    store.writeBool(key::HighQuality, pmiHiQuality->isChecked());
    store.writeString(key::LastFolder, edPath->text());
    store.writeInteger(key::ThumbsInRow, DrawGrid->ColCount());
    for (int i = 0; i < FFavorites.size(); ++i) store.writeString(key::Mru(i), FFavorites[i]);
    store.save(SettingsPath()); // a store that cannot be written keeps the old file
}
