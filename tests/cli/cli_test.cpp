// SPDX-License-Identifier: GPL-3.0-or-later
#include "exif/exif_reader.h"
#include "rotate/transform.h"
#include "support/jpeg_factory.h"
#include "support/kept_copy.h"
#include "support/scoped_variable.h"
#include "support/temp_dir.h"

#include <QCoreApplication>
#include <QFile>
#include <QFileInfo>
#include <QImage>

#include <fcntl.h>
#include <unistd.h>

#include <gtest/gtest.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <sys/xattr.h>

#include "cli/run_cli.h"

using namespace testing_support;

TEST(TulvexCli, ExitCodesAndReports) {
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
    EXPECT_NE(Cli("rotate left " + dir.file("missing.jpg"), &code)
                  .find("missing.jpg: the file or folder is not there (any more)"),
              std::string::npos);
    EXPECT_EQ(code, 1);

    const std::string report = Cli("auto " + dir.path(), &code);
    EXPECT_EQ(code, 0);
    EXPECT_NE(report.find("a.jpg: orientation 6, turned upright"), std::string::npos) << report;
    EXPECT_NE(report.find("odd.jpg: skipped"), std::string::npos) << report;
    EXPECT_EQ(exif::OrientationOf(exif::ReadJpegExif(ReadFile(dir.file("a.jpg")))), 1);
    EXPECT_EQ(exif::OrientationOf(exif::ReadJpegExif(ReadFile(dir.file("odd.jpg")))), 6);

    const Bytes before = ReadFile(dir.file("odd.jpg"));
    EXPECT_EQ(Cli("orientation --set 3 " + dir.file("odd.jpg"), &code),
              dir.file("odd.jpg") + "\t3\n");
    const Bytes after = ReadFile(dir.file("odd.jpg"));
    ASSERT_EQ(before.size(), after.size());
    int changed = 0;
    for (std::size_t i = 0; i < before.size(); ++i)
        changed += before[i] != after[i];
    EXPECT_EQ(changed, 1) << "only the orientation value changes";

    EXPECT_NE(Cli("exif " + dir.file("a.jpg"), &code).find("Orientation\tHorizontal (normal)"),
              std::string::npos);
    EXPECT_NE(Cli("thumbnails --out " + dir.file("th") + " " + dir.path(), &code)
                  .find("2 thumbnails made"),
              std::string::npos);
    EXPECT_EQ(ReadFile(dir.file("th/a.jpg.png")).empty(), false);
}

// Nothing written is a failure that names the photo and why, never the old value and success.
TEST(TulvexCli, OrientationSetThatWritesNothingFails) {
    TempDir dir;
    ExifSpec none, six;
    none.orientation = 0;
    six.orientation = 6;
    WriteFile(dir.file("no-entry.jpg"), MakeJpegWithExif(32, 32, none));
    WriteFile(dir.file("read-only.jpg"), MakeJpegWithExif(32, 32, six));
    ASSERT_EQ(::chmod(dir.file("read-only.jpg").c_str(), 0444), 0);
    WriteFile(dir.file("locked.jpg"), MakeJpegWithExif(32, 32, six));
    const int holder = ::open(dir.file("locked.jpg").c_str(), O_RDONLY);
    ASSERT_GE(holder, 0);
    ASSERT_EQ(::flock(holder, LOCK_EX), 0);
    struct Case {
        const char* name;
        const char* why;
    };
    for (const Case c :
         {Case{"no-entry.jpg", "no EXIF orientation entry"}, Case{"read-only.jpg", "read-only"},
          Case{"locked.jpg", "another program is changing the photo"}}) {
        const Bytes before = ReadFile(dir.file(c.name));
        int code = -1;
        const std::string out = Cli("orientation --set 3 " + dir.file(c.name), &code);
        EXPECT_EQ(code, 1) << out;
        EXPECT_NE(out.find(dir.file(c.name) + ": orientation not set: "), std::string::npos) << out;
        EXPECT_NE(out.find(c.why), std::string::npos) << out;
        EXPECT_TRUE(ReadFile(dir.file(c.name)) == before) << c.name;
    }
    ::close(holder);
}

