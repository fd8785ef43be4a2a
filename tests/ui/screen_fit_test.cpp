// SPDX-License-Identifier: GPL-3.0-or-later
// The window on the screen it starts on: placed whole on it, its thumbnails as sharp as the
// screen's density allows. Built twice: on a desktop screen, and on a laptop's at twice the
// density (QT_SCALE_FACTOR=2), whose 1600x1000 device pixels are 800x500 logical ones.
#include "ui/placement.h"
#include "ui/support/window_fixture.h"

#include <QScreen>
#include <QWindow>

using namespace testing_support;

namespace {

QRect ScreenArea() {
    return QGuiApplication::primaryScreen()->availableGeometry();
}

// The free area of the screen that holds all of `outer`; empty when none does.
QRect ScreenHolding(const QRect& outer) {
    for (const QScreen* screen : QGuiApplication::screens())
        if (screen->availableGeometry().contains(outer)) return screen->availableGeometry();
    return {};
}

std::string Describe(const QRect& r) {
    return std::to_string(r.width()) + "x" + std::to_string(r.height()) + " at " +
           std::to_string(r.left()) + "," + std::to_string(r.top());
}

QString Geometry(int left, int top, int width, int height) {
    return QStringLiteral("\"WinLeft\"=dword:%1\n\"WinTop\"=dword:%2\n\"WinWidth\"=dword:%3\n"
                          "\"WinHeight\"=dword:%4\n")
        .arg(quint32(left), 8, 16, QChar(u'0'))
        .arg(quint32(top), 8, 16, QChar(u'0'))
        .arg(width, 8, 16, QChar(u'0'))
        .arg(height, 8, 16, QChar(u'0'));
}

} // namespace

TEST(PlaceOnScreen, PullsTheWholeWindowOntoTheScreenThatHoldsMostOfIt) {
    const QRect left(0, 0, 1600, 1000), right(1600, 0, 1280, 1024);
    const QList<QRect> both{left, right};
    EXPECT_EQ(ui::PlaceOnScreen({100, 80, 900, 700}, both, left), QRect(100, 80, 900, 700))
        << "a window on the screen stays where it is";
    EXPECT_EQ(ui::PlaceOnScreen({200, -80, 800, 600}, both, left), QRect(200, 0, 800, 600))
        << "the title bar comes down onto the screen";
    EXPECT_EQ(ui::PlaceOnScreen({1500, 300, 800, 600}, both, left), QRect(1600, 300, 800, 600))
        << "to the screen that holds most of it";
    EXPECT_EQ(ui::PlaceOnScreen({5000, 4000, 900, 700}, both, left), QRect(700, 300, 900, 700))
        << "off every screen: onto the primary one";
    EXPECT_EQ(ui::PlaceOnScreen({-300, 100, 2400, 1500}, both, left), QRect(0, 0, 1600, 1000))
        << "larger than the screen: as large as the screen";
    EXPECT_EQ(ui::PlaceOnScreen({-300, 100, 900, 700}, {}, QRect()), QRect(-300, 100, 900, 700))
        << "no screen to go by";
}

TEST_F(WindowTest, AFirstStartPutsTheWholeWindowOnTheScreen) {
    Start(photos.qpath());
    const QRect outer = window->frameGeometry();
    EXPECT_TRUE(ScreenArea().contains(outer))
        << Describe(outer) << " on " << Describe(ScreenArea());
    const QSize wanted = TFormTulvex::kMinimumOuter.boundedTo(ScreenArea().size());
    EXPECT_EQ(outer.size(), wanted) << "the minimum size, or the screen's when that is smaller";
}

TEST_F(WindowTest, StoredGeometryOffTheScreenOrLargerThanItComesOntoIt) {
    const QRect area = ScreenArea();
    const struct {
        QRect stored;
        const char* what;
    } cases[] = {
        {{area.right() - 100, area.bottom() - 100, 800, 600}, "off the bottom right"},
        {{-500, -300, 800, 600}, "off the top left, title bar above the screen"},
        {{40, 30, area.width() + 300, area.height() + 200}, "larger than the screen"},
    };
    for (const auto& c : cases) {
        Start(photos.qpath(),
              Geometry(c.stored.left(), c.stored.top(), c.stored.width(), c.stored.height()));
        const QRect outer = window->frameGeometry();
        const QRect holding = ScreenHolding(outer);
        EXPECT_FALSE(holding.isEmpty()) << c.what << ": " << Describe(outer) << " on no screen";
        EXPECT_EQ(outer.size(), c.stored.size().boundedTo(holding.size())) << c.what;
        window.reset();
    }
}

