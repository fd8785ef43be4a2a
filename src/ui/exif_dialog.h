// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include <QDialog>

class QPushButton;
class QTreeWidget;
class TLanguage;

// "EXIF Properties": the decoded properties of one photo, a row each (Tag, Value).
class TFormExif : public QDialog {
    Q_OBJECT
public:
    TFormExif(QWidget* mainWindow, const QString& languageFile);

    void addRow(const QString& label, const QString& value);
    int rowCount() const;

    QTreeWidget* ListView;
    QPushButton* btnOk;

private:
    void FormCreate(const QString& languageFile);
    TLanguage* m_lang = nullptr;
};
