// SPDX-License-Identifier: GPL-3.0-or-later
// What tulvex-cli does with paths that are not plain photo files, names it cannot print as they
// are, output folders it must not leave, and times it cannot restore.
#include "exif/exif_reader.h"
#include "support/jpeg_factory.h"
#include "support/temp_dir.h"

#include <QCoreApplication>
#include <QDir>
#include <QDirIterator>
#include <QFile>
#include <QFileInfo>

#include <unistd.h>

#include <gtest/gtest.h>
#include <string>
#include <sys/stat.h>
#include <sys/wait.h>
#include <vector>

using namespace testing_support;

namespace {

std::string CliPath() {
    return (QCoreApplication::applicationDirPath() + "/tulvex-cli").toStdString();
}

// Runs the command line in `folder`; a run that hangs is ended after a while and fails.
std::string CliIn(const std::string& folder, const std::string& args, int* exitCode) {
    int status = 0;
    const std::string out = RunCommand(
        "cd '" + folder + "' && timeout 30 " + CliPath() + " " + args + " 2>&1", &status);
    *exitCode = WEXITSTATUS(status);
    EXPECT_NE(*exitCode, 124) << "hung: " << args;
    return out;
}

QStringList FilesBelow(const QString& folder, const QString& suffix) {
    QStringList found;
    QDirIterator it(folder, QDir::Files | QDir::Hidden, QDirIterator::Subdirectories);
    while (it.hasNext()) {
        const QString path = it.next();
        if (path.endsWith(suffix)) found << QDir(folder).relativeFilePath(path);
    }
    found.sort();
    return found;
}

} // namespace

TEST(TulvexCliPaths, ThumbnailsNeverLeaveTheOutputFolder) {
    TempDir dir;
    dir.mkdir("work/photos");
    dir.mkdir("work/run");
    dir.mkdir("outside");
    WriteFile(dir.file("work/photos/x.jpg"), MakeJpegWithExif(64, 48, {}));
    WriteFile(dir.file("work/y.jpg"), MakeJpegWithExif(48, 64, {}));
    const std::string run = dir.file("work/run");
    int code = -1;

    CliIn(run, "thumbnails ../photos --out o", &code);
    EXPECT_EQ(code, 0);
    CliIn(run, "thumbnails .. --out o", &code);
    EXPECT_EQ(code, 0);
    CliIn(run, "thumbnails --recursive .. --out r", &code);
    EXPECT_EQ(code, 0);
    EXPECT_EQ(FilesBelow(dir.qpath(), ".png"),
              QStringList({"work/run/o/x.jpg.png", "work/run/o/y.jpg.png",
                           "work/run/r/photos/x.jpg.png", "work/run/r/y.jpg.png"}));

    // Links inside the output folder, to a folder or a file outside it, are not followed.
    dir.mkdir("work/run/l");
    ASSERT_EQ(::symlink(dir.file("outside").c_str(), dir.file("work/run/l/photos").c_str()), 0);
    ASSERT_EQ(
        ::symlink(dir.file("outside/victim").c_str(), dir.file("work/run/l/y.jpg.png").c_str()), 0);
    const std::string report = CliIn(run, "thumbnails --recursive .. --out l", &code);
    EXPECT_EQ(code, 1) << report;
    EXPECT_NE(report.find("cannot write"), std::string::npos) << report;
    EXPECT_TRUE(QDir(dir.qfile("outside")).isEmpty()) << report;

    // A linked subfolder of the photos lands inside the output folder like any other.
    dir.mkdir("elsewhere");
    WriteFile(dir.file("elsewhere/z.jpg"), MakeJpegWithExif(32, 32, {}));
    ASSERT_EQ(::symlink(dir.file("elsewhere").c_str(), dir.file("work/photos/linked").c_str()), 0);
    CliIn(run, "thumbnails --recursive ../photos --out k", &code);
    EXPECT_EQ(code, 0);
    EXPECT_EQ(FilesBelow(dir.qfile("work/run/k"), ".png"),
              QStringList({"linked/z.jpg.png", "x.jpg.png"}));
    EXPECT_TRUE(FilesBelow(dir.qfile("elsewhere"), ".png").isEmpty());
}

