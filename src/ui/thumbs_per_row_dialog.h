// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include "thumbs/wheel_steps.h"

#include <QDialog>
#include <QWidget>

class QLabel;
class QLineEdit;
class QPushButton;
class QToolButton;
class TLanguage;

// Spin buttons bound to an edit: they show their position in it and read it back from there;
// text that is not a number in range leaves the last valid position. The arrow keys and the
// wheel over the edit step it too.
class TUpDown : public QWidget {
    Q_OBJECT
public:
    TUpDown(QLineEdit* associate, int minimum, int maximum, QWidget* parent);
    int position() const; // reads the edit back
    void setPosition(int value);

protected:
    bool eventFilter(QObject* watched, QEvent* event) override;

private:
    QLineEdit* m_edit;
    int m_min, m_max;
    mutable int m_position;
    thumbs::WheelSteps m_wheel;
};

// "Thumbnails in Row": chooses 1 to 20 thumbnails per grid row.
class TThumbForm : public QDialog {
    Q_OBJECT
public:
    TThumbForm(QWidget* mainWindow, const QString& languageFile);

    QLabel* leQtyLabel;
    QLineEdit* leQty;
    TUpDown* udQty;
    QPushButton* btnOk;
    QPushButton* btnCancel;

private:
    void FormCreate(const QString& languageFile);
    TLanguage* m_lang;
};
