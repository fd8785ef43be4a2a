// SPDX-License-Identifier: GPL-3.0-or-later
#include "ui/shell.h"

#include "ui/desktop_open.h"
#include "ui/errors.h"

#include <QApplication>
#include <QCheckBox>
#include <QFileDialog>
#include <QMainWindow>
#include <QMessageBox>

namespace ui {
namespace {

QMessageBox::Icon ToQt(Shell::Icon icon) {
    switch (icon) {
    case Shell::Icon::Information:
        return QMessageBox::Information;
    case Shell::Icon::Warning:
        return QMessageBox::Warning;
    case Shell::Icon::Error:
        return QMessageBox::Critical;
    case Shell::Icon::Question:
        return QMessageBox::Question;
    }
    return QMessageBox::NoIcon;
}

// A box speaks in the font of the window it belongs to: a top-level window does not inherit it.
void UseOwnerFont(QWidget& box, const QWidget* owner) {
    if (owner) box.setFont(owner->window()->font());
}

QString CaptionOr(const QString& caption) {
    return caption.isEmpty() ? QApplication::applicationName() : caption;
}

class DesktopShell final : public Shell {
public:
    void message(QWidget* owner, const QString& caption, const QString& text, Icon icon) override {
        QMessageBox box(ToQt(icon), CaptionOr(caption), text, QMessageBox::Ok, owner);
        UseOwnerFont(box, owner);
        box.exec();
    }
    bool askYesNo(QWidget* owner, const QString& caption, const QString& text) override {
        QMessageBox box(QMessageBox::Question, CaptionOr(caption), text,
                        QMessageBox::Yes | QMessageBox::No, owner);
        UseOwnerFont(box, owner);
        return box.exec() == QMessageBox::Yes;
    }
    bool askWithCheckBox(QWidget* owner, const QString& caption, const QString& text,
                         const QString& checkText, bool& checked) override {
        QMessageBox box(QMessageBox::Warning, CaptionOr(caption), text,
                        QMessageBox::Ok | QMessageBox::Cancel, owner);
        UseOwnerFont(box, owner);
        box.setDefaultButton(QMessageBox::Ok);
        box.setEscapeButton(QMessageBox::Cancel);
        auto* check = new QCheckBox(checkText, &box); // owned by the box
        box.setCheckBox(check);
        const bool ok = box.exec() == QMessageBox::Ok;
        checked = ok && check->isChecked();
        return ok;
    }
    QString browseForFolder(QWidget* owner, const QString& start) override {
        return QFileDialog::getExistingDirectory(owner, QString(), start,
                                                 QFileDialog::ShowDirsOnly);
    }
    void openUrl(const QUrl& url, std::function<void(bool opened)> done) override {
        OpenOnDesktop(url, std::move(done));
    }
};

Shell* g_installed = nullptr; // the message-box seam; set only by tests

} // namespace

Shell& Shell::current() {
    static DesktopShell desktop;
    return g_installed ? *g_installed : desktop;
}

void Shell::install(Shell* shell) {
    g_installed = shell;
}

QString WithFullStop(const QString& text) {
    if (!text.isEmpty() && text.back() > QChar(u'.')) return text + u'.';
    return text;
}

// The box goes over the active window, or over the main window when none is active (an error
// while another program has the focus); without an owner it would open anywhere on the screen.
QWidget* ErrorBoxOwner() {
    if (QWidget* active = QApplication::activeWindow()) return active;
    for (QWidget* top : QApplication::topLevelWidgets())
        if (top->isVisible() && qobject_cast<QMainWindow*>(top)) return top;
    return nullptr;
}

void ShowErrorBox(const QString& text) {
    Shell::current().message(ErrorBoxOwner(), QApplication::applicationName(), WithFullStop(text),
                             Shell::Icon::Error);
}

void ShowCurrentException() {
    try {
        throw;
    } catch (const TulvexError& e) {
        ShowErrorBox(e.text());
    } catch (const std::exception& e) {
        ShowErrorBox(QString::fromUtf8(e.what()));
    } catch (...) {
        ShowErrorBox(QStringLiteral("Unknown error"));
    }
}

} // namespace ui
