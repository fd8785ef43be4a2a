// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include <QDir>
#include <QTemporaryDir>

#include <string>

namespace testing_support {

// A folder that is removed with everything in it when the test ends.
class TempDir {
public:
    TempDir() { m_dir.setAutoRemove(true); }
    std::string path() const { return m_dir.path().toStdString(); }
    QString qpath() const { return m_dir.path(); }
    std::string file(const std::string& name) const { return path() + "/" + name; }
    QString qfile(const QString& name) const { return m_dir.path() + "/" + name; }
    QString mkdir(const QString& name) const {
        QDir().mkpath(qfile(name));
        return qfile(name);
    }

private:
    QTemporaryDir m_dir;
};

} // namespace testing_support
