// SPDX-License-Identifier: GPL-3.0-or-later
#include "ui/exif_dialog.h"

#include "collection/scan.h"
#include "exif/exif_format.h"
#include "exif/exif_reader.h"
#include "exif/jpeg_header.h"
#include "lang/charset.h"
#include "ui/Lang.h"
#include "ui/desktop_commands.h"
#include "ui/icons.h"
#include "ui/language_room.h"
#include "ui/shell.h"

#include <QAction>
#include <QClipboard>
#include <QFile>
#include <QFileInfo>
#include <QGuiApplication>
#include <QHeaderView>
#include <QLocale>
#include <QPushButton>
#include <QTreeWidget>
#include <QVBoxLayout>

TFormExif::TFormExif(QWidget* mainWindow, const QString& languageFile)
    : QDialog(mainWindow, Qt::Dialog) {
    setObjectName("FormExif");
    if (mainWindow) setFont(mainWindow->font()); // a dialog does not inherit its window's font
    setWindowTitle("EXIF Properties");
    resize(362, 423); // the design's size; long values want more, so it can grow
    ListView = new QTreeWidget(this);
    ListView->setObjectName("ListView");
    ListView->setColumnCount(2);
    ListView->setRootIsDecorated(false);
    ListView->setSelectionBehavior(QAbstractItemView::SelectRows);
    ListView->setSelectionMode(QAbstractItemView::ExtendedSelection);
    ListView->setEditTriggers(QAbstractItemView::NoEditTriggers);
    ListView->setSortingEnabled(false);
    ListView->setIconSize(QSize(16, 16));
    ListView->header()->setStretchLastSection(true);
    ListView->setColumnWidth(0, 150);
    ListView->setColumnWidth(1, 160);
    btnOk = new QPushButton("&OK", this);
    btnOk->setObjectName("btnOk");
    btnOk->setFixedSize(75, 25);
    connect(btnOk, &QPushButton::clicked, this, &QDialog::accept);
    auto* layout = new QVBoxLayout(this);
    layout->setContentsMargins(13, 16, 12, 14);
    layout->setSpacing(15);
    layout->addWidget(ListView, 1);
    layout->addWidget(btnOk, 0, Qt::AlignHCenter);
    FormCreate(languageFile);
    AddCopyCommand();
}

void TFormExif::AddCopyCommand() {
    CopyAction = new QAction(m_lang->LookupMessage("Copy"), ListView);
    CopyAction->setObjectName("ActionCopy");
    CopyAction->setShortcut(QKeySequence::Copy);
    CopyAction->setShortcutContext(Qt::WidgetWithChildrenShortcut);
    connect(CopyAction, &QAction::triggered, this, &TFormExif::CopySelectedValues);
    ListView->addAction(CopyAction);
    ListView->setContextMenuPolicy(Qt::ActionsContextMenu);
}

void TFormExif::CopySelectedValues() {
    // In the order of the list, not of the clicks.
    QStringList values;
    for (int i = 0; i < ListView->topLevelItemCount(); ++i)
        if (const QTreeWidgetItem* item = ListView->topLevelItem(i); item->isSelected())
            values << item->text(1);
    if (!values.isEmpty()) QGuiApplication::clipboard()->setText(values.join(u'\n'));
}

void TFormExif::SetPhoto(const QString& path) {
    setWindowTitle(collection::FileNameOf(path) + QStringLiteral(" - ") + windowTitle());
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
    dialog.SetPhoto(path);
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
