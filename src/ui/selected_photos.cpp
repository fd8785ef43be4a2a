// SPDX-License-Identifier: GPL-3.0-or-later
#include "ui/selected_photos.h"

#include "ui/Lang.h"
#include "ui/language_room.h"

#include <QFileInfo>

namespace ui {

QString PhotoOnDisk(const session::ThumbList& list, std::int64_t index) {
    if (index >= 0 && index < std::int64_t(list.size()) &&
        QFileInfo::exists(list[std::size_t(index)].path))
        return list[std::size_t(index)].path;
    return {};
}

QStringList SelectedPhotos(const session::ThumbList& list, const GridSelection& selection) {
    QStringList paths;
    for (const int index : selection.Selected())
        if (const QString path = PhotoOnDisk(list, index); !path.isEmpty()) paths << path;
    return paths;
}

QString CountText(const LanguageRoom& language, std::size_t listed, int selected) {
    QString text = FormatMessage(QStringLiteral("%u ") + language.Msg(QStringLiteral("file(s)")),
                                 {QString::number(listed)});
    if (selected > 1)
        text += QStringLiteral(", ") + FormatMessage(language.Msg(QStringLiteral("%u selected")),
                                                     {QString::number(selected)});
    return text;
}

} // namespace ui
