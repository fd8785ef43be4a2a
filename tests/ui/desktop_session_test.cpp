// SPDX-License-Identifier: GPL-3.0-or-later
// The window on a real X server (Xvfb), with a real window manager (openbox) or without one:
// where the window lands, what it stores, and who keeps the activation. The test starts the
// server and the window manager itself and ends them by their process ids.
#include "session/settings_store.h"
#include "support/own_folders.h"
#include "ui/main_window.h"
#include "ui/progress_window.h"

#include <QApplication>
#include <QDir>
#include <QElapsedTimer>
#include <QGuiApplication>
#include <QScreen>
#include <QTemporaryDir>
#include <QTest>
#include <QWindow>

#include <poll.h>
#include <signal.h>
#include <unistd.h>

#include <chrono>
#include <gtest/gtest.h>
#include <memory>
#include <optional>
#include <ostream>
#include <string>
#include <sys/wait.h>
#include <thread>
#include <vector>

// Readable geometry in failure messages.
void PrintTo(const QRect& r, std::ostream* out) {
    *out << r.width() << "x" << r.height() << " at " << r.left() << "," << r.top();
}
void PrintTo(const QSize& s, std::ostream* out) {
    *out << s.width() << "x" << s.height();
}

namespace {

// A program of the test session, ended (TERM, then KILL) by its own pid.
class ChildProcess {
public:
    ChildProcess() = default;
    ChildProcess(const ChildProcess&) = delete;
    ChildProcess& operator=(const ChildProcess&) = delete;
    ~ChildProcess() { stop(); }

    // Starts argv[0] from PATH; `keepFd` stays open in the child.
    bool start(const std::vector<std::string>& argv, int keepFd = -1) {
        std::vector<char*> args;
        for (const std::string& a : argv)
            args.push_back(const_cast<char*>(a.c_str()));
        args.push_back(nullptr);
        m_pid = ::fork();
        if (m_pid == 0) {
            for (int fd = 3; fd < 256; ++fd)
                if (fd != keepFd) ::close(fd);
            ::execvp(args[0], args.data());
            ::_exit(127);
        }
        return m_pid > 0;
    }

    bool running() {
        if (m_pid <= 0) return false;
        int status = 0;
        if (::waitpid(m_pid, &status, WNOHANG) == m_pid) m_pid = -1;
        return m_pid > 0;
    }

    void stop() {
        if (!running()) return;
        ::kill(m_pid, SIGTERM);
        for (int i = 0; i < 100; ++i) {
            if (::waitpid(m_pid, nullptr, WNOHANG) == m_pid) {
                m_pid = -1;
                return;
            }
            std::this_thread::sleep_for(std::chrono::milliseconds(20));
        }
        ::kill(m_pid, SIGKILL);
        ::waitpid(m_pid, nullptr, 0);
        m_pid = -1;
    }

private:
    pid_t m_pid = -1;
};

// The X server and, unless asked not to, the window manager of this run.
struct Session {
    ChildProcess server;
    ChildProcess windowManager;
    bool withWindowManager = true;
    bool dense = false;  // a laptop's 1600x1000 screen at twice the density
    QString unavailable; // why there is no X server, when there is none
};

Session* g_session = nullptr;

// Starts Xvfb on a free display; the display name, or nothing.
std::optional<std::string> StartServer(ChildProcess& server, const std::string& screen,
                                       QString& why) {
    int fds[2];
    if (::pipe(fds) != 0) return std::nullopt;
    const bool started = server.start(
        {"Xvfb", "-displayfd", std::to_string(fds[1]), "-screen", "0", screen, "-nolisten", "tcp"},
        fds[1]);
    ::close(fds[1]);
    std::string number;
    pollfd ready{fds[0], POLLIN, 0};
    while (started && ::poll(&ready, 1, 10000) > 0) {
        char c = 0;
        if (::read(fds[0], &c, 1) != 1 || c == '\n') break;
        number += c;
    }
    ::close(fds[0]);
    if (number.empty() || !server.running()) {
        why = started ? QStringLiteral("Xvfb did not start")
                      : QStringLiteral("Xvfb could not be run");
        server.stop();
        return std::nullopt;
    }
    return ":" + number;
}

class DesktopSession : public ::testing::Test {
protected:
    void SetUp() override {
        if (!g_session || !g_session->unavailable.isEmpty())
            GTEST_SKIP() << "no X server for this test: "
                         << (g_session ? g_session->unavailable.toStdString() : "");
        const bool denseTest =
            std::string(::testing::UnitTest::GetInstance()->current_test_info()->name())
                .rfind("OnADenseScreen", 0) == 0;
        if (denseTest != g_session->dense)
            GTEST_SKIP() << (denseTest ? "for the dense screen (--dense)" : "for a plain screen");
        qputenv("XDG_CONFIG_HOME", config.path().toUtf8());
        photos = config.path() + "/photos";
        QDir().mkpath(photos);
        QFile::remove(session::SettingsStore::DefaultPath());
    }
    void TearDown() override { window.reset(); }

