// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include "ui/shell.h"

#include <deque>

namespace testing_support {

// Answers instead of a person and remembers what was shown.
class FakeShell : public ui::Shell {
public:
    struct Shown {
        QString caption;
        QString text;
        Icon icon;
        QWidget* owner = nullptr;
    };

    FakeShell() { Shell::install(this); }
    ~FakeShell() override { Shell::install(nullptr); }

    void message(QWidget* owner, const QString& caption, const QString& text, Icon icon) override {
        shown.push_back({caption, text, icon, owner});
    }
    bool askYesNo(QWidget* owner, const QString& caption, const QString& text) override {
        shown.push_back({caption, text, Icon::Question, owner});
        return next(yesNoAnswers, true);
    }
    bool askWithCheckBox(QWidget* owner, const QString& caption, const QString& text,
                         const QString&, bool& checked) override {
        shown.push_back({caption, text, Icon::Warning, owner});
        checked = next(checkAnswers, false);
        return next(okAnswers, true);
    }
    QString browseForFolder(QWidget* owner, const QString& start) override {
        browseOwner = owner;
        browseStart = start;
        return browseResult;
    }
    void openUrl(const QUrl& url, std::function<void(bool opened)> done) override {
        opened.push_back(url);
        if (done) done(canOpen);
    }

    std::vector<Shown> shown;
    std::deque<bool> yesNoAnswers, okAnswers, checkAnswers;
    QString browseStart, browseResult;
    QWidget* browseOwner = nullptr;
    std::vector<QUrl> opened;
    bool canOpen = true; // whether the desktop has a program for what is opened

private:
    static bool next(std::deque<bool>& answers, bool fallback) {
        if (answers.empty()) return fallback;
        const bool a = answers.front();
        answers.pop_front();
        return a;
    }
};

} // namespace testing_support
