// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include <QDialog>
#include <QPointer>

class QLabel;
class QProgressBar;
class QPushButton;

// The small window of a long loop: a line of text, a bar and Cancel. It never closes itself
// (no close command, Alt+F4 swallowed) and pulls the activation back when another window of
// the program takes it; a switch to another program is left alone.
class TfrmWait : public QDialog {
    Q_OBJECT
public:
    explicit TfrmWait(QWidget* owner);

    bool FCancelled = false;
    QLabel* lblInfo;
    QProgressBar* ProgressBar;
    QPushButton* btnCancel;
    bool m_closing = false;

    void btnCancelClick() { FCancelled = true; }

protected:
    void keyPressEvent(QKeyEvent* event) override; // FormKeyDown
    void changeEvent(QEvent* event) override;      // FormDeactivate
    void closeEvent(QCloseEvent* event) override;
    void reject() override;

private:
    // Whether a window of this program that is neither a modal box nor a popup is active.
    static bool ActivationWithOurWindow();
};

// Creates, positions, updates and finally releases one TfrmWait for a loop.
class TProgressWindow {
public:
    explicit TProgressWindow(QWidget* mainWindow);
    ~TProgressWindow();
    TProgressWindow(const TProgressWindow&) = delete;
    TProgressWindow& operator=(const TProgressWindow&) = delete;

    void SetInfoText(const QString& text);
    void SetCancelCaption(const QString& text);
    void SetRange(int minimum, int maximum);
    void StepBy(int delta);
    void ProcessMessages();
    bool Cancelled() const;
    // The window itself, for tests that check where the activation goes.
    TfrmWait* window() const { return m_form; }

private:
    QPointer<TfrmWait> m_form;
};
