// SPDX-License-Identifier: GPL-3.0-or-later
#include "exif/exif_reader.h"
#include "support/jpeg_factory.h"
#include "support/temp_dir.h"

#include <gtest/gtest.h>

#include <QCoreApplication>

#include <sys/wait.h>

using namespace testing_support;

namespace {

std::string Cli(const std::string& args, int* exitCode)
{
    const std::string cli = (QCoreApplication::applicationDirPath() + "/tulvex-cli").toStdString();
    int status = 0;
    const std::string out = RunCommand(cli + " " + args + " 2>&1", &status);
    *exitCode = WEXITSTATUS(status);
    return out;
}

} // namespace

TEST(TulvexCli, ExitCodesAndReports)
{
    TempDir dir;
    ExifSpec spec;
    spec.orientation = 6;
    WriteFile(dir.file("a.jpg"), MakeJpegWithExif(64, 48, spec));
    WriteFile(dir.file("odd.jpg"), MakeJpegWithExif(40, 24, spec));
    int code = -1;
    Cli("", &code);
    EXPECT_EQ(code, 2);
    Cli("rotate sideways " + dir.file("a.jpg"), &code);
    EXPECT_EQ(code, 2);
    EXPECT_NE(Cli("rotate left " + dir.file("missing.jpg"), &code).find("no such file"), std::string::npos);
    EXPECT_EQ(code, 1);

    const std::string report = Cli("auto " + dir.path(), &code);
    EXPECT_EQ(code, 0);
    EXPECT_NE(report.find("a.jpg: orientation 6, turned upright"), std::string::npos) << report;
    EXPECT_NE(report.find("odd.jpg: skipped"), std::string::npos) << report;
    EXPECT_EQ(exif::OrientationOf(exif::ReadJpegExif(ReadFile(dir.file("a.jpg")))), 1);
    EXPECT_EQ(exif::OrientationOf(exif::ReadJpegExif(ReadFile(dir.file("odd.jpg")))), 6);

    const Bytes before = ReadFile(dir.file("odd.jpg"));
    EXPECT_EQ(Cli("orientation --set 3 " + dir.file("odd.jpg"), &code), dir.file("odd.jpg") + "\t3\n");
    const Bytes after = ReadFile(dir.file("odd.jpg"));
    ASSERT_EQ(before.size(), after.size());
    int changed = 0;
    for (std::size_t i = 0; i < before.size(); ++i) changed += before[i] != after[i];
    EXPECT_EQ(changed, 1) << "only the orientation value changes";

    EXPECT_NE(Cli("exif " + dir.file("a.jpg"), &code).find("Orientation\tHorizontal (normal)"), std::string::npos);
    EXPECT_NE(Cli("thumbnails --out " + dir.file("th") + " " + dir.path(), &code).find("2 thumbnails made"),
              std::string::npos);
    EXPECT_EQ(ReadFile(dir.file("th/a.png")).empty(), false);
}
