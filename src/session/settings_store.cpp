// SPDX-License-Identifier: GPL-3.0-or-later
#include "session/settings_store.h"

#include <QFile>
#include <QFileInfo>
#include <QStandardPaths>

#include <fcntl.h>
#include <unistd.h>

#include <cerrno>
#include <optional>

#include "platform/private_files.h"
#include "platform/xdg_dirs.h"

namespace session {
namespace {

const QString kHeader = QStringLiteral("Windows Registry Editor Version 5.00");
constexpr qint64 kMaxStoreSize = 1 << 20;

// Characters that would break the one-line form of a value, or be lost in UTF-8: they are
// written as \uXXXX (line breaks as \n and \r).
bool NeedsCodeEscape(QStringView text, qsizetype i) {
    const QChar c = text[i];
    if (c.category() == QChar::Other_Control || c == QChar::LineSeparator ||
        c == QChar::ParagraphSeparator)
        return true;
    if (c.isHighSurrogate()) return i + 1 >= text.size() || !text[i + 1].isLowSurrogate();
    if (c.isLowSurrogate()) return i == 0 || !text[i - 1].isHighSurrogate();
    return false;
}

// Four hex digits at `pos`, or nothing.
std::optional<char16_t> HexUnit(QStringView line, qsizetype pos) {
    if (pos + 4 > line.size()) return std::nullopt;
    char16_t unit = 0;
    for (const QChar c : line.mid(pos, 4)) {
        const int digit = QStringLiteral("0123456789abcdef").indexOf(c.toLower());
        if (digit < 0 || c.unicode() > 0x7f) return std::nullopt;
        unit = char16_t(unit * 16 + digit);
    }
    return unit;
}

// Parses a quoted string starting at `pos` (on the opening quote); returns the end past the
// closing quote or -1. \n, \r and \uXXXX stand for what Quote escaped; any other
// backslash takes the next character as it is, as files of earlier versions expect.
qsizetype ParseQuoted(QStringView line, qsizetype pos, QString& out) {
    if (pos >= line.size() || line[pos] != u'"') return -1;
    out.clear();
    for (qsizetype i = pos + 1; i < line.size(); ++i) {
        const QChar c = line[i];
        if (c == u'\\' && i + 1 < line.size()) {
            const QChar next = line[++i];
            if (next == u'n') {
                out += u'\n';
            } else if (next == u'r') {
                out += u'\r';
            } else if (const auto unit = next == u'u' ? HexUnit(line, i + 1) : std::nullopt) {
                out += QChar(*unit);
                i += 4;
            } else {
                out += next;
            }
        } else if (c == u'"') {
            return i + 1;
        } else {
            out += c;
        }
    }
    return -1;
}

QString Quote(const QString& text) {
    QString out;
    out.reserve(text.size() + 2);
    out += u'"';
    for (qsizetype i = 0; i < text.size(); ++i) {
        const QChar c = text[i];
        if (c == u'\\' || c == u'"') {
            out += u'\\';
            out += c;
        } else if (c == u'\n') {
            out += QStringLiteral("\\n");
        } else if (c == u'\r') {
            out += QStringLiteral("\\r");
        } else if (NeedsCodeEscape(text, i)) {
            out += QStringLiteral("\\u%1").arg(c.unicode(), 4, 16, QChar(u'0'));
        } else {
            out += c;
        }
    }
    out += u'"';
    return out;
}

// What the system said about the last call that failed; the toolkit's file classes keep no
// error number of their own.
platform::Result SystemFailure() {
    return platform::Result::FromErrno(errno != 0 ? errno : EIO);
}

} // namespace

const QString SettingsStore::kKeyPath =
    QStringLiteral("HKEY_CURRENT_USER\\Software\\Varlo\\Tulvex\\Main");

QString SettingsStore::DefaultPath() {
    return platform::XdgBaseDir("XDG_CONFIG_HOME", QStringLiteral(".config")) +
           "/Varlo/Tulvex/settings.reg";
}

platform::Result SettingsStore::load(const QString& path) {
    m_values.clear();
    m_foreignLines.clear();
    QFile file(path);
    errno = 0;
    if (!file.open(QIODevice::ReadOnly)) return SystemFailure();
    parse(QString::fromUtf8(file.read(kMaxStoreSize)));
    return {};
}

void SettingsStore::parse(const QString& text) {
    bool inMain = false;
    bool inForeign = false;
    for (QStringView raw : QStringView(text).split(u'\n')) {
        const QStringView line = raw.trimmed();
        if (line.isEmpty() || line == kHeader) continue;
        if (line.startsWith(u'[') && line.endsWith(u']')) {
            inMain = line.mid(1, line.size() - 2).compare(kKeyPath, Qt::CaseInsensitive) == 0;
            inForeign = !inMain;
            if (inForeign) m_foreignLines << QString() << line.toString();
            continue;
        }
        if (inForeign) {
            m_foreignLines << line.toString();
            continue;
        }
        if (!inMain) continue;
        Value value;
        const qsizetype end = ParseQuoted(line, 0, value.name);
        if (end < 0 || end >= line.size() || line[end] != u'=' || value.name.isEmpty() ||
            exists(value.name))
            continue;
        const QStringView data = line.mid(end + 1);
        if (data.startsWith(u'"')) {
            if (ParseQuoted(data, 0, value.text) != data.size()) continue;
            value.kind = Kind::Text;
        } else if (data.startsWith(u"dword:", Qt::CaseInsensitive)) {
            bool ok = false;
            const QStringView digits = data.mid(6);
            value.number = digits.toUInt(&ok, 16);
            if (!ok || digits.size() > 8) continue;
            value.kind = Kind::Number;
        } else {
            value.kind = Kind::Other;
            value.raw = data.toString();
        }
        m_values.push_back(value);
    }
}

QString SettingsStore::serialize() const {
    QString out = kHeader + "\n\n[" + kKeyPath + "]\n";
    for (const Value& v : m_values) {
        out += Quote(v.name) + '=';
        switch (v.kind) {
        case Kind::Text:
            out += Quote(v.text);
            break;
        case Kind::Number:
            out += QStringLiteral("dword:%1").arg(v.number, 8, 16, QChar(u'0'));
            break;
        case Kind::Other:
            out += v.raw;
            break;
        }
        out += '\n';
    }
    for (const QString& line : m_foreignLines)
        out += line + '\n';
    return out;
}

platform::Result SettingsStore::save(const QString& path) const {
    const QFileInfo info(path);
    // Missing folders are made for the user alone; those already there, links included, stay.
    if (platform::Result made = platform::MakeFoldersAbove(
            QFile::encodeName(info.absoluteFilePath()).toStdString(), 0700);
        !made.ok())
        return made;
    const platform::UniqueFd folder(::open(QFile::encodeName(info.absolutePath()).constData(),
                                           O_RDONLY | O_DIRECTORY | O_CLOEXEC));
    if (!folder.valid()) return platform::Result::FromErrno(errno);
    const QByteArray bytes = serialize().toUtf8();
    const std::string name = QFile::encodeName(info.fileName()).toStdString();
    platform::SmallFileWrite how;
    // Flushed where the system can; a flush it cannot do does not fail the save.
    how.fsyncFile = [](int fd) {
        ::fsync(fd);
        return 0;
    };
    return platform::WriteSmallFile(
        folder.get(), name, "." + name + "-",
        {reinterpret_cast<const std::uint8_t*>(bytes.constData()), std::size_t(bytes.size())}, how);
}

const SettingsStore::Value* SettingsStore::find(const QString& name) const {
    for (const Value& v : m_values)
        if (v.name.compare(name, Qt::CaseInsensitive) == 0) return &v;
    return nullptr;
}

QStringList SettingsStore::valueNames() const {
    QStringList names;
    for (const Value& v : m_values)
        names << v.name;
    return names;
}

int SettingsStore::readInteger(const QString& name, int fallback) const {
    const Value* v = find(name);
    if (!v) return fallback;
    if (v->kind == Kind::Number) return int(v->number);
    if (v->kind != Kind::Text) return fallback; // an unexpected kind counts as missing
    bool ok = false;
    const int parsed = v->text.toInt(&ok, 10);
    return ok ? parsed : fallback;
}

bool SettingsStore::readBool(const QString& name, bool fallback) const {
    return readInteger(name, fallback ? 1 : 0) != 0;
}

QString SettingsStore::readString(const QString& name, const QString& fallback) const {
    const Value* v = find(name);
    return v && v->kind == Kind::Text ? v->text : fallback;
}

void SettingsStore::remove(const QString& name) {
    std::erase_if(m_values, [&name](const Value& v) {
        return v.name.compare(name, Qt::CaseInsensitive) == 0;
    });
}

SettingsStore::Value& SettingsStore::slot(const QString& name) {
    for (Value& v : m_values)
        if (v.name.compare(name, Qt::CaseInsensitive) == 0) return v;
    m_values.push_back(Value{name, Kind::Text, {}, 0, {}});
    return m_values.back();
}

void SettingsStore::writeString(const QString& name, const QString& text) {
    Value& v = slot(name);
    v.kind = Kind::Text;
    v.text = text;
}

void SettingsStore::writeInteger(const QString& name, int value) {
    const bool existsAsText = find(name) && find(name)->kind == Kind::Text;
    Value& v = slot(name);
    if (existsAsText) {
        v.text = QString::number(value);
        return;
    }
    v.kind = Kind::Number;
    v.number = std::uint32_t(value);
}

} // namespace session
