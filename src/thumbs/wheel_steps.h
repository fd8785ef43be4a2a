// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

namespace thumbs {

// Turns wheel deltas into whole rows: one row per full notch (120 units). High-resolution
// wheels and touchpads send fractions of a notch; they add up until a notch is complete.
class WheelSteps {
public:
    static constexpr int kNotch = 120;

    // Rows to scroll for this delta; positive is towards the end (the wheel turned down).
    int rowsFor(int angleDelta) {
        // A turn the other way starts afresh: what was left over belonged to the old direction.
        if ((angleDelta > 0 && m_pending < 0) || (angleDelta < 0 && m_pending > 0)) m_pending = 0;
        m_pending += angleDelta;
        const int notches = m_pending / kNotch; // towards zero: the rest stays pending
        m_pending -= notches * kNotch;
        return -notches;
    }

    void reset() { m_pending = 0; }

private:
    int m_pending = 0;
};

} // namespace thumbs
