// SPDX-License-Identifier: GPL-3.0-or-later
#include "collection/scan.h"
#include "exif/exif_reader.h"
#include "lang/word_wrap.h"
#include "rotate/lossless_turn.h"
#include "rotate/transform.h"
#include "rotate/turn_memory.h"
#include "support/kept_copy.h"
#include "support/scoped_variable.h"
#include "ui/progress_window.h"
#include "ui/support/window_fixture.h"

#include <QAction>
#include <QCheckBox>
#include <QCoreApplication>
#include <QDir>
#include <QLineEdit>
#include <QMenu>
#include <QProgressBar>
#include <QPushButton>
#include <QToolButton>

#include <unistd.h>

#include "platform/file_io.h"

using namespace testing_support;

namespace {

std::uint16_t OrientationOnDisk(const QString& path) {
    return exif::OrientationOf(exif::ReadJpegExif(ReadFile(path.toStdString())));
}

} // namespace

TEST_F(WindowTest, LoadsAFolderSortedWithRowsStatusAndWarning) {
    const QStringList made = MakePhotos(photos.qpath(), {1, 6, 1, 3, 8, 2, 1});
    WriteFile(photos.file("notes.jpg"), Bytes{'t', 'e', 'x', 't'});
    photos.mkdir("Holiday.jpg");
    Start(photos.qpath(), "\"ThumbsInRow\"=dword:00000003\n");

    EXPECT_EQ(GridPaths(), made);
    EXPECT_EQ(Grid()->RowCount(), 3);
    EXPECT_EQ(StatusText(1), "7 file(s)");
    EXPECT_EQ(StatusText(0), "Warning! Unable to read some images.");
    EXPECT_EQ(window->selectedFile(), made[0]);
    ASSERT_EQ(window->autoList().size(), 3u) << "orientations 3, 6, 8; never the mirrored 2";
    EXPECT_EQ(window->autoList()[0].value, 6);
    EXPECT_EQ(window->autoList()[1].value, 3);
    EXPECT_EQ(window->autoList()[2].value, 8);
    EXPECT_EQ(PathBox()->text(), photos.qpath());
}

TEST_F(WindowTest, SubfoldersOnAndOff) {
    MakePhotos(photos.qpath(), {1, 1});
    MakePhotos(photos.mkdir("Sub"), {1, 1, 1});
    Start(photos.qpath());
    EXPECT_EQ(window->thumbList().size(), 2u);
    Control<QCheckBox>("cbSubFolders")->setChecked(true);
    EXPECT_EQ(window->thumbList().size(), 5u);
    EXPECT_TRUE(window->thumbList()[2].path.contains("/Sub/"));
    Control<QCheckBox>("cbSubFolders")->setChecked(false);
    EXPECT_EQ(window->thumbList().size(), 2u);
}

TEST_F(WindowTest, CancelDuringTheLoadKeepsTheImagesMadeSoFar) {
    MakePhotos(photos.qpath(), std::vector<int>(12, 1));
    Start(photos.qpath());
    WhenIdle([this] {
        if (window->thumbList().size() < 5) return false;
        if (auto* wait = window->findChild<TfrmWait*>()) wait->btnCancel->click();
        return true;
    });
    Action("pmiRefresh")->trigger();
    EXPECT_EQ(window->thumbList().size(), 5u);
    EXPECT_EQ(StatusText(1), "5 file(s)");
}

TEST_F(WindowTest, ALoadStartedDuringALoadSupersedesIt) {
    MakePhotos(photos.qpath(), std::vector<int>(10, 6));
    const QString other = photos.mkdir("other");
    const QStringList otherPhotos = MakePhotos(other, {1, 8, 1});
    Start(photos.qpath());
    bool started = false;
    WhenIdle([&] {
        if (window->thumbList().size() < 3) return false;
        started = true;
        window->LoadFolder(other);
        return true;
    });
    Action("pmiRefresh")->trigger();
    EXPECT_TRUE(started);
    EXPECT_EQ(GridPaths(), otherPhotos) << "the older load's results never reach the lists";
    ASSERT_EQ(window->autoList().size(), 1u);
    EXPECT_EQ(window->autoList()[0].path, otherPhotos[1]);
}

