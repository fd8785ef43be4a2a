// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include <vector>

namespace ui {

// Which items of a list are selected, as a file manager's grid selects: in list order, never a
// rectangle of rows and columns. The anchor is where a range starts; the focus is the item the
// keys move from, selected or not.
class GridSelection {
public:
    // The list has `count` items now: selected items past its end are dropped.
    void SetCount(int count);
    int Count() const { return int(m_selected.size()); }
    int Focus() const { return m_focus; }
    int Anchor() const { return m_anchor; }

    // A plain click or key: this item alone, anchor and focus on it.
    void SelectOnly(int index);
    // Ctrl+click: this item in or out, the others kept; anchor and focus on it.
    void Toggle(int index);
    // Shift: the items between the anchor and `index`, in list order; with `keepOthers`
    // (Ctrl+Shift) added to what was selected when the anchor was set. Focus on `index`.
    void ExtendTo(int index, bool keepOthers);
    void SelectAll();
    void Clear();

    bool IsSelected(int index) const;
    // Ascending, so in list order.
    std::vector<int> Selected() const;
    int SelectedCount() const;

private:
    bool Valid(int index) const { return index >= 0 && index < Count(); }

    std::vector<char> m_selected;
    std::vector<char> m_base; // the selection when the anchor was set, for Ctrl+Shift
    int m_anchor = 0;
    int m_focus = 0;
};

// Where a navigation key moves the focus in a list laid out `columns` to a row with `pageRows`
// rows in view; -1 for a key that does not move it. Up and Down keep the column, Left and Right
// go on to the neighbouring row, as reading does.
int TargetOfKey(int key, bool control, int from, int count, int columns, int pageRows);

} // namespace ui
