// SPDX-License-Identifier: GPL-3.0-or-later
#include "ui/desktop_open.h"

#include <QCoreApplication>
#include <QProcess>

namespace ui {

void OpenOnDesktop(const QUrl& url, std::function<void(bool opened)> done) {
    // Owned by the application and deleted once finished; QProcess kills only xdg-open itself
    // when the application ends first, never the program it started.
    auto* process = new QProcess(QCoreApplication::instance());
    process->setProgram(QStringLiteral("xdg-open"));
    process->setArguments(
        {url.isLocalFile() ? url.toLocalFile() : url.toString(QUrl::FullyEncoded)});
    // Nothing reads them, and the program started inherits them.
    process->setStandardInputFile(QProcess::nullDevice());
    process->setStandardOutputFile(QProcess::nullDevice());
    process->setStandardErrorFile(QProcess::nullDevice());
    QObject::connect(process, &QProcess::errorOccurred, process,
                     [process, done](QProcess::ProcessError error) {
                         if (error != QProcess::FailedToStart) return;
                         if (done) done(false);
                         process->deleteLater();
                     });
    QObject::connect(process, &QProcess::finished, process,
                     [process, done](int exitCode, QProcess::ExitStatus status) {
                         if (done) done(status == QProcess::NormalExit && exitCode == 0);
                         process->deleteLater();
                     });
    process->start();
}

} // namespace ui
