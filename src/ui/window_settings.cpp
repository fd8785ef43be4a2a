// SPDX-License-Identifier: GPL-3.0-or-later
// What the main window remembers between runs.
#include "session/settings_store.h"
#include "ui/Lang.h"
#include "ui/draw_grid.h"
#include "ui/main_window.h"
#include "ui/placement.h"

#include <QAction>
#include <QFileInfo>
#include <QGuiApplication>
#include <QLineEdit>
#include <QScreen>
#include <QWindow>

#include <algorithm>

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
// How many times (every 25 ms) the window looks for a window manager's frame after it is shown:
// a slow window manager on a busy machine may take seconds.
constexpr int kFrameChecks = 400;
constexpr int kMaxFrame = 200; // pixels on one side; more is a frame still being built

QMargins FrameOf(const QWidget& window) {
    return window.windowHandle() ? window.windowHandle()->frameMargins() : QMargins();
}

bool MayHaveWindowManager() {
    const QString platform = QGuiApplication::platformName();
    return platform != QLatin1String("offscreen") && platform != QLatin1String("minimal");
}

QSize Without(QSize outer, const QMargins& frame) {
    return outer - QSize(frame.left() + frame.right(), frame.top() + frame.bottom());
}

} // namespace

void TFormTulvex::FitOuterGeometry() {
    const QMargins frame = FrameOf(*this);
    // A screen smaller than the minimum (a laptop at twice the density) lowers it: the whole
    // window must fit.
    const QRect area = ui::ScreenAreaOf(m_wantedOuter, ui::ScreenAreas(), ui::PrimaryScreenArea());
    setMinimumSize(
        Without(area.isEmpty() ? kMinimumOuter : kMinimumOuter.boundedTo(area.size()), frame));
    // Placed by its client area, with the frame as the window system reports it now: the
    // widget's own idea of its frame can lag behind.
    setGeometry(m_wantedOuter.marginsRemoved(frame));
}

QRect TFormTulvex::OuterGeometry() const {
    return geometry().marginsAdded(FrameOf(*this));
}

void TFormTulvex::CheckForFrame() {
    const bool gaveUp = ++m_frameChecks >= kFrameChecks;
    // While the window manager is still building its frame, the margins can come out
    // negative or huge: only a plausible frame seen twice in a row counts.
    const QMargins frame = FrameOf(*this);
    const bool plausible =
        !frame.isNull() &&
        std::min({frame.left(), frame.top(), frame.right(), frame.bottom()}) >= 0 &&
        std::max({frame.left(), frame.top(), frame.right(), frame.bottom()}) <= kMaxFrame;
    const bool settled =
        plausible && frame == m_lastFrame && isVisible() && windowState() == Qt::WindowNoState;
    m_lastFrame = frame;
    if (settled) {
        FitOuterGeometry();
        m_frameWatch.stop();
    } else if (gaveUp) {
        m_frameWatch.stop(); // no frame to allow for: the window is its own outer geometry
    }
}

void TFormTulvex::NoteOuterGeometry() {
    // Only a shown window in its normal state says where it is: while hidden, a window
    // manager may already have taken its frame away. Until the frame is known, the window is
    // where it was asked to be.
    if (!isVisible() || windowState() != Qt::WindowNoState) return;
    m_outer = m_frameWatch.isActive() ? m_wantedOuter : OuterGeometry();
}

QString TFormTulvex::SettingsPath() const {
    return session::SettingsStore::DefaultPath();
}

void TFormTulvex::ReadSettings() {
    session::SettingsStore store;
    static_cast<void>(store.load(SettingsPath())); // none: the defaults

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
        // The stored values are the outer window, frame included, in logical pixels; the minimum
        // raises a smaller one before it centres.
        const int width = std::max(store.readInteger(key::WinWidth, kMinimumOuter.width()),
                                   kMinimumOuter.width());
        const int height = std::max(store.readInteger(key::WinHeight, kMinimumOuter.height()),
                                    kMinimumOuter.height());
        const QRect screen = ui::PrimaryScreenArea();
        const int top =
            store.readInteger(key::WinTop, screen.top() + screen.height() / 2 - height / 2);
        const int left =
            store.readInteger(key::WinLeft, screen.left() + screen.width() / 2 - width / 2);
        // Settings of another screen or density may put it off every screen there is now.
        m_wantedOuter = ui::PlaceOnScreen(QRect(left, top, width, height), ui::ScreenAreas(),
                                          ui::PrimaryScreenArea());
        FitOuterGeometry();
        // A window manager adds its frame only once the window is mapped: fit again then.
        // Window systems without one (offscreen) never add a frame.
        m_frameChecks = 0;
        m_lastFrame = QMargins();
        if (MayHaveWindowManager()) m_frameWatch.start();
    }

    FFolder = StartFolder(lastFolder);
    edPath->setText(FFolder);

    FFavorites.clear();
    for (int n = 0; n < kMaxFavorites; ++n)
        if (store.exists(key::Mru(n))) FFavorites << store.readString(key::Mru(n), QString());
    BuildFavoritesMenu();
}

void TFormTulvex::WriteSettings() {
    // Read again so that values of other kinds and names are written back as they were.
    session::SettingsStore store;
    static_cast<void>(store.load(SettingsPath())); // none: the defaults

    store.writeBool(key::KeepTimestamp, pmiKeepTimestamp->isChecked());
    store.writeBool(key::EnlargeSmall, pmiEnlargeSmall->isChecked());
    const bool maximized = isMaximized();
    store.writeBool(key::WinMax, maximized);
    store.writeString(key::Language, FLang->LanguageFile());
    if (!maximized) {
        if (isVisible()) NoteOuterGeometry();
        const QRect frame = m_outer.isValid() ? m_outer : OuterGeometry();
        store.writeInteger(key::WinWidth, frame.width());
        store.writeInteger(key::WinHeight, frame.height());
        store.writeInteger(key::WinTop, frame.top());
        store.writeInteger(key::WinLeft, frame.left());
    }
    store.writeBool(key::ConfirmDelete, pmiDeleteConfirm->isChecked());
    store.writeBool(key::HighQuality, pmiHiQuality->isChecked());
    store.writeString(key::LastFolder, edPath->text());
    store.writeInteger(key::ThumbsInRow, DrawGrid->ColCount());
    for (int i = 0; i < FFavorites.size(); ++i)
        store.writeString(key::Mru(i), FFavorites[i]);
    static_cast<void>(store.save(SettingsPath())); // one that cannot be written keeps the old
}
