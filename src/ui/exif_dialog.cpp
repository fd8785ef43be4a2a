// SPDX-License-Identifier: GPL-3.0-or-later
#include "ui/exif_dialog.h"

#include "exif/exif_format.h"
#include "exif/exif_reader.h"
#include "exif/jpeg_header.h"
#include "lang/charset.h"
#include "ui/Lang.h"
#include "ui/desktop_commands.h"
#include "ui/icons.h"
#include "ui/language_room.h"
#include "ui/shell.h"

#include <QFile>
#include <QFileInfo>
#include <QHeaderView>
#include <QLocale>
#include <QPushButton>
#include <QTreeWidget>

TFormExif::TFormExif(QWidget* mainWindow, const QString& languageFile)
    : QDialog(mainWindow, Qt::Dialog | Qt::MSWindowsFixedSizeDialogHint) {
    setObjectName("FormExif");
    if (mainWindow) setFont(mainWindow->font()); // a dialog does not inherit its window's font
    setWindowTitle("EXIF Properties");
    setFixedSize(362, 423);
    ListView = new QTreeWidget(this);
    ListView->setObjectName("ListView");
    ListView->setGeometry(13, 16, 337, 353);
    ListView->setColumnCount(2);
    ListView->setRootIsDecorated(false);
    ListView->setSelectionBehavior(QAbstractItemView::SelectRows);
    ListView->setEditTriggers(QAbstractItemView::NoEditTriggers);
    ListView->setSortingEnabled(false);
    ListView->setIconSize(QSize(16, 16));
    ListView->header()->setStretchLastSection(false);
    ListView->setColumnWidth(0, 150);
    ListView->setColumnWidth(1, 160);
    btnOk = new QPushButton("&OK", this);
    btnOk->setObjectName("btnOk");
    btnOk->setGeometry(143, 384, 75, 25);
    connect(btnOk, &QPushButton::clicked, this, &QDialog::accept);
    FormCreate(languageFile);
}

void TFormExif::FormCreate(const QString& languageFile) {
    m_lang = new TLanguage(this);
    m_lang->setLanguageFile(languageFile);
    m_lang->Properties() << "FormExif.Caption"
                         << "FormExif.btnOk.Caption";
    m_lang->ApplyTranslations();
    ListView->setHeaderLabels({m_lang->LookupMessage("Tag"), m_lang->LookupMessage("Value")});
}

void TFormExif::addRow(const QString& label, const QString& value) {
    auto* item = new QTreeWidgetItem(ListView, {label, value}); // owned by the list
    item->setIcon(0, ui::BulletIcon());
    item->setToolTip(0, label);
    item->setToolTip(1, value);
}

int TFormExif::rowCount() const {
    return ListView->topLevelItemCount();
}

namespace ui {

void ShowExif(QWidget* window, const QString& path, const LanguageRoom& language) {
    TFormExif dialog(window, language.LanguageFile());
    const std::vector<std::uint8_t> header =
        exif::ReadJpegHeader(QFile::encodeName(path).toStdString());
    const std::string separator = QLocale().decimalPoint().toStdString();
    for (const exif::ExifRow& row : exif::ExifRows(exif::ReadJpegExif(header), separator))
        dialog.addRow(QString::fromStdString(row.label), lang::DecodeUtf8OrWindows1252(row.value));
    if (dialog.rowCount() == 0) {
        // Over the window: the dialog is not shown, so a box over it would sit at the corner.
        ui::Shell::current().message(window, QString(),
                                     language.Msg("This file does not contain EXIF data."),
                                     ui::Shell::Icon::Information);
        return;
    }
    dialog.exec();
}

} // namespace ui
