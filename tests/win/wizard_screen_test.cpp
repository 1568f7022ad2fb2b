// What the wizard puts on the screen, read back from screenshots of the
// real installer: where the frame and background window sit in both
// presentations, the backdrop's gradient, tiled picture and shadowed title,
// and the progress bar's blocks.
#include <gtest/gtest.h>

#include "wizard_support.h"

using namespace wiztest;
using winsupport::TempDir;

namespace {

RECT clientOnScreen(HWND w) {
    RECT r;
    GetClientRect(w, &r);
    MapWindowPoints(w, 0, reinterpret_cast<POINT*>(&r), 2);
    return r;
}

int level(int y, int h) { return (255 - static_cast<int>(int64_t(y) * y * 255 / (int64_t(h) * h))) & 0xFF; }

struct Box {
    int left = INT_MAX, top = INT_MAX, right = -1, bottom = -1;
    void add(int x, int y) {
        left = std::min(left, x), top = std::min(top, y), right = std::max(right, x), bottom = std::max(bottom, y);
    }
};

}  // namespace

// Windowed: the background window is exactly the frame plus caption and
// borders. Full screen: it covers the screen, the frame is centred and
// carries the page title.
TEST(WizardScreen, WindowedAndFullScreenPlacement) {
    TempDir dir;
    RECT outer, frame;
    {  // one installer at a time: a second one would give way to the first
        Package windowed;
        WizardRun run(windowed.write(dir, "windowed.exe"), testName() + "-windowed");
        run.page("Page 0");
        RECT client = clientOnScreen(run.background());
        GetWindowRect(run.frame(), &frame);
        EXPECT_EQ(frame.left, client.left);
        EXPECT_EQ(frame.top, client.top);
        EXPECT_EQ(frame.right, client.right);
        EXPECT_EQ(frame.bottom, client.bottom);
        RECT expected = frame;
        GetWindowRect(run.background(), &outer);
        AdjustWindowRectEx(&expected, WS_CAPTION | WS_SYSMENU | WS_MINIMIZEBOX, FALSE, 0);
        EXPECT_EQ(outer.right - outer.left, expected.right - expected.left);
        EXPECT_EQ(outer.bottom - outer.top, expected.bottom - expected.top);
    }
    Package full;
    full.fullScreen = true;
    WizardRun fs(full.write(dir, "full.exe"), testName() + "-full");
    fs.page("Page 0");
    GetWindowRect(fs.background(), &outer);
    EXPECT_EQ(outer.right - outer.left, GetSystemMetrics(SM_CXSCREEN));
    EXPECT_EQ(outer.bottom - outer.top, GetSystemMetrics(SM_CYSCREEN));
    GetWindowRect(fs.frame(), &frame);
    EXPECT_NEAR((frame.left + frame.right) / 2, GetSystemMetrics(SM_CXSCREEN) / 2, 1);
    EXPECT_NEAR((frame.top + frame.bottom) / 2, GetSystemMetrics(SM_CYSCREEN) / 2, 1);
    EXPECT_EQ(wizard::windowText(fs.frame()), "Page 0");
    EXPECT_EQ(wizard::windowText(fs.background()), "Wizard Test");
}

// Without a picture the backdrop is a blue ramp: 255 at the top, about 192
// halfway down. A row belongs to the band of 8 rows it lies in, and each of
// its dithered pixels takes one of the levels sampled at that band's start
// and the seven bands below it.
TEST(WizardScreen, GradientRunsFromFullBlueAtTheTop) {
    TempDir dir;
    Package p;
    p.fullScreen = true;
    WizardRun run(p.write(dir), testName());
    run.page("Page 0");
    RECT c = clientOnScreen(run.background());
    int h = c.bottom - c.top;
    wizard::Screen s = wizard::captureScreen();
    for (int y : {0, h / 2}) {
        int band = y - y % 8;
        int highest = 0;
        for (int x = 0; x < 64; x++) {
            uint32_t px = s.at(c.left + x, c.top + y);
            EXPECT_EQ(wizard::red(px), 0);
            EXPECT_EQ(wizard::green(px), 0);
            EXPECT_LE(wizard::blue(px), level(band, h));
            EXPECT_GE(wizard::blue(px), level(band + 56, h));
            highest = std::max(highest, wizard::blue(px));
        }
        EXPECT_EQ(highest, level(band, h)) << "row " << y;
    }
    EXPECT_EQ(level(0, h), 255);
    EXPECT_NEAR(level(h / 2, h), 192, 1);
}