TEST(TulvexCli, HelpAndVersionOnStandardOutputUsageOnStandardError) {
    const std::string cli = (QCoreApplication::applicationDirPath() + "/tulvex-cli").toStdString();
    int status = -1;
    const std::string help = RunCommand(cli + " --help 2>/dev/null", &status);
    EXPECT_EQ(WEXITSTATUS(status), 0);
    EXPECT_NE(help.find("tulvex-cli thumbnails"), std::string::npos) << help;
    EXPECT_EQ(RunCommand(cli + " --version 2>/dev/null", &status),
              "tulvex-cli " TULVEX_VERSION "\n");
    EXPECT_EQ(WEXITSTATUS(status), 0);
    // The window program answers the same way, --version without any display.
    const std::string window = (QCoreApplication::applicationDirPath() + "/tulvex").toStdString();
    EXPECT_EQ(RunCommand("env -u DISPLAY -u QT_QPA_PLATFORM " + window + " --version 2>/dev/null",
                         &status),
              "tulvex " TULVEX_VERSION "\n");
    EXPECT_EQ(WEXITSTATUS(status), 0);
    EXPECT_NE(RunCommand("QT_QPA_PLATFORM=offscreen " + window + " /a /b 2>&1 >/dev/null", &status)
                  .find("usage: tulvex [FOLDER | PHOTO]"),
              std::string::npos);
    EXPECT_EQ(WEXITSTATUS(status), 2);
    for (const char* bad : {"", " rotate", " --frob", " thumbnails --cell"}) {
        EXPECT_EQ(RunCommand(cli + bad + " 2>/dev/null", &status), "") << bad;
        EXPECT_EQ(WEXITSTATUS(status), 2) << bad;
        EXPECT_NE(RunCommand(cli + bad + " 2>&1 >/dev/null", &status).find("usage: tulvex-cli"),
                  std::string::npos);
    }
}

TEST(TulvexCli, AMemoryCapThatIsNoAmountTurnsNothing) {
    TempDir dir;
    ExifSpec spec;
    spec.orientation = 6;
    const Bytes photo = MakeJpegWithExif(64, 48, spec);
    WriteFile(dir.file("a.jpg"), photo);
    int code = -1;
    for (const char* value : {"4G4", "0", "1e9", "0x400"}) {
        const ScopedVariable cap("TULVEX_MAX_TURN_MEMORY", value);
        for (const std::string command :
             {"rotate right " + dir.file("a.jpg"), "auto " + dir.path()}) {
            const std::string said = Cli(command, &code);
            EXPECT_EQ(code, 2) << command << " with " << value;
            EXPECT_NE(said.find("TULVEX_MAX_TURN_MEMORY=\"" + std::string(value) + "\""),
                      std::string::npos)
                << said;
            EXPECT_NE(said.find("1.5G"), std::string::npos) << said;
            EXPECT_EQ(ReadFile(dir.file("a.jpg")), photo);
        }
    }
    const ScopedVariable cap("TULVEX_MAX_TURN_MEMORY", "1.5g");
    Cli("rotate right " + dir.file("a.jpg"), &code);
    EXPECT_EQ(code, 0);
    EXPECT_NE(ReadFile(dir.file("a.jpg")), photo);
}

TEST(TulvexCli, ThumbnailsKeepSubfoldersApartAndReportFailures) {
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
        return size.isEmpty()                 ? "none"
               : size.width() > size.height() ? "wide"
               : size.width() < size.height() ? "tall"
                                              : "square";
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
    WriteFile(dir.file("out2/2019"),
              Bytes{'x'}); // a file where the 2019 folder of the output must go
    report =
        Cli("thumbnails --recursive --out " + dir.file("out2") + " " + photos.toStdString(), &code);
    EXPECT_EQ(code, 1) << report;
    EXPECT_NE(report.find("cannot write"), std::string::npos) << report;
    EXPECT_TRUE(QFileInfo::exists(dir.qfile("out2/2020/IMG_0001.jpg.png")))
        << "the others are still written";
    Cli("thumbnails " + dir.file("missing"), &code);
    EXPECT_EQ(code, 1);
}

