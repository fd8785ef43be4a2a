// SPDX-License-Identifier: GPL-3.0-or-later
// tulvex-cli: the photo work of the window without a window.
#include <QCoreApplication>

#include <cstdio>

#include "cli/options.h"
#include "cli/tag_commands.h"
#include "cli/thumbnails_command.h"
#include "cli/turn_commands.h"
#include "cli/undo_command.h"
#include "cli/usage.h"

int main(int argc, char* argv[]) {
    using namespace cli;
    QCoreApplication application(argc, argv);
    QStringList args = application.arguments().mid(1);
    if (args.isEmpty()) return Usage();
    const QString command = args.takeFirst();
    if (command == "--help" || command == "-h") return Help();
    if (command == "--version") {
        std::printf("tulvex-cli %s\n", TULVEX_VERSION);
        return kOk;
    }
    const std::optional<Options> options = ParseOptions(args);
    if (!options) return Usage("unknown or incomplete option");
    if (command == "rotate") return CmdRotate(*options);
    if (command == "auto") return CmdAuto(*options);
    if (command == "undo") return CmdUndo(*options);
    if (command == "redo") return CmdRedo(*options);
    if (command == "orientation") return CmdOrientation(*options);
    if (command == "exif") return CmdExif(*options);
    if (command == "thumbnails") return CmdThumbnails(*options);
    return Usage("unknown command");
}
