// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include <QString>
#include <QStringList>

#include <cstdint>
#include <optional>
#include <vector>

#include "platform/result.h"

namespace session {

// The settings of one user: a key of text and 32-bit number values kept in a file in the
// registry export format, so that the kinds stay apart as the settings expect them.
class SettingsStore {
public:
    enum class Kind { Text, Number, Other };
    struct Value {
        QString name;
        Kind kind = Kind::Text;
        QString text;             // Text
        std::uint32_t number = 0; // Number
        QString raw;              // Other: the data as found, written back unchanged
    };

    static const QString kKeyPath; // HKEY_CURRENT_USER\Software\Varlo\Tulvex\Main

    // $XDG_CONFIG_HOME/Varlo/Tulvex/settings.reg (default ~/.config).
    static QString DefaultPath();

    // Reads what can be read; lines that cannot be parsed are dropped. A failure when the file is
    // missing or unreadable (the store is then empty).
    platform::Result load(const QString& path);
    void parse(const QString& text);
    QString serialize() const;
    // Writes through a temporary file renamed over the old one; a failure leaves the old file.
    platform::Result save(const QString& path) const;

    const Value* find(const QString& name) const; // names without regard to case
    bool exists(const QString& name) const { return find(name) != nullptr; }
    QStringList valueNames() const;

    // Reading as the program does: a text that is an integer, or a number; else the default.
    int readInteger(const QString& name, int fallback) const;
    bool readBool(const QString& name, bool fallback) const;
    QString readString(const QString& name, const QString& fallback) const;

    void writeString(const QString& name, const QString& text);
    // A number, unless the value already exists as text: then its decimal text.
    void writeInteger(const QString& name, int value);
    void writeBool(const QString& name, bool value) { writeString(name, value ? "1" : "0"); }
    void remove(const QString& name);

private:
    Value& slot(const QString& name);
    std::vector<Value> m_values;
    QStringList m_foreignLines; // other keys of the file, kept as they were
};

} // namespace session
