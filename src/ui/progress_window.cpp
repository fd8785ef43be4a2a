// SPDX-License-Identifier: GPL-3.0-or-later
#include "ui/progress_window.h"

#include <QApplication>
#include <QCloseEvent>
#include <QKeyEvent>
#include <QLabel>
#include <QProgressBar>
#include <QPushButton>
#include <QTimer>

TfrmWait::TfrmWait(QWidget* owner)
    : QDialog(owner, Qt::Dialog | Qt::CustomizeWindowHint | Qt::WindowTitleHint |
                         Qt::MSWindowsFixedSizeDialogHint) {
    setObjectName("frmWait");
    if (owner) setFont(owner->font()); // a dialog does not inherit its window's font
    setWindowTitle(QApplication::applicationName());
    setFixedSize(284 + 2 * 7, 88 + 2 * 7);
    lblInfo = new QLabel(this);
    lblInfo->setObjectName("lblInfo");
    lblInfo->setAlignment(Qt::AlignHCenter | Qt::AlignTop);
    lblInfo->setGeometry(7, 7, 284, 13);
    ProgressBar = new QProgressBar(this);
    ProgressBar->setObjectName("ProgressBar");
    ProgressBar->setTextVisible(false);
    ProgressBar->setGeometry(7, 7 + 31, 284, 15);
    btnCancel = new QPushButton(tr("&Cancel"), this);
    btnCancel->setObjectName("btnCancel");
    btnCancel->setGeometry(7 + 106, 7 + 55, 75, 25);
    btnCancel->setAutoDefault(false);
    connect(btnCancel, &QPushButton::clicked, this, [this] { btnCancelClick(); });
}

void TfrmWait::keyPressEvent(QKeyEvent* event) {
    if (event->key() == Qt::Key_F4 && (event->modifiers() & Qt::AltModifier)) {
        event->accept(); // swallowed: Alt+F4 must not end the loop's window
        return;
    }
    QDialog::keyPressEvent(event);
}

void TfrmWait::reject() {
    btnCancel->click();
} // Esc presses Cancel

void TfrmWait::closeEvent(QCloseEvent* event) {
    if (m_closing)
        event->accept();
    else
        event->ignore();
}

bool TfrmWait::ActivationWithOurWindow() {
    return QApplication::activeWindow() && !QApplication::activeModalWidget() &&
           !QApplication::activePopupWidget();
}

void TfrmWait::changeEvent(QEvent* event) {
    QDialog::changeEvent(event);
    if (event->type() != QEvent::ActivationChange || isActiveWindow() || !isVisible() ||
        !isEnabled())
        return;
    // A modal box of the loop (a question in the middle of a pass) keeps the activation, and
    // another program the user switched to keeps it too: only a window of ours gives it back.
    if (!ActivationWithOurWindow()) return;
    QTimer::singleShot(0, this, [this] {
        if (isVisible() && !isActiveWindow() && ActivationWithOurWindow()) activateWindow();
    });
}

TProgressWindow::TProgressWindow(QWidget* mainWindow) : m_form(new TfrmWait(mainWindow)) {
    const QRect main = mainWindow->frameGeometry();
    const QSize dialog = m_form->frameGeometry().size();
    m_form->move(main.left() + main.width() / 2 - dialog.width() / 2,
                 main.top() + main.height() / 2 - dialog.height() / 2);
    m_form->FCancelled = false;
    m_form->setAttribute(Qt::WA_ShowWithoutActivating);
    m_form->show();
    m_form->repaint();
}

TProgressWindow::~TProgressWindow() {
    if (!m_form) return;
    // Give the activation back to the window the loop belongs to.
    const QWidget* active = QApplication::activeWindow();
    if ((!active || active == m_form) && m_form->parentWidget())
        m_form->parentWidget()->activateWindow();
    m_form->m_closing = true;
    m_form->close();
    m_form->deleteLater(); // freed once the messages pending for it are handled
}

void TProgressWindow::SetInfoText(const QString& text) {
    if (m_form) m_form->lblInfo->setText(text);
    ProcessMessages();
}

void TProgressWindow::SetCancelCaption(const QString& text) {
    if (m_form) m_form->btnCancel->setText(text);
}

void TProgressWindow::SetRange(int minimum, int maximum) {
    if (m_form) {
        m_form->ProgressBar->setMinimum(minimum);
        m_form->ProgressBar->setMaximum(maximum);
        m_form->ProgressBar->setValue(minimum);
    }
    ProcessMessages();
}

void TProgressWindow::StepBy(int delta) {
    if (m_form) m_form->ProgressBar->setValue(m_form->ProgressBar->value() + delta);
    ProcessMessages();
}

void TProgressWindow::ProcessMessages() {
    QApplication::processEvents();
}

bool TProgressWindow::Cancelled() const {
    return m_form && m_form->FCancelled;
}
