// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include <QCollator>
#include <QString>
#include <QStringList>

namespace collection {

// ".jpg" or ".jpeg" in any case, taken from the last "." of the name.
bool HasJpegExtension(const QString& name);

// Appends the JPEG paths of `folder` (no trailing "/") in the order the file system lists
// them, hidden files included; with `recursive`, each subfolder's tree comes before the
// next entry. Folder links are followed once: a link back into the tree is not walked again.
// Temporaries left behind by a killed turn are reported in `stale` when it is given.
void ScanFolder(const QString& folder, bool recursive, QStringList& paths,
                QStringList* stale = nullptr);

// One trailing "/" removed, the root kept.
QString WithoutTrailingDelimiter(const QString& folder);

// The locale's case-insensitive comparison used for sorting.
const QCollator& PathCollator();
// Whether two paths name the same file: exact, as the file system compares them.
bool SamePath(const QString& a, const QString& b);
// The locale's case-insensitive order, ties broken by byte order so that names equal but for
// case always sort the same way.
bool PathLess(const QString& a, const QString& b);

// The last component of a path.
QString FileNameOf(const QString& path);

} // namespace collection
