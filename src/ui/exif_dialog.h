// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include <QDialog>

class QAction;
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
    // The title names the photo the rows are of.
    void SetPhoto(const QString& path);
    // The values of the selected rows, one a line, to the clipboard (Ctrl+C or the menu).
    void CopySelectedValues();

    QTreeWidget* ListView;
    QPushButton* btnOk;
    QAction* CopyAction = nullptr;

private:
    void FormCreate(const QString& languageFile);
    void AddCopyCommand();
    TLanguage* m_lang = nullptr;
};
