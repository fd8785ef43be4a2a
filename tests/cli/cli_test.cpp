// SPDX-License-Identifier: GPL-3.0-or-later
#include "exif/exif_reader.h"
#include "support/jpeg_factory.h"
#include "support/temp_dir.h"

#include <gtest/gtest.h>

#include <QCoreApplication>
#include <QFile>
#include <QFileInfo>
#include <QImage>

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
    EXPECT_EQ(ReadFile(dir.file("th/a.jpg.png")).empty(), false);
}

TEST(TulvexCli, HelpAndVersionOnStandardOutputUsageOnStandardError)
{
    const std::string cli = (QCoreApplication::applicationDirPath() + "/tulvex-cli").toStdString();
    int status = -1;
    const std::string help = RunCommand(cli + " --help 2>/dev/null", &status);
    EXPECT_EQ(WEXITSTATUS(status), 0);
    EXPECT_NE(help.find("tulvex-cli thumbnails"), std::string::npos) << help;
    EXPECT_EQ(RunCommand(cli + " --version 2>/dev/null", &status), "tulvex-cli " TULVEX_VERSION "\n");
    EXPECT_EQ(WEXITSTATUS(status), 0);
    // The window program answers the same way, --version without any display.
    const std::string window = (QCoreApplication::applicationDirPath() + "/tulvex").toStdString();
    EXPECT_EQ(RunCommand("env -u DISPLAY -u QT_QPA_PLATFORM " + window + " --version 2>/dev/null", &status),
              "tulvex " TULVEX_VERSION "\n");
    EXPECT_EQ(WEXITSTATUS(status), 0);
    EXPECT_NE(RunCommand("QT_QPA_PLATFORM=offscreen " + window + " /a /b 2>&1 >/dev/null", &status).find("usage: tulvex [FOLDER | PHOTO]"),
              std::string::npos);
    EXPECT_EQ(WEXITSTATUS(status), 2);
    for (const char* bad : {"", " rotate", " --frob", " thumbnails --cell"}) {
        EXPECT_EQ(RunCommand(cli + bad + " 2>/dev/null", &status), "") << bad;
        EXPECT_EQ(WEXITSTATUS(status), 2) << bad;
        EXPECT_NE(RunCommand(cli + bad + " 2>&1 >/dev/null", &status).find("usage: tulvex-cli"), std::string::npos);
    }
}

TEST(TulvexCli, ThumbnailsKeepSubfoldersApartAndReportFailures)
{
    TempDir dir;
    const QString photos = dir.mkdir("photos");
    dir.mkdir("photos/2019");
    dir.mkdir("photos/2020");
    WriteFile(dir.file("photos/2019/IMG_0001.jpg"), MakeJpegWithExif(64, 48, {}));
    WriteFile(dir.file("photos/2020/IMG_0001.jpg"), MakeJpegWithExif(48, 64, {}));
    WriteFile(dir.file("photos/IMG.jpg"), MakeJpegWithExif(32, 32, {}));
    WriteFile(dir.file("photos/IMG.JPG"), MakeJpegWithExif(16, 32, {}));
    int code = -1;
    const std::string out = dir.file("th");
    Cli("thumbnails --recursive --cell 100 --out " + out + " " + photos.toStdString(), &code);
    EXPECT_EQ(code, 0);
    // Each photo has its own file, showing its own shape.
    const auto shapeOf = [](const std::string& png) {
        const QSize size = QImage(QString::fromStdString(png)).size();
        return size.isEmpty() ? "none" : size.width() > size.height() ? "wide" : size.width() < size.height() ? "tall" : "square";
    };
    EXPECT_STREQ(shapeOf(out + "/2019/IMG_0001.jpg.png"), "wide");
    EXPECT_STREQ(shapeOf(out + "/2020/IMG_0001.jpg.png"), "tall");
    EXPECT_STREQ(shapeOf(out + "/IMG.jpg.png"), "square");
    EXPECT_STREQ(shapeOf(out + "/IMG.JPG.png"), "tall");

    // A photo that cannot be read, or a thumbnail that cannot be written, fails the run.
    WriteFile(dir.file("photos/2020/broken.jpg"), Bytes{0xFF, 0xD8, 'x'});
    std::string report = Cli("thumbnails --recursive " + photos.toStdString(), &code);
    EXPECT_EQ(code, 1) << report;
    EXPECT_NE(report.find("broken.jpg: unreadable"), std::string::npos) << report;
    QFile::remove(dir.qfile("photos/2020/broken.jpg"));
    dir.mkdir("out2");
    WriteFile(dir.file("out2/2019"), Bytes{'x'}); // a file where the 2019 folder of the output must go
    report = Cli("thumbnails --recursive --out " + dir.file("out2") + " " + photos.toStdString(), &code);
    EXPECT_EQ(code, 1) << report;
    EXPECT_NE(report.find("cannot write"), std::string::npos) << report;
    EXPECT_TRUE(QFileInfo::exists(dir.qfile("out2/2020/IMG_0001.jpg.png"))) << "the others are still written";
    Cli("thumbnails " + dir.file("missing"), &code);
    EXPECT_EQ(code, 1);
}
