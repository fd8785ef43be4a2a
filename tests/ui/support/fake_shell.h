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
    };

    FakeShell() { Shell::install(this); }
    ~FakeShell() override { Shell::install(nullptr); }

    void message(QWidget*, const QString& caption, const QString& text, Icon icon) override {
        shown.push_back({caption, text, icon});
    }
    bool askYesNo(QWidget*, const QString& caption, const QString& text) override {
        shown.push_back({caption, text, Icon::Question});
        return next(yesNoAnswers, true);
    }
    bool askWithCheckBox(QWidget*, const QString& caption, const QString& text, const QString&,
                         bool& checked) override {
        shown.push_back({caption, text, Icon::Warning});
        checked = next(checkAnswers, false);
        return next(okAnswers, true);
    }
    QString browseForFolder(QWidget*, const QString& start) override {
        browseStart = start;
        return browseResult;
    }
    void openUrl(const QUrl& url) override { opened.push_back(url); }

    std::vector<Shown> shown;
    std::deque<bool> yesNoAnswers, okAnswers, checkAnswers;
    QString browseStart, browseResult;
    std::vector<QUrl> opened;

private:
    static bool next(std::deque<bool>& answers, bool fallback) {
        if (answers.empty()) return fallback;
        const bool a = answers.front();
        answers.pop_front();
        return a;
    }
};

} // namespace testing_support
