// SPDX-License-Identifier: GPL-3.0-or-later
#include "ui/grid_selection.h"

#include <Qt>

#include <algorithm>

namespace ui {

void GridSelection::SetCount(int count) {
    count = std::max(0, count);
    m_selected.resize(std::size_t(count), 0);
    m_base.resize(std::size_t(count), 0);
    const int last = std::max(0, count - 1);
    m_anchor = std::min(m_anchor, last);
    m_focus = std::min(m_focus, last);
}

void GridSelection::SelectOnly(int index) {
    if (!Valid(index)) return;
    std::fill(m_selected.begin(), m_selected.end(), 0);
    m_selected[std::size_t(index)] = 1;
    m_anchor = m_focus = index;
    m_base = m_selected;
}

void GridSelection::Toggle(int index) {
    if (!Valid(index)) return;
    m_selected[std::size_t(index)] = !m_selected[std::size_t(index)];
    m_anchor = m_focus = index;
    m_base = m_selected;
}

void GridSelection::ExtendTo(int index, bool keepOthers) {
    if (!Valid(index)) return;
    if (keepOthers)
        m_selected = m_base;
    else
        std::fill(m_selected.begin(), m_selected.end(), 0);
    const auto [low, high] = std::minmax(m_anchor, index);
    std::fill(m_selected.begin() + low, m_selected.begin() + high + 1, 1);
    m_focus = index;
}

void GridSelection::SelectAll() {
    std::fill(m_selected.begin(), m_selected.end(), 1);
    m_base = m_selected;
}

void GridSelection::Clear() {
    std::fill(m_selected.begin(), m_selected.end(), 0);
    m_base = m_selected;
}

bool GridSelection::IsSelected(int index) const {
    return Valid(index) && m_selected[std::size_t(index)];
}

std::vector<int> GridSelection::Selected() const {
    std::vector<int> out;
    for (int i = 0; i < Count(); ++i)
        if (m_selected[std::size_t(i)]) out.push_back(i);
    return out;
}

int GridSelection::SelectedCount() const {
    return int(std::count(m_selected.begin(), m_selected.end(), 1));
}

namespace {

int VerticalTarget(int from, int rows, int count, int columns) {
    const long target = long(from) + long(rows) * columns;
    if (target < 0) return from % columns; // the first row, same column
    if (target >= count) return count - 1; // the last photo
    return int(target);
}

} // namespace

int TargetOfKey(int key, bool control, int from, int count, int columns, int pageRows) {
    if (count <= 0 || columns <= 0) return -1;
    from = std::clamp(from, 0, count - 1);
    const int rowStart = from - from % columns;
    switch (key) {
    case Qt::Key_Left:
        return std::max(0, from - 1);
    case Qt::Key_Right:
        return std::min(count - 1, from + 1);
    case Qt::Key_Up:
        return from < columns ? from : from - columns;
    case Qt::Key_Down: // from the last row nowhere
        return from / columns == (count - 1) / columns ? from
                                                       : VerticalTarget(from, 1, count, columns);
    case Qt::Key_PageUp:
        return VerticalTarget(from, -std::max(1, pageRows), count, columns);
    case Qt::Key_PageDown:
        return VerticalTarget(from, std::max(1, pageRows), count, columns);
    case Qt::Key_Home:
        return control ? 0 : rowStart;
    case Qt::Key_End:
        return control ? count - 1 : std::min(count - 1, rowStart + columns - 1);
    default:
        return -1;
    }
}

} // namespace ui
