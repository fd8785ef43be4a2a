// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include <string>
#include <sys/mount.h>

namespace testing_support {

// A small file system of its own at `where` (needs root; tests skip without it). It can be
// made read-only, and is unmounted when the test ends.
class SmallDisk {
public:
    SmallDisk(const std::string& where, int kilobytes) : m_where(where) {
        const std::string options = "size=" + std::to_string(kilobytes) + "k";
        m_mounted = ::mount("tmpfs", where.c_str(), "tmpfs", 0, options.c_str()) == 0;
    }
    ~SmallDisk() {
        if (m_mounted) ::umount2(m_where.c_str(), MNT_DETACH);
    }
    SmallDisk(const SmallDisk&) = delete;
    SmallDisk& operator=(const SmallDisk&) = delete;

    bool mounted() const { return m_mounted; }
    bool makeReadOnly() {
        return ::mount(nullptr, m_where.c_str(), nullptr, MS_REMOUNT | MS_RDONLY, nullptr) == 0;
    }

private:
    std::string m_where;
    bool m_mounted = false;
};

} // namespace testing_support
