// SPDX-License-Identifier: GPL-3.0-or-later
#include "ui/thumbs_per_row_dialog.h"

#include "ui/Lang.h"

#include <QKeyEvent>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>
#include <QToolButton>
#include <QVBoxLayout>
#include <QWheelEvent>

TUpDown::TUpDown(QLineEdit* associate, int minimum, int maximum, QWidget* parent)
    : QWidget(parent), m_edit(associate), m_min(minimum), m_max(maximum), m_position(minimum) {
    auto* layout = new QVBoxLayout(this);
    layout->setContentsMargins(0, 0, 0, 0);
    layout->setSpacing(0);
    auto* up = new QToolButton(this);
    up->setObjectName("up");
    up->setArrowType(Qt::UpArrow);
    auto* down = new QToolButton(this);
    down->setObjectName("down");
    down->setArrowType(Qt::DownArrow);
    for (auto* b : {up, down}) {
        b->setFixedSize(15, 10);
        b->setAutoRepeat(true);
        layout->addWidget(b);
    }
    connect(up, &QToolButton::clicked, this, [this] { setPosition(position() + 1); });
    connect(down, &QToolButton::clicked, this, [this] { setPosition(position() - 1); });
    setPosition(minimum);
    m_edit->installEventFilter(this);
}

bool TUpDown::eventFilter(QObject* watched, QEvent* event) {
    if (watched != m_edit) return QWidget::eventFilter(watched, event);
    if (event->type() == QEvent::KeyPress) {
        const int key = static_cast<QKeyEvent*>(event)->key();
        if (key != Qt::Key_Up && key != Qt::Key_Down) return false;
        setPosition(position() + (key == Qt::Key_Up ? 1 : -1));
        return true;
    }
    if (event->type() == QEvent::Wheel) {
        // A notch up is one more; the wheel's rows count downwards.
        setPosition(position() -
                    m_wheel.rowsFor(static_cast<QWheelEvent*>(event)->angleDelta().y()));
        return true;
    }
    return false;
}

int TUpDown::position() const {
    bool ok = false;
    const int typed = m_edit->text().trimmed().toInt(&ok);
    if (ok && typed >= m_min && typed <= m_max) m_position = typed;
    return m_position;
}

void TUpDown::setPosition(int value) {
    m_position = std::clamp(value, m_min, m_max);
    m_edit->setText(QString::number(m_position));
}

TThumbForm::TThumbForm(QWidget* mainWindow, const QString& languageFile)
    : QDialog(mainWindow, Qt::Dialog | Qt::MSWindowsFixedSizeDialogHint) {
    setObjectName("ThumbForm");
    if (mainWindow) setFont(mainWindow->font()); // a dialog does not inherit its window's font
    setWindowTitle("Thumbnails in Row");
    setFixedSize(245, 102);
    leQty = new QLineEdit("1", this);
    leQty->setObjectName("leQty");
    leQty->setGeometry(159, 24, 42, 21);
    leQtyLabel = new QLabel("Thumbnails in Row", this);
    leQtyLabel->setObjectName("leQtyLabel");
    leQtyLabel->setAlignment(Qt::AlignRight | Qt::AlignVCenter);
    leQtyLabel->setGeometry(4, 24, 145, 21);
    leQtyLabel->setBuddy(leQty);
    udQty = new TUpDown(leQty, 1, 20, this);
    udQty->setObjectName("udQty");
    udQty->setGeometry(207, 24, 15, 21);
    btnOk = new QPushButton("&OK", this);
    btnOk->setObjectName("btnOk");
    btnOk->setGeometry(45, 68, 75, 25);
    btnOk->setAutoDefault(false);
    btnCancel = new QPushButton("&Cancel", this);
    btnCancel->setObjectName("btnCancel");
    btnCancel->setGeometry(126, 68, 75, 25);
    btnCancel->setAutoDefault(false);
    connect(btnOk, &QPushButton::clicked, this, &QDialog::accept);
    connect(btnCancel, &QPushButton::clicked, this, &QDialog::reject); // Esc too
    FormCreate(languageFile);
}

void TThumbForm::FormCreate(const QString& languageFile) {
    m_lang = new TLanguage(this);
    m_lang->setLanguageFile(languageFile);
    m_lang->Properties() << "ThumbForm.Caption"
                         << "ThumbForm.btnOk.Caption"
                         << "ThumbForm.btnCancel.Caption";
    m_lang->ApplyTranslations();
    leQtyLabel->setText(windowTitle());
}
