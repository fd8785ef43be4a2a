// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include <QApplication>

namespace app {

// An error raised inside any event handler ends that handler and is shown in the error box;
// the program goes on.
class TulvexApplication : public QApplication {
public:
    TulvexApplication(int& argc, char** argv) : QApplication(argc, argv) {}
    bool notify(QObject* receiver, QEvent* event) override;
};

} // namespace app
