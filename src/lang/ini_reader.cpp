// SPDX-License-Identifier: GPL-3.0-or-later
#include "lang/ini_reader.h"

#include "lang/charset.h"

#include <QFile>

namespace lang {
namespace {

// Language files are a few kilobytes; anything this large is not one.
constexpr qint64 kMaxFileSize = 4 << 20;

QString StripQuotes(QString value) {
    if (value.size() >= 2 && (value.front() == u'"' || value.front() == u'\'') &&
        value.back() == value.front())
        value = value.mid(1, value.size() - 2);
    return value;
}

} // namespace

IniFile IniFile::Load(const QString& path) {
    QFile file(path);
    if (path.isEmpty() || !file.open(QIODevice::ReadOnly) || file.size() > kMaxFileSize) return {};
    return Parse(file.read(kMaxFileSize));
}

IniFile IniFile::Parse(const QByteArray& bytes) {
    IniFile ini;
    ini.m_loaded = true;
    QString section;
    bool inSection = false;
    const QString text = DecodeLanguageText(bytes);
    for (QStringView raw : QStringView(text).split(u'\n')) {
        const QStringView line = raw.trimmed();
        if (line.startsWith(u'[')) {
            const qsizetype close = line.indexOf(u']');
            section = (close < 0 ? line.mid(1) : line.mid(1, close - 1)).trimmed().toString();
            inSection = true;
            continue;
        }
        const qsizetype eq = line.indexOf(u'=');
        if (!inSection || eq < 0) continue;
        QString value = StripQuotes(line.mid(eq + 1).trimmed().toString());
        value.truncate(kMaxValueLength);
        ini.m_entries.push_back({section, line.left(eq).trimmed().toString(), value});
    }
    return ini;
}

std::optional<QString> IniFile::value(const QString& section, const QString& key) const {
    const QString wanted = key.trimmed();
    for (const Entry& e : m_entries)
        if (e.section.compare(section, Qt::CaseInsensitive) == 0 &&
            e.key.compare(wanted, Qt::CaseInsensitive) == 0)
            return e.value;
    return std::nullopt;
}

QString IniFile::read(const QString& section, const QString& key, const QString& fallback) const {
    return value(section, key).value_or(fallback);
}

QStringList IniFile::keys(const QString& section) const {
    QStringList out;
    for (const Entry& e : m_entries)
        if (e.section.compare(section, Qt::CaseInsensitive) == 0) out << e.key;
    return out;
}

} // namespace lang