TEST_F(WindowTest, ClosingTheWindowStopsALoadInProgress) {
    MakePhotos(photos.qpath(), std::vector<int>(40, 1));
    Start(photos.qpath());
    const int finished = window->loadsFinished();
    WhenIdle([this] {
        if (window->thumbList().size() < 3) return false;
        window->close();
        return true;
    });
    Action("pmiRefresh")->trigger();
    EXPECT_EQ(window->loadsFinished(), finished) << "the load ended without finishing";
    EXPECT_LT(window->thumbList().size(), 40u);
    EXPECT_FALSE(window->findChild<TfrmWait*>() && window->findChild<TfrmWait*>()->isVisible());
}

TEST_F(WindowTest, AResizeReloadsOnceAndSizesTheCells) {
    MakePhotos(photos.qpath(), {1, 1, 1});
    Start(photos.qpath());
    const int loads = window->loadCount();
    window->resize(1000, 700);
    window->resize(1010, 710);
    window->resize(1020, 720);
    // Until a reload has come and finished; any further one would have started by then.
    ASSERT_TRUE(QTest::qWaitFor([&] {
        return window->loadCount() > loads && window->loadsFinished() >= window->loadCount();
    }));
    EXPECT_EQ(window->loadCount(), loads + 1);
    TDrawGrid* grid = Grid();
    EXPECT_EQ(grid->DefaultColWidth(),
              (grid->clientWidth() - TDrawGrid::scrollBarWidth() - 4) / grid->ColCount());
    EXPECT_EQ(grid->DefaultRowHeight(), grid->DefaultColWidth() + 20);
}

TEST_F(WindowTest, RangeSelectionKeepsTheSelectedFileAtItsStart) {
    const QStringList made = MakePhotos(photos.qpath(), std::vector<int>(7, 1));
    Start(photos.qpath(), "\"ThumbsInRow\"=dword:00000003\n");
    ClickCell(1, 0);
    EXPECT_EQ(window->selectedFile(), made[1]);
    ClickCell(2, 1, Qt::ShiftModifier);
    EXPECT_EQ(window->selectedFile(), made[1]);
    EXPECT_EQ(Grid()->Selection().Selected(), std::vector<int>({1, 2, 3, 4, 5})) << "list order";
    EXPECT_TRUE(window->HasSelectedImage());
    ClickCell(2, 2); // past the last image
    EXPECT_TRUE(window->selectedFile().isEmpty());
    EXPECT_FALSE(window->HasSelectedImage());
    window->UpdateActions();
    EXPECT_FALSE(Action("ActionRotateLeft")->isEnabled());
}

TEST_F(WindowTest, WheelScrollsOneRowAndLeavesTheSelection) {
    MakePhotos(photos.qpath(), std::vector<int>(40, 1), 32, 24);
    Start(photos.qpath(), "\"ThumbsInRow\"=dword:00000005\n");
    const QString selected = window->selectedFile();
    QWheelEvent wheel(QPointF(10, 10), Grid()->mapToGlobal(QPointF(10, 10)), {}, QPoint(0, -120),
                      Qt::NoButton, Qt::NoModifier, Qt::NoScrollPhase, false);
    QApplication::sendEvent(Grid()->viewport(), &wheel);
    EXPECT_EQ(Grid()->TopRow(), 1);
    EXPECT_EQ(window->selectedFile(), selected);
}

