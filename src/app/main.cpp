// SPDX-License-Identifier: GPL-3.0-or-later
#include "app/application.h"
#include "app/instance.h"
#include "app/start_arguments.h"
#include "ui/main_window.h"

#include <QIcon>

#include <cstdio>
#include <memory>
#include <optional>

#include "platform/allocator.h"

namespace {

constexpr int kBadUsage = 2;

// --version and --help answer on standard output and exit 0.
int Answer(app::StartArguments::Action action) {
    if (action == app::StartArguments::Action::Version)
        std::printf("tulvex %s\n", TULVEX_VERSION);
    else
        std::fputs(app::kStartUsage, stdout);
    return 0;
}

} // namespace

int main(int argc, char* argv[]) {
    platform::KeepImageBuffersMapped();
    // These need no display: answered before the window system starts.
    if (const auto request = app::VersionOrHelpRequest(argc, argv);
        request != app::StartArguments::Action::Run)
        return Answer(request);

    // Asked before this copy holds its own markers, which would answer for it.
    const bool anotherRuns = app::InstanceMarkers::IsRunning();
    std::optional<app::InstanceMarkers> markers(std::in_place); // others can see that Tulvex runs

    app::TulvexApplication application(argc, argv);
    application.setApplicationName(TFormTulvex::kTitle);
    application.setApplicationVersion(QStringLiteral(TULVEX_VERSION));
    application.setDesktopFileName(QStringLiteral("org.example.tulvex"));
    // The installed icon; a build folder has none, and the window system shows its own.
    application.setWindowIcon(QIcon::fromTheme(QStringLiteral("org.example.tulvex")));
    const app::StartArguments start = app::ParseStartArguments(application.arguments().mid(1));
    if (start.action == app::StartArguments::Action::BadUsage) {
        std::fprintf(stderr, "tulvex: %s\n%s", qPrintable(start.problem), app::kStartUsage);
        return kBadUsage;
    }

    auto window = std::make_unique<TFormTulvex>();
    window->SetStartPath(start.path);
    if (anotherRuns) window->CascadeFromAnother();
    window->show();
    const int result = application.exec();

    markers.reset();
    window.reset(); // its destruction writes the settings
    return result;
}