// A small picture repeats from the client's top-left corner; the last
// column is cut at the edge.
TEST(WizardScreen, BackgroundPictureTilesFromTheTopLeft) {
    TempDir dir;
    Package p;
    p.fullScreen = true;
    const int w = 16, h = 12;
    auto colour = [](int x, int y) -> uint32_t {
        if (x == 0 && y == 0) return 0xFF0000;
        if (x == w - 1 && y == h - 1) return 0x00FF00;
        return 0x404040 + x * 4;
    };
    p.backgroundImage = bmp24(w, h, colour);
    WizardRun run(p.write(dir), testName());
    run.page("Page 0");
    RECT c = clientOnScreen(run.background());
    wizard::Screen s = wizard::captureScreen();
    for (int j = 0; j < 6; j++)
        for (int i = 0; i < 8; i++) {
            EXPECT_EQ(s.at(c.left + i * w, c.top + j * h), 0xFF0000u) << i << "," << j;
            EXPECT_EQ(s.at(c.left + i * w + w - 1, c.top + j * h + h - 1), 0x00FF00u) << i << "," << j;
        }
    int lastX = c.right - c.left - 1;
    EXPECT_EQ(s.at(c.left + lastX, c.top + 5), colour(lastX % w, 5));
}

// The title is white at (10, 10) over a black copy 4 pixels right and below.
TEST(WizardScreen, TitleShadowLiesFourPixelsRightAndBelow) {
    TempDir dir;
    Package p;
    p.fullScreen = true;
    p.backgroundImage = bmp24(8, 8, [](int, int) { return 0x808080; });
    p.title = "HT";
    p.titleFont = logFont("Arial", 40, 700);
    WizardRun run(p.write(dir), testName());
    run.page("Page 0");
    RECT c = clientOnScreen(run.background());
    wizard::Screen s = wizard::captureScreen();
    Box white, black;
    for (int y = 0; y < 100; y++)
        for (int x = 0; x < 200; x++) {
            uint32_t px = s.at(c.left + x, c.top + y);
            if (px == 0xFFFFFF) white.add(x, y);
            if (px == 0x000000) black.add(x, y);
        }
    ASSERT_GE(white.right, 0) << "no title drawn";
    EXPECT_GE(white.left, 10);
    EXPECT_GE(white.top, 10);
    EXPECT_EQ(black.left, white.left + 4);
    EXPECT_EQ(black.top, white.top + 4);
    EXPECT_EQ(black.right, white.right + 4);
    EXPECT_EQ(black.bottom, white.bottom + 4);
}

// The bar on screen follows the percentage it shows: blocks half the bar's
// height wide with 2-pixel gaps from x = 1, one at 0 %, and further ones
// while they end inside the bar and inside the done part.
TEST(WizardScreen, ProgressBarShowsTheBlocksOfItsPercentage) {
    TempDir dir;
    Package p;
    p.startPage = 4;
    WizardRun run(p.write(dir), testName());
    HWND page = run.page("Page 4");
    run.settle(500);  // the single page stays when the run has ended
    int percent = std::stoi(run.controlText(page, 1010));
    RECT bar;
    GetWindowRect(GetDlgItem(page, 1009), &bar);
    int w = bar.right - bar.left, h = bar.bottom - bar.top, half = h / 2;
    wizard::Screen s = wizard::captureScreen();
    uint32_t blockColour = GetSysColor(COLOR_ACTIVECAPTION);
    blockColour = ((blockColour & 0xFF) << 16) | (blockColour & 0xFF00) | ((blockColour >> 16) & 0xFF);
    std::vector<int> starts;
    int y = bar.top + h / 2;
    for (int x = 0; x < w; x++)
        if (s.at(bar.left + x, y) == blockColour && (x == 0 || s.at(bar.left + x - 1, y) != blockColour))
            starts.push_back(x);
    std::vector<int> expected;
    for (int k = 0; k == 0 || (1 + k * (half + 2) + half < w && 1 + k * (half + 2) + half < percent * w / 100); k++)
        expected.push_back(1 + k * (half + 2));
    EXPECT_EQ(starts, expected);
}
