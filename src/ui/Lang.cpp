// SPDX-License-Identifier: GPL-3.0-or-later
#include "ui/Lang.h"

#include "lang/ini_reader.h"
#include "ui/errors.h"

#include <QAbstractButton>
#include <QAction>
#include <QApplication>
#include <QGroupBox>
#include <QLabel>
#include <QMenu>
#include <QMetaProperty>
#include <QWidget>

#include <deque>

namespace {

const QString kTranslations = QStringLiteral("Translations");
const QString kMessages = QStringLiteral("Messages");
const char* const kHintProperty = "tulvexHint";

enum class PropertyKind { None, Text, WholeNumber, Lines };

// A named property of a component, with the kind the translator must write.
struct PropertyRef {
    PropertyKind kind = PropertyKind::None;
    QByteArray qtName; // empty for the mapped Caption/Hint
    bool isHint = false;
};

bool SameName(const QString& a, const QString& b) {
    return a.compare(b, Qt::CaseInsensitive) == 0;
}

QByteArray CaptionProperty(const QObject* c) {
    if (qobject_cast<const QAction*>(c) || qobject_cast<const QAbstractButton*>(c) ||
        qobject_cast<const QLabel*>(c))
        return "text";
    if (qobject_cast<const QMenu*>(c) || qobject_cast<const QGroupBox*>(c)) return "title";
    if (const auto* w = qobject_cast<const QWidget*>(c); w && w->isWindow()) return "windowTitle";
    return {};
}

PropertyRef FindProperty(const QObject* c, const QString& name) {
    if (SameName(name, "Caption")) {
        const QByteArray qt = CaptionProperty(c);
        if (!qt.isEmpty()) return {PropertyKind::Text, qt, false};
    }
    if (SameName(name, "Hint")) {
        if (qobject_cast<const QAction*>(c)) return {PropertyKind::Text, {}, true};
        if (qobject_cast<const QWidget*>(c)) return {PropertyKind::Text, "toolTip", false};
    }
    const QMetaObject* meta = c->metaObject();
    for (int i = 0; i < meta->propertyCount(); ++i) {
        const QMetaProperty p = meta->property(i);
        if (!SameName(QString::fromLatin1(p.name()), name) || !p.isWritable()) continue;
        switch (p.metaType().id()) {
        case QMetaType::QString:
            return {PropertyKind::Text, p.name(), false};
        case QMetaType::Int:
            return {PropertyKind::WholeNumber, p.name(), false};
        case QMetaType::QStringList:
            return {PropertyKind::Lines, p.name(), false};
        default:
            return {};
        }
    }
    for (const QByteArray& dynamic : c->dynamicPropertyNames()) {
        if (!SameName(QString::fromLatin1(dynamic), name)) continue;
        switch (c->property(dynamic).metaType().id()) {
        case QMetaType::QString:
            return {PropertyKind::Text, dynamic, false};
        case QMetaType::Int:
            return {PropertyKind::WholeNumber, dynamic, false};
        case QMetaType::QStringList:
            return {PropertyKind::Lines, dynamic, false};
        default:
            return {};
        }
    }
    return {};
}

QString ReadText(const QObject* c, const PropertyRef& p) {
    if (p.isHint) return ActionHint(qobject_cast<const QAction*>(c));
    if (p.kind == PropertyKind::Text) return c->property(p.qtName).toString();
    return {};
}

QObject* FindTopLevel(const QString& name) {
    for (QWidget* w : QApplication::topLevelWidgets())
        if (SameName(w->objectName(), name)) return w;
    return nullptr;
}

// Owned components: every descendant, nearest first.
QObject* FindOwned(QObject* owner, const QString& name) {
    std::deque<QObject*> queue(owner->children().begin(), owner->children().end());
    while (!queue.empty()) {
        QObject* c = queue.front();
        queue.pop_front();
        if (SameName(c->objectName(), name)) return c;
        queue.insert(queue.end(), c->children().begin(), c->children().end());
    }
    return nullptr;
}

} // namespace

TLanguage::TLanguage(QObject* owner) : QObject(owner) {}

