// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include <QObject>
#include <QString>
#include <QStringList>

#include <functional>

class QAction;

// Translates a window's captions and hints from a language file, and looks up message texts.
// Property paths name a top-level window, then owned components, then a property:
// "FormTulvex.ActionOpen.Caption". Names match without regard to case.
class TLanguage : public QObject {
    Q_OBJECT
public:
    using TNotifyEvent = std::function<void(TLanguage* Sender)>;
    using TLanguageNotifyEvent =
        std::function<void(TLanguage* Sender, QObject* AComponent, const QString& PropertyName,
                           const QString& OldValue, QString& NewValue)>;

    explicit TLanguage(QObject* owner);

    QString LanguageFile() const { return m_languageFile; }
    void setLanguageFile(const QString& file) { m_languageFile = file; }
    QStringList& Properties() { return m_properties; }
    void setProperties(const QStringList& lines) { m_properties = lines; }
    QString Separator() const { return m_separator; }
    void setSeparator(const QString& separator);

    TNotifyEvent OnBeforeTranslation;
    TNotifyEvent OnAfterTranslation;
    TLanguageNotifyEvent OnTranslate;

    // One pass over Properties; the file is read afresh. A whole-number value that is not a
    // number raises TulvexError and ends the pass.
    void ApplyTranslations();
    // The translation of an English message text, or the text itself.
    QString LookupMessage(const QString& key) const;
    void TranslateProperty(const QString& path, const QString& value);
    // A value for a list-of-lines property split into its items.
    QStringList SplitItems(const QString& value) const;

private:
    QString m_languageFile;
    QStringList m_properties;
    QString m_separator;
};

// An action's hint and its tooltip "hint (shortcut)"; kept together so a translated hint
// keeps the shortcut part.
void SetActionHint(QAction* action, const QString& hint);
QString ActionHint(const QAction* action);
// The action's shortcut in the words of the chosen language ("Strg+Entf" under Deutsch), as
// the toolkit's translation names the keys.
QString ShortcutText(const QAction* action);

// Fills the %s, %u and %d placeholders of a (translated) message in order; "%%" gives "%".
QString FormatMessage(const QString& format, const QStringList& args);