    void WriteSettings(const QString& body) {
        session::SettingsStore store;
        store.parse("[" + session::SettingsStore::kKeyPath + "]\n\"LastFolder\"=\"" + photos +
                    "\"\n" + body);
        ASSERT_TRUE(store.save(session::SettingsStore::DefaultPath()).ok());
    }

    QRect StoredGeometry() const {
        session::SettingsStore store;
        static_cast<void>(store.load(session::SettingsStore::DefaultPath()));
        return {store.readInteger("WinLeft", -1), store.readInteger("WinTop", -1),
                store.readInteger("WinWidth", -1), store.readInteger("WinHeight", -1)};
    }

    // Shows the window as the program starts it, and waits until it has settled: mapped,
    // framed by the window manager when there is one, its first load done.
    void StartWindow() {
        window = std::make_unique<TFormTulvex>();
        window->show();
        ASSERT_TRUE(QTest::qWaitForWindowExposed(window.get(), 5000));
        if (g_session->withWindowManager) {
            ASSERT_TRUE(QTest::qWaitFor(
                [&] { return !window->windowHandle()->frameMargins().isNull(); }, 5000))
                << "the window manager gave the window no frame";
        }
        ASSERT_TRUE(QTest::qWaitFor([&] { return window->loadsFinished() >= 1; }, 5000));
        // Settled once the outer geometry has stayed the same for a while (a busy machine may
        // be slow to deliver the window manager's moves).
        QRect last = Outer();
        for (int still = 0, i = 0; still < 8 && i < 200; ++i) {
            QTest::qWait(50);
            still = Outer() == last ? still + 1 : 0;
            last = Outer();
        }
    }

    // Closes as the user does (the close button), then ends the window as the program does.
    void CloseWindow() {
        window->close();
        QTest::qWait(100);
        window.reset(); // writes the settings
    }

    // Where the window is on the screen, frame included, as the X server and window manager say.
    QRect Outer() const { return window->windowHandle()->frameGeometry(); }