TEST_F(WindowTest, CropQuestionPathsAndTheListAfterManualTurns) {
    const QStringList made =
        MakePhotos(photos.qpath(), {6, 6, 6}, 40, 24); // 40 is not a multiple of 16
    Start(photos.qpath());
    const Bytes before = ReadFile(made[0].toStdString());

    shell.okAnswers = {false}; // Cancel: nothing touched
    window->RotateImage(made[0], rotate::RotationCode::Right, true);
    EXPECT_EQ(ReadFile(made[0].toStdString()), before);
    EXPECT_EQ(window->autoList().size(), 3u);

    shell.okAnswers = {true};
    shell.checkAnswers = {false}; // OK without the tick: asked again next time
    window->RotateImage(made[0], rotate::RotationCode::Right, true);
    EXPECT_EQ(OrientationOnDisk(made[0]), 1);
    EXPECT_EQ(window->autoList().size(), 2u) << "turned upright: delisted";
    EXPECT_TRUE(window->askCrop());

    shell.okAnswers = {true};
    shell.checkAnswers = {true}; // OK with the tick: no more questions this session
    window->RotateImage(made[1], rotate::RotationCode::Left, true);
    EXPECT_EQ(OrientationOnDisk(made[1]), 3);
    EXPECT_FALSE(window->askCrop());
    ASSERT_EQ(window->autoList().size(), 2u);
    EXPECT_EQ(window->autoList()[0].value, 3) << "turned left from 6: upside down now";
    const std::size_t asked = shell.shown.size();
    window->RotateImage(made[2], rotate::RotationCode::Right, false);
    EXPECT_EQ(shell.shown.size(), asked);
    EXPECT_EQ(window->autoList()[1].value, 0) << "the automatic pass marks, it does not delist";
}

TEST_F(WindowTest, KeyboardTurnKeepsTimesAndRemakesTheThumbnail) {
    const QStringList made = MakePhotos(photos.qpath(), {1}, 64, 32);
    Start(photos.qpath());
    Action("pmiKeepTimestamp")->setChecked(true);
    platform::FileTimes old;
    old.access = {1000000000, 5};
    old.modification = {1100000000, 7};
    ASSERT_TRUE(platform::SetFileTimes(made[0].toStdString(), old).ok());
    Grid()->setFocus();
    QTest::keyClick(Grid(), Qt::Key_R);
    ASSERT_EQ(window->thumbList().size(), 1u);
    EXPECT_GT(window->thumbList()[0].thumbnail.height(), window->thumbList()[0].thumbnail.width());
    platform::FileTimes now;
    ASSERT_TRUE(platform::GetFileTimes(made[0].toStdString(), now).ok());
    EXPECT_EQ(now.modification.tv_sec, old.modification.tv_sec);
    EXPECT_EQ(now.modification.tv_nsec, old.modification.tv_nsec);
    EXPECT_EQ(now.access.tv_sec, old.access.tv_sec)
        << "reading it for the new thumbnail kept it too";
    EXPECT_EQ(now.access.tv_nsec, old.access.tv_nsec);
    EXPECT_EQ(OrientationOnDisk(made[0]), 1);

    // Right after the turn (before anything reads the file again) the access time is back too.
    ASSERT_TRUE(platform::SetFileTimes(made[0].toStdString(), old).ok());
    window->RotateImage(made[0], rotate::RotationCode::Half, true);
    ASSERT_TRUE(platform::GetFileTimes(made[0].toStdString(), now).ok());
    EXPECT_EQ(now.access.tv_sec, old.access.tv_sec);
    EXPECT_EQ(now.modification.tv_sec, old.modification.tv_sec);
    Action("pmiKeepTimestamp")->setChecked(false);
    window->RotateImage(made[0], rotate::RotationCode::Half, true);
    ASSERT_TRUE(platform::GetFileTimes(made[0].toStdString(), now).ok());
    EXPECT_NE(now.modification.tv_sec, old.modification.tv_sec);
}

