// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include <QString>
#include <QStringList>
#include <QUrl>

#include <functional>

class QWidget;

namespace ui {

// Everything that asks the user something or hands work to the desktop goes through here, so
// that tests can answer instead of a person.
class Shell {
public:
    enum class Icon { Information, Warning, Error, Question };

    virtual ~Shell() = default;
    // A box with an OK button. An empty caption gives the application's name.
    virtual void message(QWidget* owner, const QString& caption, const QString& text,
                         Icon icon) = 0;
    virtual bool askYesNo(QWidget* owner, const QString& caption, const QString& text) = 0;
    // Warning with OK (default) and Cancel plus a check box; true only for OK.
    virtual bool askWithCheckBox(QWidget* owner, const QString& caption, const QString& text,
                                 const QString& checkText, bool& checked) = 0;
    // Empty when cancelled.
    virtual QString browseForFolder(QWidget* owner, const QString& start) = 0;
    // Hands `url` to the desktop; `done` runs, maybe later from the event loop, with whether
    // something opened it.
    virtual void openUrl(const QUrl& url, std::function<void(bool opened)> done) = 0;

    // The one in force; the desktop's unless a test installed its own.
    static Shell& current();
    // Not owned; nullptr restores the desktop's.
    static void install(Shell* shell);
};

// The application-wide error box: the error's text with a full stop appended when its last
// character sorts after it, the application title as caption, an error icon.
void ShowErrorBox(const QString& text);
QString WithFullStop(const QString& text);
// Shows the exception in flight (call from a catch block).
void ShowCurrentException();

// Runs a handler; an error it raises ends it and is shown in the error box.
template <typename F> void RunGuarded(F&& handler) {
    try {
        handler();
    } catch (...) {
        ShowCurrentException();
    }
}

} // namespace ui