    QTemporaryDir config;
    QString photos;
    std::unique_ptr<TFormTulvex> window;
};

TEST_F(DesktopSession, StartAndCloseLeaveTheStoredGeometryUnchanged) {
    WriteSettings({});
    StartWindow();
    const QRect first = Outer();
    EXPECT_EQ(first.size(), QSize(800, 600)) << "the first-start size is the outer window's";
    CloseWindow();
    const QRect stored = StoredGeometry();
    EXPECT_EQ(stored, first);
    for (int run = 1; run <= 3; ++run) {
        StartWindow();
        EXPECT_EQ(Outer(), stored) << "run " << run;
        CloseWindow();
        EXPECT_EQ(StoredGeometry(), stored) << "run " << run;
    }
}

TEST_F(DesktopSession, StoredGeometryComesBackAsStored) {
    WriteSettings(
        "\"WinWidth\"=dword:00000384\n\"WinHeight\"=dword:000002bc\n\"WinTop\"=dword:00000050\n"
        "\"WinLeft\"=dword:00000064\n");
    StartWindow();
    EXPECT_EQ(Outer(), QRect(100, 80, 900, 700));
    CloseWindow();
    EXPECT_EQ(StoredGeometry(), QRect(100, 80, 900, 700));
}

TEST_F(DesktopSession, TheMinimumAppliesToTheOuterWindow) {
    WriteSettings(
        "\"WinWidth\"=dword:000001f4\n\"WinHeight\"=dword:00000190\n\"WinTop\"=dword:00000028\n"
        "\"WinLeft\"=dword:00000032\n");
    StartWindow();
    EXPECT_EQ(Outer(), QRect(50, 40, 800, 600));
    window->resize(300, 200); // below the minimum: refused
    QTest::qWait(300);
    EXPECT_EQ(Outer().size(), QSize(800, 600));
    CloseWindow();
    EXPECT_EQ(StoredGeometry(), QRect(50, 40, 800, 600));
}

// 1600x1000 device pixels at twice the density are 800x500 logical ones: less than the
// window's usual first size.
TEST_F(DesktopSession, OnADenseScreenTheWholeWindowStartsOnIt) {
    const QRect screen = QGuiApplication::primaryScreen()->availableGeometry();
    ASSERT_EQ(screen.size(), QSize(800, 500));
    const struct {
        QString stored;
        const char* what;
    } cases[] = {
        {{}, "a first start"},
        // What a run at scale 1 on the same screen left: mostly off the screen now.
        {"\"WinWidth\"=dword:000004b0\n\"WinHeight\"=dword:00000384\n\"WinTop\"=dword:00000032\n"
         "\"WinLeft\"=dword:000000c8\n",
         "settings of a plain screen"},
    };
    for (const auto& c : cases) {
        WriteSettings(c.stored);
        StartWindow();
        const QRect outer = Outer();
        EXPECT_TRUE(screen.contains(outer))
            << c.what << ": the whole window, title bar included, is "
            << ::testing::PrintToString(outer);
        CloseWindow();
    }
}

TEST_F(DesktopSession, ProgressWindowLeavesTheActivationToAnotherProgram) {
    if (!g_session->withWindowManager)
        GTEST_SKIP() << "activation between programs needs a window manager";
    WriteSettings({});
    StartWindow();
    TProgressWindow progress(window.get());
    progress.window()->activateWindow();
    ASSERT_TRUE(QTest::qWaitForWindowActive(progress.window(), 3000));

    // Another program opens a window; the window manager gives it the activation.
    QTemporaryDir other;
    qputenv("XDG_CONFIG_HOME", (other.path() + "/config").toUtf8());
    ChildProcess program;
    ASSERT_TRUE(
        program.start({(QCoreApplication::applicationDirPath() + "/tulvex").toStdString()}));
    qputenv("XDG_CONFIG_HOME", config.path().toUtf8());
    const bool switched =
        QTest::qWaitFor([] { return QApplication::activeWindow() == nullptr; }, 10000);
    if (switched) {
        QTest::qWait(500);
        EXPECT_EQ(QApplication::activeWindow(), nullptr)
            << "the progress window took the activation back";
        EXPECT_FALSE(progress.window()->isActiveWindow());
    }
    program.stop();
    ASSERT_TRUE(switched) << "the other program never got the activation";
}

// Openbox manages the screen once it frames a window: a probe window shows when.
// A window mapped before the window manager is up may never learn its frame, so each try maps a
// new one; a loaded machine (a sanitizer build beside other tests) can take many seconds.
bool WaitForWindowManager() {
    QElapsedTimer waited;
    waited.start();
    while (waited.elapsed() < 60000) {
        QWindow probe;
        probe.resize(50, 50);
        probe.show();
        const bool framed = QTest::qWaitFor([&] { return !probe.frameMargins().isNull(); }, 2000);
        probe.hide();
        QTest::qWait(100);
        if (framed) return true;
    }
    return false;
}

} // namespace

int main(int argc, char** argv) {
    ::testing::InitGoogleTest(&argc, argv);
    Session session;
    for (int i = 1; i < argc; ++i)
        if (std::string(argv[i]) == "--no-window-manager")
            session.withWindowManager = false;
        else if (std::string(argv[i]) == "--dense")
            session.dense = true;

    QTemporaryDir home;
    testing_support::UseOwnFolders(home.path());
    if (session.dense) qputenv("QT_SCALE_FACTOR", "2");
    const std::optional<std::string> display = StartServer(
        session.server, session.dense ? "1600x1000x24" : "1280x1024x24", session.unavailable);
    if (display) {
        qputenv("DISPLAY", display->c_str());
        qputenv("QT_QPA_PLATFORM", "xcb");
        if (session.withWindowManager &&
            !session.windowManager.start({"openbox", "--sm-disable"})) {
            std::fprintf(stderr, "openbox could not be run\n");
            return 1;
        }
    } else {
        qputenv("QT_QPA_PLATFORM", "offscreen"); // every test skips
    }
    g_session = &session;
    int result = 0;
    {
        QApplication application(argc, argv);
        application.setApplicationName("Tulvex");
        if (session.withWindowManager && display && !WaitForWindowManager()) {
            std::fprintf(stderr, "openbox did not take over the screen\n");
            return 1;
        }
        result = RUN_ALL_TESTS();
    }
    g_session = nullptr;
    return result;
}
