// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include <QByteArray>
#include <QString>
#include <QStringList>

#include <optional>
#include <vector>

namespace lang {

// Reads INI text the way the language files are meant to be read: section and key names
// without regard to case, the value after the first "=" trimmed and without one enclosing pair
// of quotes, at most 2047 characters. A UTF-8 byte-order mark or valid UTF-8 means UTF-8; any
// other bytes are Windows-1252.
class IniFile {
public:
    static constexpr qsizetype kMaxValueLength = 2047;

    static IniFile Load(const QString& path);
    static IniFile Parse(const QByteArray& bytes);

    bool isLoaded() const { return m_loaded; }
    // The value, or std::nullopt when the section or key does not exist.
    std::optional<QString> value(const QString& section, const QString& key) const;
    QString read(const QString& section, const QString& key, const QString& fallback) const;
    QStringList keys(const QString& section) const;

private:
    struct Entry {
        QString section;
        QString key;
        QString value;
    };
    std::vector<Entry> m_entries;
    bool m_loaded = false;
};

} // namespace lang