TEST_F(WindowTest, ThumbnailsHaveTheScreensPixelsAndDrawOneToOne) {
    MakePhotos(photos.qpath(), {1}, 640, 480);
    Start(photos.qpath());
    ASSERT_EQ(window->thumbList().size(), 1u);
    const QImage& thumbnail = window->thumbList()[0].thumbnail;
    auto* grid = window->findChild<TDrawGrid*>("DrawGrid");
    ASSERT_TRUE(grid);
    const qreal density = grid->devicePixelRatioF();
#ifdef TULVEX_TEST_SCALE_FACTOR
    EXPECT_EQ(density, 2.0);
#endif
    const int cell = grid->DefaultColWidth();
    const thumbs::PixelSize logical = thumbs::ThumbnailSize(640, 480, cell, cell + 20);
    EXPECT_EQ(thumbnail.size(),
              QSize(qRound(logical.width * density), qRound(logical.height * density)));
    EXPECT_EQ(thumbnail.deviceIndependentSize().toSize(), QSize(logical.width, logical.height));

    // The grid shows each of the thumbnail's pixels as one pixel of the screen.
    const QImage shown = grid->viewport()->grab().toImage().convertToFormat(QImage::Format_RGB888);
    ASSERT_EQ(shown.devicePixelRatio(), density);
    const QPoint at(qRound((cell - logical.width) / 2 * density), qRound(5 * density));
    const QImage drawn = shown.copy(QRect(at, thumbnail.size()));
    int differing = 0;
    for (int y = 0; y < drawn.height(); ++y)
        for (int x = 0; x < drawn.width(); ++x) {
            const QColor a = drawn.pixelColor(x, y), b = thumbnail.pixelColor(x, y);
            if (std::abs(a.red() - b.red()) + std::abs(a.green() - b.green()) +
                    std::abs(a.blue() - b.blue()) >
                6)
                ++differing;
        }
    EXPECT_LT(differing, drawn.width() * drawn.height() / 100)
        << "pixels drawn other than the thumbnail's";
}

TEST_F(WindowTest, MovedToADenserScreenTheThumbnailsAreMadeAgainForIt) {
    MakePhotos(photos.qpath(), {1, 1}, 640, 480);
    Start(photos.qpath());
    QScreen* dense = nullptr;
    for (QScreen* screen : QGuiApplication::screens())
        if (screen->name() == "side") dense = screen;
    ASSERT_TRUE(dense);
    const qreal before = window->devicePixelRatioF();
    const int loads = window->loadsFinished();
    window->windowHandle()->setScreen(dense);
    window->move(dense->availableGeometry().topLeft() + QPoint(20, 20));
    ASSERT_EQ(window->devicePixelRatioF(), 2 * before);
    WaitForLoads(loads + 1);
    ASSERT_EQ(window->thumbList().size(), 2u);
    for (const ThumbEntry& e : window->thumbList())
        EXPECT_EQ(e.thumbnail.devicePixelRatio(), 2 * before) << e.path.toStdString();
}

TEST_F(WindowTest, AMaximizedStartKeepsTheStatusBarOnTheScreen) {
    MakePhotos(photos.qpath(), {1});
    Start(photos.qpath(), "\"WinMax\"=\"1\"\n");
    const QSize area = ScreenArea().size();
    const QSize frame = window->frameGeometry().size() - window->geometry().size();
    const QSize minimumOuter = window->minimumSize() + frame;
    EXPECT_LE(minimumOuter.width(), area.width());
    EXPECT_LE(minimumOuter.height(), area.height())
        << "a minimum taller than the screen pushes the status bar off it";
    EXPECT_TRUE(ScreenArea().contains(window->frameGeometry()));
}
