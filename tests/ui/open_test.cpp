// SPDX-License-Identifier: GPL-3.0-or-later
// Opening a photo or the web site when nothing on the desktop can open it says so, and every
// message box belongs to the main window, so that it opens over it.
#include "ui/desktop_open.h"
#include "ui/exif_dialog.h"
#include "ui/support/window_fixture.h"

#include <QApplication>
#include <QFile>
#include <QMainWindow>
#include <QMenu>
#include <QTest>
#include <QTimer>

#include <gtest/gtest.h>
#include <optional>

using namespace testing_support;

namespace {

QString Plain(QString text) {
    return text.remove(u'&');
}

// PATH for the duration of a test, given back afterwards.
class PathFor {
public:
    explicit PathFor(const QString& path) : m_old(qgetenv("PATH")) {
        qputenv("PATH", QFile::encodeName(path));
    }
    ~PathFor() { qputenv("PATH", m_old); }
    PathFor(const PathFor&) = delete;
    PathFor& operator=(const PathFor&) = delete;

private:
    QByteArray m_old;
};

// An xdg-open that notes its argument in `note` and ends with `exitCode`.
void WriteOpener(const TempDir& bin, int exitCode, const std::string& note) {
    const std::string script =
        "#!/bin/sh\nprintf '%s' \"$1\" > '" + note + "'\nexit " + std::to_string(exitCode) + "\n";
    const std::string path = bin.file("xdg-open");
    WriteFile(path, Bytes(script.begin(), script.end()));
    QFile::setPermissions(QString::fromStdString(path),
                          QFile::ReadOwner | QFile::WriteOwner | QFile::ExeOwner);
}

std::string ReadText(const std::string& path) {
    const Bytes bytes = ReadFile(path);
    return std::string(bytes.begin(), bytes.end());
}

// What OpenOnDesktop reported, once it did.
std::optional<bool> Open(const QUrl& url) {
    std::optional<bool> opened;
    ui::OpenOnDesktop(url, [&opened](bool result) { opened = result; });
    EXPECT_TRUE(QTest::qWaitFor([&] { return opened.has_value(); }, 10000)) << "no answer";
    return opened;
}

} // namespace

TEST(DesktopOpen, SaysWhetherXdgOpenOpenedIt) {
    TempDir bin, files;
    const std::string note = files.file("opened.txt");
    const QString photo = files.qfile(QStringLiteral("a photo.jpg"));

    {
        const PathFor path(bin.qpath()); // no xdg-open at all
        EXPECT_EQ(Open(QUrl::fromLocalFile(photo)), false);
    }
    WriteOpener(bin, 3, note); // "a required tool could not be found"
    {
        const PathFor path(bin.qpath());
        EXPECT_EQ(Open(QUrl::fromLocalFile(photo)), false);
    }
    WriteOpener(bin, 0, note);
    {
        const PathFor path(bin.qpath());
        EXPECT_EQ(Open(QUrl::fromLocalFile(photo)), true);
        EXPECT_EQ(ReadText(note), photo.toStdString()) << "a local photo goes as its path";
        EXPECT_EQ(Open(QUrl(QStringLiteral("https://tulvex.example.org/"))), true);
        EXPECT_EQ(ReadText(note), "https://tulvex.example.org/");
    }
}

TEST_F(WindowTest, NothingToOpenWithIsToldOverTheWindowInItsLanguage) {
    MakePhotos(photos.qpath(), {1});
    Start(photos.qpath());
    shell.canOpen = false;
    Grid()->setFocus();
    QTest::keyClick(Grid(), Qt::Key_Return); // View Image
    ASSERT_EQ(shell.opened.size(), 1u);
    ASSERT_EQ(shell.shown.size(), 1u) << "said, not silently dropped";
    EXPECT_EQ(shell.shown[0].text,
              "Cannot open \"img00.jpg\": no program on this computer could open it.");
    EXPECT_EQ(shell.shown[0].owner, window.get());

    Action("pmiWebsite")->trigger();
    ASSERT_EQ(shell.shown.size(), 2u);
    EXPECT_TRUE(shell.shown[1].text.contains("tulvex.example.org"))
        << shell.shown[1].text.toStdString();
    EXPECT_EQ(shell.shown[1].owner, window.get());

    for (QAction* a : Control<QMenu>(QStringLiteral("pmOptions"))->actions())
        if (Plain(a->text()) == "Deutsch") a->trigger();
    window->DrawGridDblClick();
    ASSERT_EQ(shell.shown.size(), 3u);
    EXPECT_EQ(shell.shown[2].text, QString::fromUtf8("„img00.jpg“ kann nicht geöffnet werden: "
                                                     "Kein Programm auf diesem Computer konnte es "
                                                     "öffnen."));

    shell.canOpen = true;
    window->DrawGridDblClick();
    EXPECT_EQ(shell.opened.size(), 4u);
    EXPECT_EQ(shell.shown.size(), 3u) << "opened: nothing to say";
}

TEST_F(WindowTest, MessageBoxesBelongToTheMainWindow) {
    WriteFile(photos.file("plain.jpg"), MakeJpeg(32, 32));
    Start(photos.qpath());
    ClickCell(0, 0);
    Action("ActionDisplayExif")->trigger();
    ASSERT_EQ(shell.shown.size(), 1u);
    EXPECT_EQ(shell.shown[0].text, "This file does not contain EXIF data.");
    EXPECT_EQ(shell.shown[0].owner, window.get()) << "not the dialog, which is never shown";

    // An error while no window of ours is active still goes over the main window.
    {
        QWidget other;
        other.show();
        other.activateWindow();
        ASSERT_TRUE(QTest::qWaitForWindowActive(&other));
    }
    ASSERT_TRUE(QTest::qWaitFor([] { return QApplication::activeWindow() == nullptr; }));
    ui::ShowErrorBox(QStringLiteral("Something went wrong"));
    ASSERT_EQ(shell.shown.size(), 2u);
    EXPECT_EQ(shell.shown[1].owner, window.get());
}

TEST(DesktopShell, AnErrorBoxOpensCentredOverTheMainWindow) {
    QMainWindow main;
    main.setGeometry(40, 60, 360, 240); // off the screen's centre
    main.show();
    ASSERT_TRUE(QTest::qWaitForWindowExposed(&main));
    {
        QWidget other; // had the focus, and is gone: no window of ours is active
        other.show();
        other.activateWindow();
        ASSERT_TRUE(QTest::qWaitForWindowActive(&other));
    }
    ASSERT_TRUE(QTest::qWaitFor([] { return QApplication::activeWindow() == nullptr; }));

    QPoint boxCentre;
    QTimer::singleShot(0, [&] {
        ASSERT_TRUE(QTest::qWaitFor([] { return QApplication::activeModalWidget() != nullptr; }));
        QWidget* box = QApplication::activeModalWidget();
        boxCentre = box->frameGeometry().center();
        box->close();
    });
    ui::ShowErrorBox(QStringLiteral("Something went wrong"));
    const QPoint mainCentre = main.frameGeometry().center();
    EXPECT_LE((boxCentre - mainCentre).manhattanLength(), 4)
        << boxCentre.x() << "," << boxCentre.y() << " against " << mainCentre.x() << ","
        << mainCentre.y();
}