void TLanguage::setSeparator(const QString& separator) {
    m_separator = separator.trimmed().isEmpty() ? QStringLiteral(",") : separator;
}

void TLanguage::ApplyTranslations() {
    if (OnBeforeTranslation) OnBeforeTranslation(this);
    const lang::IniFile file = lang::IniFile::Load(m_languageFile);
    for (const QString& line : QStringList(m_properties)) {
        if (line.trimmed().isEmpty()) continue;
        TranslateProperty(line, file.read(kTranslations, line, QString()));
    }
    if (OnAfterTranslation) OnAfterTranslation(this);
}

QString TLanguage::LookupMessage(const QString& key) const {
    return lang::IniFile::Load(m_languageFile).read(kMessages, key, key);
}

void TLanguage::TranslateProperty(const QString& pathText, const QString& value) {
    QString path = pathText.trimmed();
    if (path.isEmpty()) return;
    QObject* component = nullptr;
    bool atApplication = true;
    while (path.contains(u'.')) {
        const qsizetype dot = path.indexOf(u'.');
        const QString name = path.left(dot).trimmed();
        path = path.mid(dot + 1).trimmed();
        if (atApplication)
            component = FindTopLevel(name);
        else if (component)
            component = FindOwned(component, name);
        atApplication = false;
    }
    if (!component || value.isEmpty()) return;

    const PropertyRef property = FindProperty(component, path);
    QString newValue = value;
    if (OnTranslate) OnTranslate(this, component, path, ReadText(component, property), newValue);
    switch (property.kind) {
    case PropertyKind::None:
        return;
    case PropertyKind::Text:
        if (property.isHint)
            SetActionHint(qobject_cast<QAction*>(component), newValue);
        else
            component->setProperty(property.qtName, newValue);
        return;
    case PropertyKind::WholeNumber: {
        bool ok = false;
        const int number = newValue.trimmed().toInt(&ok, 10);
        if (!ok)
            throw TulvexError(QStringLiteral("'%1' is not a valid integer value").arg(newValue));
        component->setProperty(property.qtName, number);
        return;
    }
    case PropertyKind::Lines:
        component->setProperty(property.qtName, SplitItems(newValue));
        return;
    }
}

QStringList TLanguage::SplitItems(const QString& value) const {
    QStringList items;
    QString rest = value;
    if (!m_separator.isEmpty()) {
        for (qsizetype at = rest.indexOf(m_separator); at >= 0; at = rest.indexOf(m_separator)) {
            items << rest.left(at).trimmed();
            rest = rest.mid(at + m_separator.size());
        }
    }
    rest = rest.trimmed();
    if (!rest.isEmpty()) items << rest;
    return items;
}

void SetActionHint(QAction* action, const QString& hint) {
    if (!action) return;
    action->setProperty(kHintProperty, hint);
    const QString shortcut = ShortcutText(action);
    action->setToolTip(hint.isEmpty() || shortcut.isEmpty()
                           ? hint
                           : QStringLiteral("%1 (%2)").arg(hint, shortcut));
}

QString ShortcutText(const QAction* action) {
    QKeySequence shortcut = action->shortcut();
    // The main Enter key, named as its cap is labelled.
    if (shortcut == QKeySequence(Qt::Key_Return)) shortcut = QKeySequence(Qt::Key_Enter);
    return shortcut.toString(QKeySequence::NativeText);
}

QString ActionHint(const QAction* action) {
    return action ? action->property(kHintProperty).toString() : QString();
}

QString FormatMessage(const QString& format, const QStringList& args) {
    QString out;
    qsizetype next = 0;
    for (qsizetype i = 0; i < format.size(); ++i) {
        const QChar c = format[i];
        if (c == u'%' && i + 1 < format.size()) {
            const QChar kind = format[i + 1];
            if (kind == u'%') {
                out += u'%';
                ++i;
                continue;
            }
            if (kind == u's' || kind == u'u' || kind == u'd') {
                out += next < args.size() ? args[next] : QString();
                ++next;
                ++i;
                continue;
            }
        }
        out += c;
    }
    return out;
}