TEST_F(WindowTest, AutomaticPassTurnsEverythingUpright) {
    const QStringList made = MakePhotos(photos.qpath(), {3, 6, 8});
    Start(photos.qpath());
    ASSERT_TRUE(Action("pmiKeepTimestamp")->isChecked());
    platform::FileTimes old;
    old.access = {1000000000, 0};
    old.modification = {1100000000, 0};
    for (const QString& path : made)
        ASSERT_TRUE(platform::SetFileTimes(path.toStdString(), old).ok());
    shell.yesNoAnswers = {true};
    Control<QToolButton>("tbAuto")->click();
    for (const QString& path : made) {
        platform::FileTimes now;
        ASSERT_TRUE(platform::GetFileTimes(path.toStdString(), now).ok());
        EXPECT_EQ(now.access.tv_sec, old.access.tv_sec) << "after its thumbnail was remade";
        EXPECT_EQ(now.modification.tv_sec, old.modification.tv_sec);
    }
    ASSERT_FALSE(shell.shown.empty());
    EXPECT_TRUE(shell.shown[0].text.startsWith("Tulvex has detected 3 images"));
    for (const QString& line : shell.shown[0].text.split("\r\n"))
        EXPECT_LE(line.size(), 50);
    for (const QString& path : made)
        EXPECT_EQ(OrientationOnDisk(path), 1) << path.toStdString();
    EXPECT_TRUE(window->autoList().empty());
    const auto& thumbs = window->thumbList();
    ASSERT_EQ(thumbs.size(), 3u);
    EXPECT_GT(thumbs[0].thumbnail.width(), thumbs[0].thumbnail.height())
        << "turned by 180: still landscape";
    EXPECT_LT(thumbs[1].thumbnail.width(), thumbs[1].thumbnail.height())
        << "turned right: portrait";
    EXPECT_LT(thumbs[2].thumbnail.width(), thumbs[2].thumbnail.height()) << "turned left: portrait";

    Control<QToolButton>("tbAuto")->click();
    EXPECT_EQ(shell.shown.back().text,
              lang::WrapText(
                  "Tulvex has not detected any images that can be transformed automatically."));
    EXPECT_EQ(shell.shown.back().icon, ui::Shell::Icon::Information);
}

TEST_F(WindowTest, AutomaticPassCancelledAndMissingFiles) {
    const QStringList made = MakePhotos(photos.qpath(), {6, 6, 6, 6, 6});
    Start(photos.qpath());
    QFile::remove(made[0]); // counted, skipped and still listed
    shell.yesNoAnswers = {true};
    int turned = 0;
    WhenIdle([&] {
        turned = 0;
        for (const QString& p : made)
            turned += QFile::exists(p) && OrientationOnDisk(p) == 1;
        if (turned < 2) return false;
        if (auto* wait = window->findChild<TfrmWait*>()) wait->btnCancel->click();
        return true;
    });
    Control<QToolButton>("tbAuto")->click();
    EXPECT_TRUE(shell.shown[0].text.contains("5 images"));
    ASSERT_EQ(window->autoList().size(), 3u) << "the missing file and the two not reached";
    EXPECT_EQ(window->autoList()[0].path, made[0]);
    shell.yesNoAnswers = {true};
    Control<QToolButton>("tbAuto")->click();
    EXPECT_TRUE(shell.shown[1].text.contains("3 images"));
    EXPECT_EQ(window->autoList().size(), 1u);
}

TEST_F(WindowTest, AFailedTurnShowsTheErrorBox) {
    QImage png(32, 32, QImage::Format_RGB32);
    png.fill(Qt::blue);
    const QString path = photos.qfile("IMG_0042.JPG");
    png.save(path, "PNG"); // shows as a thumbnail but is no JPEG to turn
    const Bytes before = ReadFile(path.toStdString());
    Start(photos.qpath());
    ASSERT_EQ(window->thumbList().size(), 1u);
    Action("ActionRotateLeft")->trigger();
    ASSERT_FALSE(shell.shown.empty());
    EXPECT_EQ(shell.shown.back().text, "Unable to rotate IMG_0042.JPG: it is not a JPEG photo.");
    EXPECT_EQ(shell.shown.back().icon, ui::Shell::Icon::Error);
    EXPECT_EQ(ReadFile(path.toStdString()), before);
}

TEST_F(WindowTest, ATurnRefusedForWantOfMemorySaysHowMuchItNeeds) {
    const QString path = photos.qfile("IMG_0043.JPG");
    const Bytes before = MakeJpeg(640, 480);
    WriteFile(path.toStdString(), before);
    const std::uint64_t needed =
        rotate::MemoryToTurn(before, rotate::QuarterTurns::Three, before.size());
    const ScopedVariable cap(rotate::kTurnMemoryVariable, "1");
    Start(photos.qpath());
    ASSERT_EQ(window->thumbList().size(), 1u);
    Action("ActionRotateLeft")->trigger();
    ASSERT_FALSE(shell.shown.empty());
    EXPECT_EQ(shell.shown.back().text,
              "Unable to rotate IMG_0043.JPG: the photo needs " +
                  QString::fromStdString(rotate::DescribeMemory(needed)) +
                  " of memory to turn, more than the " +
                  QString::fromStdString(rotate::DescribeMemory(rotate::TurnMemoryLimitNow(),
                                                                rotate::Rounding::Down)) +
                  " this computer can spare now.");
    EXPECT_EQ(ReadFile(path.toStdString()), before);
}

