// SPDX-License-Identifier: GPL-3.0-or-later
#include "app/application.h"

#include "ui/shell.h"

namespace app {

bool TulvexApplication::notify(QObject* receiver, QEvent* event) {
    try {
        return QApplication::notify(receiver, event);
    } catch (...) {
        ui::ShowCurrentException();
        return true;
    }
}

} // namespace app
