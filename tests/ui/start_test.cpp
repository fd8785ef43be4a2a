// SPDX-License-Identifier: GPL-3.0-or-later
// Starting the window on a folder or photo named on the command line.
#include "ui/support/window_fixture.h"

#include <QDir>
#include <QLineEdit>

using namespace testing_support;

namespace {

class StartArgumentTest : public WindowTest {
protected:
    void StartOn(const QString& startPath, const QString& settings) {
        WriteSettings(settings);
        window = std::make_unique<TFormTulvex>();
        window->SetStartPath(startPath);
        window->show();
        WaitForLoads(1);
        WaitUntilSettled(); // a second load would have started by then
    }
};

// Restores the working folder when the test ends.
class WorkingFolder {
public:
    explicit WorkingFolder(const QString& folder) { QDir::setCurrent(folder); }
    ~WorkingFolder() { QDir::setCurrent(m_old); }

private:
    QString m_old = QDir::currentPath();
};

} // namespace

TEST_F(StartArgumentTest, AFolderTakesThePlaceOfTheLastFolderForOneLoad) {
    const QString last = photos.mkdir("last");
    const QString given = photos.mkdir("given");
    MakePhotos(last, {1, 1});
    const QStringList wanted = MakePhotos(given, {1, 6, 1});
    StartOn(given + "/", "\"LastFolder\"=\"" + last + "\"\n");
    EXPECT_EQ(GridPaths(), wanted);
    EXPECT_EQ(PathBox()->text(), given);
    EXPECT_EQ(window->loadCount(), 1);
    EXPECT_TRUE(shell.shown.empty());
}

TEST_F(StartArgumentTest, APhotoLoadsItsFolderAndSelectsItsCellOnce) {
    const QString folder = photos.mkdir("trip");
    const QStringList made = MakePhotos(folder, std::vector<int>(14, 1));
    {
        WorkingFolder cwd(photos.qpath()); // a relative path, as typed in a terminal
        StartOn("trip/img13.jpg", "\"ThumbsInRow\"=dword:00000003\n");
    }
    EXPECT_EQ(window->folder(), folder);
    EXPECT_EQ(window->selectedFile(), made[13]);
    EXPECT_EQ(Grid()->Selection().Selected(), std::vector<int>{13}) << "row 4, column 1";
    EXPECT_EQ(Grid()->Selection().Focus(), 13);
    EXPECT_GT(Grid()->TopRow(), 0) << "the cell is scrolled into view";
    EXPECT_EQ(window->loadCount(), 1);

    Action("pmiRefresh")->trigger(); // later loads start at the first cell again
    EXPECT_EQ(window->selectedFile(), made[0]);
}

TEST_F(StartArgumentTest, AMissingPathWarnsThenStartsAsUsual) {
    const QString last = photos.mkdir("last");
    const QStringList wanted = MakePhotos(last, {1, 1});
    const QString gone = photos.qfile("gone/IMG_0001.jpg");
    StartOn(gone, "\"LastFolder\"=\"" + last + "\"\n");
    ASSERT_EQ(shell.shown.size(), 1u);
    EXPECT_EQ(shell.shown[0].text,
              "Cannot open \"" + gone + "\". The file or folder has been moved or deleted.");
    EXPECT_TRUE(shell.shown[0].caption.isEmpty());
    EXPECT_EQ(shell.shown[0].icon, ui::Shell::Icon::Warning);
    EXPECT_EQ(GridPaths(), wanted);
    EXPECT_EQ(window->loadCount(), 1);
}

TEST(LanguageFolder, BesideTheProgramFirstThenUnderItsPrefix) {
    TempDir prefix;
    const QString bin = prefix.mkdir("bin");
    EXPECT_EQ(TFormTulvex::LanguageFolderOf(bin), bin)
        << "none anywhere: the program's folder, empty";
    const QString shared = prefix.mkdir("share/tulvex/lang");
    EXPECT_EQ(TFormTulvex::LanguageFolderOf(bin), shared);
    WriteFile((bin + "/Deutsch.lng").toStdString(), Bytes{'['});
    EXPECT_EQ(TFormTulvex::LanguageFolderOf(bin), bin) << "a build folder keeps its own";
}