TEST_F(WindowTest, AMemoryCapThatIsNoAmountIsToldOnceAndTheTurnsGoOn) {
    const QString path = photos.qfile("IMG_0044.JPG");
    const Bytes before = MakeJpeg(640, 480);
    WriteFile(path.toStdString(), before);
    const ScopedVariable cap(rotate::kTurnMemoryVariable, "1e9");
    Start(photos.qpath());
    ASSERT_EQ(window->thumbList().size(), 1u);
    const auto told = [&] {
        int times = 0;
        for (const auto& shown : shell.shown) {
            if (!shown.text.contains(QStringLiteral("TULVEX_MAX_TURN_MEMORY is set to 1e9")))
                continue;
            ++times;
            EXPECT_TRUE(shown.text.contains(QStringLiteral("1.5G"))) << shown.text.toStdString();
            EXPECT_EQ(shown.icon, ui::Shell::Icon::Warning);
        }
        return times;
    };
    Action("ActionRotateLeft")->trigger();
    EXPECT_EQ(told(), 1);
    const Bytes turned = ReadFile(path.toStdString());
    EXPECT_NE(turned, before);
    Action("ActionRotateLeft")->trigger();
    EXPECT_EQ(told(), 1) << "once a session";
    EXPECT_NE(ReadFile(path.toStdString()), turned);
    EXPECT_EQ(shell.shown.size(), 1u) << "nothing else to say";
}

TEST_F(WindowTest, VanishedFilesAreReported) {
    const QStringList made = MakePhotos(photos.qpath(), {1, 1});
    Start(photos.qpath());
    QFile::remove(made[0]);
    Action("ActionOpen")->trigger();
    EXPECT_EQ(shell.shown.back().text,
              "Cannot open \"img00.jpg\". The file or folder has been moved or deleted.");
    ClickCell(1, 0);
    QFile::remove(made[1]);
    Action("ActionOpen")->trigger();
    EXPECT_EQ(shell.shown.back().text,
              "Cannot open \"img01.jpg\". The file or folder has been moved or deleted.");
    EXPECT_EQ(shell.shown.back().icon, ui::Shell::Icon::Warning);
    EXPECT_TRUE(shell.opened.empty());
}

TEST_F(WindowTest, TwentyThousandPhotosLoadAndTheWindowStaysResponsive) {
    const Bytes tiny = MakeJpeg(16, 12);
    for (int i = 0; i < 20000; ++i)
        WriteFile(photos.file(QStringLiteral("p%1.jpg").arg(i, 5, 10, QChar(u'0')).toStdString()),
                  tiny);
    int ticks = 0;
    bool repainted = false;
    WhenIdle([&] {
        ++ticks;
        if (auto* wait = window ? window->findChild<TfrmWait*>() : nullptr)
            repainted |= wait->ProgressBar->value() > 0;
        return window && window->loadsFinished() > 0;
    });
    WriteSettings("\"LastFolder\"=\"" + photos.qpath() + "\"\n\"EnlargeSmall\"=\"0\"\n");
    window = std::make_unique<TFormTulvex>();
    window->show();
    ASSERT_TRUE(QTest::qWaitFor([&] { return window->loadsFinished() > 0; }, 120000));
    ASSERT_EQ(window->thumbList().size(), 20000u);
    EXPECT_GT(ticks, 1000) << "events are handled all through the load";
    EXPECT_TRUE(repainted);
    EXPECT_EQ(StatusText(1), "20000 file(s)");
}

