// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include <QMargins>
#include <QObject>
#include <QRect>
#include <QSize>
#include <QTimer>

class QWidget;

namespace ui {

// Where the window is: the outer geometry (frame included) asked for by the settings and the
// last one seen, the wait for a window manager's frame, the screen density, and the settling of
// a border drag or a move between screens into one reload.
class WindowPlacement : public QObject {
    Q_OBJECT
public:
    static constexpr QSize kMinimumOuter{800, 600};

    explicit WindowPlacement(QWidget& window);

    // Puts the window at `wanted` (outer, logical pixels), moved onto a screen that exists now,
    // and watches for the frame a window manager adds once it is mapped.
    void Place(const QRect& wanted);
    void FitOuterGeometry();
    QRect OuterGeometry() const;
    void CheckForFrame();
    // Notes where a shown window in its normal state is.
    void NoteOuterGeometry();
    // What the settings keep: the last outer geometry seen while shown.
    QRect OuterToKeep();
    bool WatchingForFrame() const { return m_frameWatch.isActive(); }

    // Thumbnails are made again when the window moves to a screen of another density.
    void FollowScreenDensity();
    // Starts (again) the wait after which `settled` reloads once.
    void Unsettle() { m_resizeTimer.start(); }
    // True while a size or density change waits to settle into a reload.
    bool Settling() const { return m_resizeTimer.isActive(); }
    // The window closes: nothing more to wait for.
    void Stop();

signals:
    // The size or density has been still long enough for one reload.
    void settled();

private:
    QWidget& m_window;
    QRect m_wantedOuter; // the stored outer geometry, until the frame is known
    QRect m_outer;       // the last outer geometry seen while shown
    QTimer m_frameWatch; // waits for a window manager's frame after the first showing
    int m_frameChecks = 0;
    QMargins m_lastFrame; // as seen at the previous check
    qreal m_density = 1;  // of the screen the window was last seen on
    QTimer m_resizeTimer; // coalesces a border drag into one reload
};

} // namespace ui
