// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include "session/settings_store.h"
#include "support/jpeg_factory.h"
#include "support/temp_dir.h"
#include "ui/draw_grid.h"
#include "ui/main_window.h"
#include "ui/progress_window.h"
#include "ui/support/fake_shell.h"
#include "ui/window_placement.h"

#include <QAction>
#include <QApplication>
#include <QDeadlineTimer>
#include <QDialog>
#include <QFile>
#include <QLabel>
#include <QLineEdit>
#include <QTest>
#include <QTimer>

#include <functional>
#include <gtest/gtest.h>
#include <memory>
#include <stdexcept>

namespace testing_support {

// Answers the next modal dialog, which must be a T, with `answer`. A dialog that does not come,
// is of another kind or is left open by a failing answer fails the test and is closed, so
// that the test goes on instead of waiting for ever.
template <typename T> void AnswerNextDialog(std::function<void(T*)> answer, int timeoutMs = 5000) {
    auto* poll = new QTimer(qApp);
    poll->setInterval(10);
    QObject::connect(poll, &QTimer::timeout, [poll, answer, deadline = QDeadlineTimer(timeoutMs)] {
        QWidget* modal = QApplication::activeModalWidget();
        if (!modal && !deadline.hasExpired()) return;
        poll->stop();
        poll->deleteLater();
        if (!modal) {
            ADD_FAILURE() << "no dialog came";
            return;
        }
        if (T* dialog = qobject_cast<T*>(modal)) {
            answer(dialog);
        } else {
            ADD_FAILURE() << "another dialog came: " << modal->metaObject()->className();
        }
        if (QApplication::activeModalWidget() == modal) {
            ADD_FAILURE() << "the dialog was left open";
            if (auto* box = qobject_cast<QDialog*>(modal))
                box->reject();
            else
                modal->close();
        }
    });
    poll->start();
}

// A main window on a folder of generated photos, with a fresh settings store.
class WindowTest : public ::testing::Test {
protected:
    void SetUp() override {
        qputenv("XDG_CONFIG_HOME", (config.qpath()).toUtf8());
        QFile::remove(session::SettingsStore::DefaultPath());
    }
    void TearDown() override {
        timers.reset(); // no step outlives its test
        window.reset();
    }

    // Writes photos named name0.jpg ... with the given orientations (0: none).
    QStringList MakePhotos(const QString& folder, const std::vector<int>& orientations, int w = 64,
                           int h = 48) {
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

    void WriteSettings(const QString& body) {
        session::SettingsStore store;
        store.parse("[" + session::SettingsStore::kKeyPath + "]\n" + body);
        ASSERT_TRUE(store.save(session::SettingsStore::DefaultPath()));
    }

    // Starts the window on `folder` (through the stored last folder) and waits for its load.
    void Start(const QString& folder, const QString& extraSettings = {}) {
        WriteSettings("\"LastFolder\"=\"" + folder + "\"\n" + extraSettings);
        window = std::make_unique<TFormTulvex>();
        window->show();
        WaitForLoads(1);
        EXPECT_TRUE(QTest::qWaitFor([this] {
            const auto* wait = window->findChild<TfrmWait*>();
            return !wait || !wait->isVisible();
        })) << "the progress window is gone";
        window->activateWindow();
        EXPECT_TRUE(QTest::qWaitForWindowActive(window.get())); // shortcuts need an active window
        QTest::qWait(10);
    }

    void WaitForLoads(int count) {
        ASSERT_TRUE(QTest::qWaitFor([&] { return window->loadsFinished() >= count; }, 10000))
            << window->loadsFinished() << " of " << count << " loads finished";
    }

    // Waits until no size change of the window waits to settle into a reload, then handles
    // what is posted: a load that was to follow has started by then.
    void WaitUntilSettled() {
        const auto* placement = window->findChild<ui::WindowPlacement*>();
        ASSERT_TRUE(placement);
        ASSERT_TRUE(QTest::qWaitFor([placement] { return !placement->Settling(); }, 10000));
        QCoreApplication::sendPostedEvents();
        QCoreApplication::processEvents();
    }

    // Runs `step` at each turn of the event loop until it returns true.
    void WhenIdle(std::function<bool()> step) {
        auto* timer = new QTimer(timers.get());
        QObject::connect(timer, &QTimer::timeout, timer, [timer, step] {
            if (step()) timer->deleteLater();
        });
        timer->start(0);
    }

    QStringList GridPaths() const {
        QStringList out;
        for (const ThumbEntry& e : window->thumbList())
            out << e.path;
        return out;
    }

    // A control of the window, found by the name the window gives it.
    template <typename T> T* Control(const QString& name) const {
        T* found = window->findChild<T*>(name);
        if (!found) throw std::runtime_error("the window has no control " + name.toStdString());
        return found;
    }
    QAction* Action(const QString& name) const { return Control<QAction>(name); }
    TDrawGrid* Grid() const { return Control<TDrawGrid>(QStringLiteral("DrawGrid")); }
    QLineEdit* PathBox() const { return Control<QLineEdit>(QStringLiteral("edPath")); }
    QString StatusText(int panel) const {
        return Control<QLabel>(QStringLiteral("StatusPanel%1").arg(panel))->text();
    }

    void ClickCell(int col, int row, Qt::KeyboardModifiers modifiers = Qt::NoModifier) {
        TDrawGrid* grid = Grid();
        const QPoint pos(col * grid->DefaultColWidth() + 5,
                         (row - grid->TopRow()) * grid->DefaultRowHeight() + 5);
        QTest::mouseClick(grid->viewport(), Qt::LeftButton, modifiers, pos);
    }

    TempDir config;
    TempDir photos;
    FakeShell shell;
    std::unique_ptr<TFormTulvex> window;
    std::unique_ptr<QObject> timers = std::make_unique<QObject>();
};

} // namespace testing_support