TEST_F(WindowTest, ALoadFinishesAnInterruptedRewriteFromItsKeptCopy) {
    const QStringList made = MakePhotos(photos.qpath(), {6});
    const std::string photo = made[0].toStdString(), other = photos.file("second-name.jpg");
    ASSERT_EQ(::link(photo.c_str(), other.c_str()), 0);
    // What a hard-linked turn whose rewrite failed leaves: a complete copy, and the photo
    // rewritten part way.
    const Bytes old = ReadFile(photo);
    Bytes complete;
    ASSERT_TRUE(
        rotate::TurnJpegBytes(old, rotate::QuarterTurns::One, std::nullopt, true, complete).ok());
    const std::string kept = InterruptedLinkedTurn(photo, complete);
    ASSERT_FALSE(kept.empty());
    WriteFile(photo, TornRewrite(old, complete));
    Start(photos.qpath());
    EXPECT_EQ(ReadFile(other), complete) << "both names hold the complete photo again";
    EXPECT_FALSE(QFile::exists(QString::fromStdString(kept)));
    ASSERT_FALSE(shell.shown.empty());
    EXPECT_TRUE(shell.shown.front().text.contains("img00.jpg"))
        << shell.shown.front().text.toStdString();
    EXPECT_EQ(shell.shown.front().icon, ui::Shell::Icon::Information);
}

TEST_F(WindowTest, AFileNamedLikeAKeptCopyIsToldOnceInTheChosenLanguageAndLeft) {
    MakePhotos(photos.qpath(), {1, 1});
    const std::string notes = photos.file("notes.txt");
    const std::string junk = photos.file(".notes.txt.tulvex-keep-ABCDEF");
    WriteFile(notes, {'m', 'i', 'n', 'e'});
    WriteFile(junk, {'j', 'u', 'n', 'k'});
    Start(photos.qpath(),
          "\"Language\"=\"" + QCoreApplication::applicationDirPath() + "/Deutsch.lng\"\n");
    EXPECT_EQ(ReadFile(notes), (Bytes{'m', 'i', 'n', 'e'}));
    EXPECT_EQ(ReadFile(junk), (Bytes{'j', 'u', 'n', 'k'}));
    ASSERT_EQ(shell.shown.size(), 1u);
    EXPECT_EQ(shell.shown[0].icon, ui::Shell::Icon::Warning);
    EXPECT_TRUE(shell.shown[0].text.contains(".notes.txt.tulvex-keep-ABCDEF"));
    EXPECT_TRUE(shell.shown[0].text.contains("gehört aber zu keinem Foto"))
        << shell.shown[0].text.toStdString();

    window->LoadFolder(photos.qpath());
    WaitForLoads(2);
    EXPECT_EQ(shell.shown.size(), 1u) << "told once, not at every load";
    // Another file under that name is news.
    WriteFile(junk + ".new", {'j', 'u', 'n', 'k', '2'});
    ASSERT_EQ(::rename((junk + ".new").c_str(), junk.c_str()), 0);
    window->LoadFolder(photos.qpath());
    WaitForLoads(3);
    EXPECT_EQ(shell.shown.size(), 2u);
    EXPECT_EQ(ReadFile(notes), (Bytes{'m', 'i', 'n', 'e'}));
}

TEST_F(WindowTest, TheCropQuestionCoversTheOtherImagesOfAPhoto) {
    // Main image of whole blocks; its gain map is 40x24 at 4:2:0, which a turn trims.
    const std::string path = photos.file("hdr.jpg");
    const Bytes original =
        MakeMpfFile(MakeJpeg(64, 48, Subsampling::S444), {{MakeJpeg(40, 24, Subsampling::S420)}},
                    jpeg::ByteOrder::Little);
    WriteFile(path, original);
    Start(photos.qpath());
    const QString qpath = QString::fromStdString(path);

    const std::size_t before = shell.shown.size();
    shell.okAnswers = {false};
    window->RotateImage(qpath, rotate::RotationCode::Right, true);
    ASSERT_EQ(shell.shown.size(), before + 1) << "asked";
    EXPECT_NE(shell.shown.back().text.indexOf(QStringLiteral("hdr.jpg")), -1);
    EXPECT_EQ(ReadFile(path), original);

    shell.okAnswers = {true};
    shell.checkAnswers = {false};
    window->RotateImage(qpath, rotate::RotationCode::Right, true);
    EXPECT_NE(ReadFile(path), original) << "allowed, so turned and trimmed";
}