TEST(TulvexCliPaths, NamesWhatAPathIsWithoutBlockingOnIt) {
    TempDir dir;
    dir.mkdir("folder.jpg");
    ASSERT_EQ(::mkfifo(dir.file("fifo.jpg").c_str(), 0666), 0);
    WriteFile(dir.file("ok.jpg"), MakeJpegWithExif(64, 48, {}));
    const std::string paths = dir.file("folder.jpg") + " " + dir.file("fifo.jpg") + " /dev/zero " +
                              dir.file("missing.jpg");
    for (const std::string& command :
         std::vector<std::string>{"rotate right", "exif", "orientation"}) {
        int code = -1;
        const std::string report = CliIn(dir.path(), command + " " + paths, &code);
        EXPECT_EQ(code, 1) << command;
        for (const std::string& line : std::vector<std::string>{
                 dir.file("folder.jpg") + ": it is a folder\n",
                 dir.file("fifo.jpg") + ": it is not a regular file (FIFO)\n",
                 "/dev/zero: it is a device\n",
                 dir.file("missing.jpg") + ": the file or folder is not there (any more)\n"})
            EXPECT_NE(report.find(line), std::string::npos) << command << ":\n" << report;
    }
    int code = -1;
    // A FIFO named like a photo in a folder is passed over, not read.
    std::string report = CliIn(dir.path(), "auto " + dir.path(), &code);
    EXPECT_EQ(code, 0) << report;
    report = CliIn(dir.path(), "thumbnails " + dir.file("ok.jpg"), &code);
    EXPECT_EQ(code, 1);
    EXPECT_NE(report.find("ok.jpg: it is a file, not a folder"), std::string::npos) << report;
}

TEST(TulvexCliPaths, NamesAreEscapedToOneLine) {
    TempDir dir;
    ExifSpec spec;
    spec.orientation = 6;
    const std::string name = "a\nb\\c\x1b\td.jpg";
    WriteFile(dir.file(name), MakeJpegWithExif(64, 48, spec));
    const std::string escaped = dir.file("a\\nb\\\\c\\x1b\\td.jpg");
    int code = -1;
    std::string report = CliIn(dir.path(), "auto " + dir.path(), &code);
    EXPECT_EQ(code, 0);
    EXPECT_EQ(report, escaped + ": orientation 6, turned upright\n1 turned, 0 skipped, 0 failed\n");
    report = CliIn(dir.path(), "rotate left '" + dir.file(name) + "'", &code);
    EXPECT_EQ(code, 0);
    EXPECT_EQ(report, escaped + ": turned left\n");
    report = CliIn(dir.path(), "exif '" + dir.file(name) + "' '" + dir.file(name) + "'", &code);
    EXPECT_NE(report.find("== " + escaped + "\n"), std::string::npos) << report;
    report = CliIn(dir.path(), "orientation '" + dir.file(name) + "'", &code);
    EXPECT_EQ(report, escaped + "\t1\n");
}

TEST(TulvexCliPaths, TimesThatCannotBeRestoredAreAWarningAndThePhotoCountsAsTurned) {
    if (::geteuid() != 0 || ::system("command -v setpriv >/dev/null") != 0)
        GTEST_SKIP() << "needs root and setpriv to turn as another user";
    // Another user may rewrite this hard-linked photo in place, but only its owner may set its
    // times: the turn goes through and the times cannot be restored.
    TempDir dir;
    ASSERT_EQ(::chmod(dir.path().c_str(), 0777), 0);
    ExifSpec spec;
    spec.orientation = 6;
    WriteFile(dir.file("p.jpg"), MakeJpegWithExif(64, 48, spec));
    ASSERT_EQ(::chmod(dir.file("p.jpg").c_str(), 0666), 0);
    ASSERT_EQ(::link(dir.file("p.jpg").c_str(), dir.file("link.jpg").c_str()), 0);
    int status = -1;
    const std::string report =
        RunCommand("setpriv --reuid=65534 --regid=65534 --clear-groups timeout 30 " + CliPath() +
                       " rotate --keep-time right " + dir.file("p.jpg") + " 2>&1",
                   &status);
    EXPECT_EQ(WEXITSTATUS(status), 0) << report;
    EXPECT_NE(report.find("warning: " + dir.file("p.jpg") +
                          " was turned, but its file times could not be restored: "),
              std::string::npos)
        << report;
    EXPECT_NE(report.find(dir.file("p.jpg") + ": turned right\n"), std::string::npos) << report;
    EXPECT_EQ(exif::OrientationOf(exif::ReadJpegExif(ReadFile(dir.file("p.jpg")))), 1);
}