TEST(TulvexCli, OneWriterPerPhoto) {
    TempDir dir;
    ExifSpec spec;
    spec.orientation = 6;
    const Bytes photo = MakeJpegWithExif(64, 48, spec);
    for (const char* name : {"twice.jpg", "half.jpg", "linked.jpg", "reference.jpg"})
        WriteFile(dir.file(name), photo);
    ASSERT_EQ(::link(dir.file("linked.jpg").c_str(), dir.file("hard.jpg").c_str()), 0);
    ASSERT_EQ(::symlink("half.jpg", dir.file("soft.jpg").c_str()), 0);
    int code = -1;
    Cli("rotate 180 " + dir.file("reference.jpg"), &code);
    ASSERT_EQ(code, 0);
    int w = 0, h = 0;
    const Bytes halfTurn = DecodeRgb(ReadFile(dir.file("reference.jpg")), w, h);

    // Named twice, through a hard link, through a symbolic link: every job turns once more.
    const std::string report =
        Cli("rotate left " + dir.file("twice.jpg") + " " + dir.file("twice.jpg") + " " +
                dir.file("linked.jpg") + " " + dir.file("hard.jpg") + " " + dir.file("half.jpg") +
                " " + dir.file("soft.jpg"),
            &code);
    EXPECT_EQ(code, 0) << report;
    for (const char* name : {"twice.jpg", "linked.jpg", "half.jpg"}) {
        int w2 = 0, h2 = 0;
        EXPECT_TRUE(DecodeRgb(ReadFile(dir.file(name)), w2, h2) == halfTurn) << name << "\n"
                                                                             << report;
    }

    // The automatic pass reaches one photo by two names and turns it once.
    TempDir folder;
    WriteFile(folder.file("a.jpg"), photo);
    ASSERT_EQ(::symlink("a.jpg", folder.file("b.jpg").c_str()), 0);
    const std::string first = Cli("auto " + folder.path(), &code);
    EXPECT_NE(first.find("1 turned, 0 skipped, 0 failed"), std::string::npos) << first;
    const Bytes once = ReadFile(folder.file("a.jpg"));
    const std::string second = Cli("auto " + folder.path(), &code);
    EXPECT_NE(second.find("0 turned, 0 skipped, 0 failed"), std::string::npos) << second;
    EXPECT_TRUE(ReadFile(folder.file("a.jpg")) == once);
}

TEST(TulvexCli, TwoAutomaticPassesLeaveEveryPhotoAsOnePassDoes) {
    TempDir folder;
    ExifSpec six, eight;
    six.orientation = 6;
    eight.orientation = 8;
    eight.thumbnail = MakeJpeg(32, 24);
    WriteFile(folder.file("plain.jpg"), MakeJpegWithExif(64, 48, six));
    // XMP ahead of EXIF: the pass must write the orientation where it reads it.
    WriteFile(folder.file("xmp-first.jpg"),
              InsertAfterSoi(InsertAfterSoi(MakeJpeg(64, 48), MakeApp1(MakeTiff(six))),
                             MakeXmpApp1(XmpPacketWithOrientation(6, false))));
    WriteFile(folder.file("mpf.jpg"),
              MakeMpfFile(MakeJpegWithExif(64, 48, eight), {{MakeJpeg(32, 32)}},
                          jpeg::ByteOrder::Big, Bytes(100, 0x42)));
    int code = -1;
    const std::string first = Cli("auto " + folder.path(), &code);
    EXPECT_NE(first.find("3 turned, 0 skipped, 0 failed"), std::string::npos) << first;
    std::vector<Bytes> once;
    for (const char* name : {"plain.jpg", "xmp-first.jpg", "mpf.jpg"})
        once.push_back(ReadFile(folder.file(name)));
    const std::string second = Cli("auto " + folder.path(), &code);
    EXPECT_NE(second.find("0 turned, 0 skipped, 0 failed"), std::string::npos) << second;
    std::size_t i = 0;
    for (const char* name : {"plain.jpg", "xmp-first.jpg", "mpf.jpg"})
        EXPECT_TRUE(ReadFile(folder.file(name)) == once[i++]) << name;
}

