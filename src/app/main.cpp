// SPDX-License-Identifier: GPL-3.0-or-later
#include "app/application.h"
#include "app/instance.h"
#include "app/main_window.h"

#include <memory>
#include <optional>

int main(int argc, char* argv[])
{
    std::optional<app::InstanceMarkers> markers(std::in_place); // others can see that Tulvex runs
    app::DragSetting drag;
    drag.switchOff();

    app::TulvexApplication application(argc, argv);
    application.setApplicationName(TFormTulvex::kTitle);
    auto window = std::make_unique<TFormTulvex>();
    window->show();
    const int result = application.exec();

    drag.restore();
    markers.reset();
    window.reset(); // its destruction writes the settings
    return result;
}
