// SPDX-License-Identifier: GPL-3.0-or-later
#include "ui/window_placement.h"

#include "ui/placement.h"

#include <QGuiApplication>
#include <QScreen>
#include <QWidget>
#include <QWindow>

#include <algorithm>

namespace ui {

namespace {

// A border drag is one reload once the size has been still this long.
constexpr int kResizeSettleMs = 200;
// How often the first showing looks for a window manager's frame.
constexpr int kFrameCheckMs = 25;
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

WindowPlacement::WindowPlacement(QWidget& window) : QObject(&window), m_window(window) {
    m_resizeTimer.setSingleShot(true);
    m_resizeTimer.setInterval(kResizeSettleMs);
    connect(&m_resizeTimer, &QTimer::timeout, this, &WindowPlacement::settled);
    m_frameWatch.setInterval(kFrameCheckMs);
    connect(&m_frameWatch, &QTimer::timeout, this, &WindowPlacement::CheckForFrame);
}

void WindowPlacement::Place(const QRect& wanted) {
    // Settings of another screen or density may put it off every screen there is now.
    m_wantedOuter = PlaceOnScreen(wanted, ScreenAreas(), PrimaryScreenArea());
    FitOuterGeometry();
    // A window manager adds its frame only once the window is mapped: fit again then.
    // Window systems without one (offscreen) never add a frame.
    m_frameChecks = 0;
    m_lastFrame = QMargins();
    if (MayHaveWindowManager()) m_frameWatch.start();
}

void WindowPlacement::FitOuterGeometry() {
    const QMargins frame = FrameOf(m_window);
    // A screen smaller than the minimum (a laptop at twice the density) lowers it: the whole
    // window must fit.
    const QRect area = ScreenAreaOf(m_wantedOuter, ScreenAreas(), PrimaryScreenArea());
    m_window.setMinimumSize(
        Without(area.isEmpty() ? kMinimumOuter : kMinimumOuter.boundedTo(area.size()), frame));
    // Placed by its client area, with the frame as the window system reports it now: the
    // widget's own idea of its frame can lag behind.
    m_window.setGeometry(m_wantedOuter.marginsRemoved(frame));
}

QRect WindowPlacement::OuterGeometry() const {
    return m_window.geometry().marginsAdded(FrameOf(m_window));
}

void WindowPlacement::CheckForFrame() {
    const bool gaveUp = ++m_frameChecks >= kFrameChecks;
    // While the window manager is still building its frame, the margins can come out
    // negative or huge: only a plausible frame seen twice in a row counts.
    const QMargins frame = FrameOf(m_window);
    const bool plausible =
        !frame.isNull() &&
        std::min({frame.left(), frame.top(), frame.right(), frame.bottom()}) >= 0 &&
        std::max({frame.left(), frame.top(), frame.right(), frame.bottom()}) <= kMaxFrame;
    const bool settled = plausible && frame == m_lastFrame && m_window.isVisible() &&
                         m_window.windowState() == Qt::WindowNoState;
    m_lastFrame = frame;
    if (settled) {
        FitOuterGeometry();
        m_frameWatch.stop();
    } else if (gaveUp) {
        m_frameWatch.stop(); // no frame to allow for: the window is its own outer geometry
    }
}

void WindowPlacement::NoteOuterGeometry() {
    // Only a shown window in its normal state says where it is: while hidden, a window
    // manager may already have taken its frame away. Until the frame is known, the window is
    // where it was asked to be.
    if (!m_window.isVisible() || m_window.windowState() != Qt::WindowNoState) return;
    m_outer = m_frameWatch.isActive() ? m_wantedOuter : OuterGeometry();
}

QRect WindowPlacement::OuterToKeep() {
    if (m_window.isVisible()) NoteOuterGeometry();
    return m_outer.isValid() ? m_outer : OuterGeometry();
}

void WindowPlacement::FollowScreenDensity() {
    m_density = m_window.devicePixelRatioF();
    // Moved to a screen of another density: the thumbnails are made again for its pixels.
    connect(m_window.windowHandle(), &QWindow::screenChanged, this, [this] {
        if (m_window.devicePixelRatioF() == m_density) return;
        m_density = m_window.devicePixelRatioF();
        m_resizeTimer.start(); // reloads once the move has settled
    });
}

void WindowPlacement::Stop() {
    m_resizeTimer.stop();
    NoteOuterGeometry(); // while the frame is still there
    m_frameWatch.stop();
}

} // namespace ui