TEST(TulvexCli, RotateAndAutoFinishTheInterruptedTurnsBesideThePhotosFirst) {
    for (const bool rotate : {true, false}) {
        SCOPED_TRACE(rotate ? "rotate" : "auto");
        TempDir dir;
        ExifSpec spec;
        spec.orientation = 6;
        WriteFile(dir.file("a.jpg"), MakeJpegWithExif(64, 48, spec));
        const std::string photo = dir.file("b.jpg"), other = dir.file("b-too.jpg");
        WriteFile(photo, MakeJpeg(64, 48));
        ASSERT_EQ(::link(photo.c_str(), other.c_str()), 0);
        const Bytes old = ReadFile(photo);
        Bytes next;
        ASSERT_TRUE(
            rotate::TurnJpegBytes(old, rotate::QuarterTurns::Two, std::nullopt, true, next).ok());
        const std::string kept = InterruptedLinkedTurn(photo, next);
        ASSERT_FALSE(kept.empty());
        // The rewrite had begun: a photo no viewer can show whole.
        WriteFile(photo, TornRewrite(old, next));
        WriteFile(dir.file(".notes.txt.tulvex-keep-ABCDEF"), {'j', 'u', 'n', 'k'});

        int code = -1;
        const std::string report =
            Cli(rotate ? "rotate right " + dir.file("a.jpg") : "auto " + dir.path(), &code);
        EXPECT_EQ(code, 0) << report;
        EXPECT_NE(report.find("b.jpg: the interrupted turn was finished"), std::string::npos)
            << report;
        EXPECT_NE(report.find(".notes.txt.tulvex-keep-ABCDEF: named like a copy kept during a "
                              "turn, but belongs to no photo here"),
                  std::string::npos)
            << report;
        EXPECT_EQ(ReadFile(other), next);
        EXPECT_FALSE(QFile::exists(QString::fromStdString(kept)));
        EXPECT_EQ(ReadFile(dir.file(".notes.txt.tulvex-keep-ABCDEF")), (Bytes{'j', 'u', 'n', 'k'}));
        EXPECT_EQ(exif::OrientationOf(exif::ReadJpegExif(ReadFile(dir.file("a.jpg")))), 1);
    }
}

// A turn that cannot carry the photo's extended attributes over is refused and says why; the
// photo stays as it was.
TEST(TulvexCli, ATurnThatWouldLoseExtendedAttributesIsRefused) {
    TempDir dir;
    const std::string a = dir.file("a.jpg");
    WriteFile(a, MakeJpegWithExif(64, 48, {}));
    if (::setxattr(a.c_str(), "user.tulvex.note", "kept", 4, 0) != 0)
        GTEST_SKIP() << "no extended attributes here";
    const Bytes before = ReadFile(a);
    std::string report;
    int code = -1;
    if (!CliWithFaults("-e trace=fsetxattr -e inject=fsetxattr:error=ENOSPC", "rotate right " + a,
                       report, &code))
        GTEST_SKIP() << "no strace";
    EXPECT_EQ(code, 1) << report;
    EXPECT_NE(report.find("Unable to rotate " + a +
                          ": its extended attributes could not be copied: the disk is full"),
              std::string::npos)
        << report;
    EXPECT_EQ(ReadFile(a), before);
    EXPECT_EQ(QDir(dir.qpath()).entryList(QDir::Files | QDir::Hidden), QStringList{"a.jpg"});
}
