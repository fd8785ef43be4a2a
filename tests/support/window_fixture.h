// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include "app/main_window.h"
#include "app/settings_store.h"
#include "support/fake_shell.h"
#include "support/jpeg_factory.h"
#include "support/temp_dir.h"
#include "thumbs/draw_grid.h"

#include <QApplication>
#include <QFile>
#include <QLabel>
#include <QTest>
#include <QTimer>

#include <gtest/gtest.h>

#include <functional>
#include <memory>

namespace testing_support {

// A main window on a folder of generated photos, with a fresh settings store.
class WindowTest : public ::testing::Test {
protected:
    void SetUp() override
    {
        qputenv("XDG_CONFIG_HOME", (config.qpath()).toUtf8());
        QFile::remove(app::SettingsStore::DefaultPath());
    }
    void TearDown() override
    {
        timers.reset(); // no step outlives its test
        window.reset();
    }

    // Writes photos named name0.jpg ... with the given orientations (0: none).
    QStringList MakePhotos(const QString& folder, const std::vector<int>& orientations, int w = 64, int h = 48)
    {
        QStringList paths;
        for (std::size_t i = 0; i < orientations.size(); ++i) {
            ExifSpec spec;
            spec.orientation = orientations[i];
            const QString path = folder + QStringLiteral("/img%1.jpg").arg(i, 2, 10, QChar(u'0'));
            WriteFile(path.toStdString(), MakeJpegWithExif(w, h, spec));
            paths << path;
        }
        return paths;
    }

    void WriteSettings(const QString& body)
    {
        app::SettingsStore store;
        store.parse("[" + app::SettingsStore::kKeyPath + "]\n" + body);
        ASSERT_TRUE(store.save(app::SettingsStore::DefaultPath()));
    }

    // Starts the window on `folder` (through the stored last folder) and waits for its load.
    void Start(const QString& folder, const QString& extraSettings = {})
    {
        WriteSettings("\"LastFolder\"=\"" + folder + "\"\n" + extraSettings);
        window = std::make_unique<TFormTulvex>();
        window->show();
        WaitForLoads(1);
        QTest::qWait(30); // the progress window is gone
        window->activateWindow();
        EXPECT_TRUE(QTest::qWaitForWindowActive(window.get())); // shortcuts need an active window
        QTest::qWait(10);
    }

    void WaitForLoads(int count)
    {
        for (int i = 0; i < 500 && window->loadsFinished() < count; ++i) QTest::qWait(20);
        ASSERT_GE(window->loadsFinished(), count);
    }

    // Runs `step` at each turn of the event loop until it returns true.
    void WhenIdle(std::function<bool()> step)
    {
        auto* timer = new QTimer(timers.get());
        QObject::connect(timer, &QTimer::timeout, timer, [timer, step] {
            if (step()) timer->deleteLater();
        });
        timer->start(0);
    }

    QStringList GridPaths() const
    {
        QStringList out;
        for (const ThumbEntry& e : window->thumbList()) out << e.path;
        return out;
    }

    void ClickCell(int col, int row, Qt::KeyboardModifiers modifiers = Qt::NoModifier)
    {
        TDrawGrid* grid = window->DrawGrid;
        const QPoint pos(col * grid->DefaultColWidth() + 5, (row - grid->TopRow()) * grid->DefaultRowHeight() + 5);
        QTest::mouseClick(grid->viewport(), Qt::LeftButton, modifiers, pos);
    }

    TempDir config;
    TempDir photos;
    FakeShell shell;
    std::unique_ptr<TFormTulvex> window;
    std::unique_ptr<QObject> timers = std::make_unique<QObject>();
};

} // namespace testing_support
