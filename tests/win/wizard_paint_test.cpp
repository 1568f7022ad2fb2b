// The wizard's helpers inside this process, on windows and memory device
// contexts the test builds itself: the progress bar's rule for any
// percentage and size, the gradient's levels on tall screens, the frame's
// placement clamp, button masks and captions, the colour reply, the frame
// picture's centring and clipping, and the palette of an 8-bit picture.
#include <gtest/gtest.h>

#include "package/loader.h"
#include "base/state.h"
#include "ui/ui.h"
#include "wizard_support.h"

namespace {

// A hidden window with one child per (id, rectangle), painted into a
// 32-bit memory bitmap of the window's size.
class Canvas {
public:
    Canvas(int w, int h) : w_(w), h_(h) {
        window_ = CreateWindowExA(0, "STATIC", "", WS_POPUP, 0, 0, w, h, 0, 0, GetModuleHandleA(0), 0);
        HDC screen = GetDC(0);
        dc_ = CreateCompatibleDC(screen);
        BITMAPINFO info = {};
        info.bmiHeader = {sizeof(BITMAPINFOHEADER), w, -h, 1, 32, BI_RGB, 0, 0, 0, 0, 0};
        bitmap_ = CreateDIBSection(screen, &info, DIB_RGB_COLORS, reinterpret_cast<void**>(&bits_), 0, 0);
        old_ = SelectObject(dc_, bitmap_);
        ReleaseDC(0, screen);
        for (int i = 0; i < w * h; i++) bits_[i] = 0x123456;
    }
    ~Canvas() {
        SelectObject(dc_, old_);
        DeleteObject(bitmap_);
        DeleteDC(dc_);
        DestroyWindow(window_);
    }
    HWND child(int id, int x, int y, int w, int h) {
        return CreateWindowExA(0, "STATIC", "", WS_CHILD, x, y, w, h, window_, reinterpret_cast<HMENU>(INT_PTR(id)),
                               GetModuleHandleA(0), 0);
    }
    uint32_t at(int x, int y) {
        GdiFlush();
        return bits_[y * w_ + x] & 0xFFFFFF;
    }
    HWND window() const { return window_; }
    HDC dc() const { return dc_; }

private:
    int w_, h_;
    HWND window_;
    HDC dc_;
    HBITMAP bitmap_;
    HGDIOBJ old_;
    uint32_t* bits_ = nullptr;
};

uint32_t rgb(COLORREF c) { return ((c & 0xFF) << 16) | (c & 0xFF00) | ((c >> 16) & 0xFF); }
uint32_t sys(int index) { return rgb(GetSysColor(index)); }

// Left edges of the blocks along the bar's middle row.
std::vector<int> blocks(Canvas& c, int x0, int y, int w) {
    std::vector<int> starts;
    uint32_t colour = sys(COLOR_ACTIVECAPTION);
    for (int x = 0; x < w; x++)
        if (c.at(x0 + x, y) == colour && (x == 0 || c.at(x0 + x - 1, y) != colour)) starts.push_back(x);
    return starts;
}

}  // namespace

// One block at 0 %, blocks of half the height with 2-pixel gaps, nothing
// past the done part or the bar's end, and a sunken border around it.
TEST(WizardPaint, ProgressBarBlocksFollowThePercentage) {
    Canvas c(200, 40);
    c.child(1009, 20, 10, 100, 10);
    HWND percent = c.child(1010, 130, 10, 40, 10);
    state.progressPercent = 0;
    drawProgressBar(c.window(), c.dc());
    EXPECT_EQ(blocks(c, 20, 15, 100), std::vector<int>{1});
    char text[16];
    GetWindowTextA(percent, text, sizeof text);
    EXPECT_STREQ(text, "0%");
    EXPECT_EQ(c.at(20, 10), sys(COLOR_BTNSHADOW));
    EXPECT_EQ(c.at(119, 19), sys(COLOR_BTNHIGHLIGHT));
    EXPECT_EQ(c.at(19, 10), 0x123456u) << "nothing is drawn outside the bar";

    state.progressPercent = 30;  // done part ends at 30: blocks ending before it
    drawProgressBar(c.window(), c.dc());
    EXPECT_EQ(blocks(c, 20, 15, 100), (std::vector<int>{1, 8, 15, 22}));

    state.progressPercent = 100;
    drawProgressBar(c.window(), c.dc());
    std::vector<int> full;
    for (int x = 1; x + 5 < 100; x += 7) full.push_back(x);
    EXPECT_EQ(blocks(c, 20, 15, 100), full);
    GetWindowTextA(percent, text, sizeof text);
    EXPECT_STREQ(text, "100%");
}

TEST(WizardPaint, SetProgressClampsAtOneHundred) {
    Canvas c(100, 20);
    c.child(1009, 0, 0, 60, 10);
    state.progressWindow = c.window();
    setProgress(250);
    EXPECT_EQ(state.progressPercent, 100);
    setProgress(0xFFFFFFFFu);
    EXPECT_EQ(state.progressPercent, 100);
    setProgress(7);
    EXPECT_EQ(state.progressPercent, 7);
    state.progressWindow = 0;
}

// The ramp's ends and middle, also on screens taller than 2,901 rows where
// y * y * 255 no longer fits 31 bits.
TEST(WizardPaint, GradientLevels) {
    EXPECT_EQ(gradientLevel(0, 768), 255);
    EXPECT_EQ(gradientLevel(384, 768), 192);
    EXPECT_EQ(gradientLevel(768, 768), 0);
    for (int h : {3000, 4320, 8640})
        for (int y = 0; y <= h; y += 97) {
            int64_t expected = (255 - int64_t(y) * y * 255 / (int64_t(h) * h)) & 0xFF;
            ASSERT_EQ(gradientLevel(y, h), expected) << y << " of " << h;
        }
}

// The frame centres itself on the screen but never leaves the background
// window: at 0 when it is larger, at the far edge when centring overshoots.
TEST(WizardPaint, FramePlacementIsClampedToTheBackgroundWindow) {
    HWND background = CreateWindowExA(0, "STATIC", "", WS_POPUP, 0, 0, 300, 200, 0, 0, GetModuleHandleA(0), 0);
    state.backgroundWindow = background;
    struct Case {
        short cx, cy;
        int centreX, centreY, x, y;
    };
    for (const Case& k : {Case{60, 40, 500, 500, 0, 0}, Case{60, 40, 150, 100, 0, 0}, Case{400, 20, 150, 100, 0, 0}}) {
        pkg::Bytes t = winsupport::dialogTemplate(WS_POPUP, k.cx, k.cy, "", {});
        state.screenCenterX = k.centreX;
        state.screenCenterY = k.centreY;
        HWND frame = CreateDialogIndirectParamA(GetModuleHandleA(0), reinterpret_cast<LPCDLGTEMPLATEA>(t.data()),
                                                background, frameProcedure, 0);
        ASSERT_TRUE(frame);
        RECT r;
        GetWindowRect(frame, &r);
        int w = r.right - r.left, h = r.bottom - r.top;
        int expectX = k.centreX - w / 2, expectY = k.centreY - h / 2;
        if (std::min(expectX, 300 - w) < 0) expectX = 0;
        else if (expectX >= 300 - w) expectX = 300 - w;
        if (std::min(expectY, 200 - h) < 0) expectY = 0;
        else if (expectY >= 200 - h) expectY = 200 - h;
        EXPECT_EQ(r.left, expectX) << k.cx << "x" << k.cy;
        EXPECT_EQ(r.top, expectY);
        if (k.centreX == 500) EXPECT_EQ(r.left, 300 - w) << "placed at the right edge";
        if (k.cx == 400) EXPECT_EQ(r.left, 0) << "wider than the window: at 0";
        DestroyWindow(frame);
    }
    DestroyWindow(background);
    state.backgroundWindow = 0;
}

// Buttons follow the mask bit by bit; a mask of 0 disables all three; a
// caption goes only to the button named.
TEST(WizardPaint, ButtonMaskAndCaptions) {
    pkg::Bytes t = winsupport::dialogTemplate(WS_POPUP, 200, 50, "",
                                              {{"BUTTON", "b", 1007, BS_PUSHBUTTON, 0, 0, 40, 14},
                                               {"BUTTON", "n", IDOK, BS_PUSHBUTTON, 50, 0, 40, 14},
                                               {"BUTTON", "c", IDCANCEL, BS_PUSHBUTTON, 100, 0, 40, 14}});
    HWND frame = CreateWindowExA(0, "STATIC", "", WS_POPUP, 0, 0, 10, 10, 0, 0, 0, 0);
    HWND dialog = CreateDialogIndirectParamA(GetModuleHandleA(0), reinterpret_cast<LPCDLGTEMPLATEA>(t.data()), 0,
                                             [](HWND, UINT, WPARAM, LPARAM) -> INT_PTR { return 0; }, 0);
    state.frameWindow = dialog;
    for (unsigned mask : {0u, 1u, 2u, 4u, 7u, 0x105u}) {
        setButtonMask(mask);
        EXPECT_EQ(state.buttonMask, mask);
        EXPECT_EQ(IsWindowEnabled(GetDlgItem(dialog, 1007)) != 0, (mask & 1) != 0);
        EXPECT_EQ(IsWindowEnabled(GetDlgItem(dialog, IDOK)) != 0, (mask & 2) != 0);
        EXPECT_EQ(IsWindowEnabled(GetDlgItem(dialog, IDCANCEL)) != 0, (mask & 4) != 0);
    }
    setButtonCaption(3, 0);  // names no button
    char text[16];
    GetDlgItemTextA(dialog, 1007, text, sizeof text);
    EXPECT_STREQ(text, "b");
    state.frameWindow = 0;
    DestroyWindow(dialog);
    DestroyWindow(frame);
}

// Dialog, static, button and message-box colours use the face brush; edit,
// list-box and scroll-bar colours keep the defaults.
TEST(WizardPaint, ColourReplyCoversDialogsStaticsAndButtonsOnly) {
    HBRUSH brush = CreateSolidBrush(RGB(1, 2, 3));
    state.faceBrush = brush;
    HDC dc = CreateCompatibleDC(0);
    for (UINT m : {WM_CTLCOLORMSGBOX, WM_CTLCOLORBTN, WM_CTLCOLORDLG, WM_CTLCOLORSTATIC}) {
        SetBkColor(dc, RGB(9, 9, 9));
        EXPECT_EQ(dialogColourReply(0, m, reinterpret_cast<WPARAM>(dc)), reinterpret_cast<INT_PTR>(brush)) << m;
        EXPECT_EQ(GetBkColor(dc), GetSysColor(COLOR_BTNFACE));
    }
    for (UINT m : {WM_CTLCOLOREDIT, WM_CTLCOLORLISTBOX, WM_CTLCOLORSCROLLBAR, WM_PAINT})
        EXPECT_EQ(dialogColourReply(0, m, reinterpret_cast<WPARAM>(dc)), 0) << m;
    DeleteDC(dc);
    state.faceBrush = 0;
    DeleteObject(brush);
}

// A picture larger than its control is centred on it and cut at its edges.
TEST(WizardPaint, FramePictureIsCentredAndClippedToItsControl) {
    Canvas c(100, 100);
    c.child(1011, 30, 30, 20, 20);
    pkg::Bytes picture = wiztest::bmp24(40, 40, [](int x, int y) -> uint32_t {
        return (x < 20 ? 0xFF0000 : 0x0000FF) | (y < 20 ? 0 : 0x00FF00);
    });
    drawFramePicture(c.window(), c.dc(), 1011, picture.data());
    EXPECT_EQ(c.at(30, 30), 0xFF0000u);  // picture pixel (10, 10)
    EXPECT_EQ(c.at(49, 30), 0x0000FFu);  // (29, 10)
    EXPECT_EQ(c.at(30, 49), 0xFFFF00u);  // (10, 29)
    EXPECT_EQ(c.at(29, 30), 0x123456u) << "clipped at the control's left edge";
    EXPECT_EQ(c.at(50, 50), 0x123456u) << "clipped at its right and bottom edges";
    EXPECT_EQ(c.at(20, 20), 0x123456u) << "the picture's own border lies outside the clip";
}

// An 8-bit picture's palette takes its colour table; entries past a short
// table stay black; the first and last ten are kept from collapsing.
TEST(WizardPaint, PaletteOfAnEightBitPicture) {
    pkg::Bytes bmp(54 + 3 * 4 + 4, 0);
    bmp[0] = 'B', bmp[1] = 'M';
    uint32_t header[10] = {40, 1, 1, 1 | (8u << 16), 0, 4, 0, 0, 3, 0};
    memcpy(bmp.data() + 14, header, 40);
    const uint8_t table[12] = {10, 20, 30, 0, 40, 50, 60, 0, 70, 80, 90, 0};  // blue, green, red, -
    memcpy(bmp.data() + 54, table, 12);
    HDC dc = GetDC(0);
    HPALETTE palette = createBitmapPalette(dc, bmp.data());
    ASSERT_TRUE(palette);
    PALETTEENTRY e[256];
    ASSERT_EQ(GetPaletteEntries(palette, 0, 256, e), 256u);
    EXPECT_EQ(e[1].peRed, 60);
    EXPECT_EQ(e[1].peGreen, 50);
    EXPECT_EQ(e[1].peBlue, 40);
    EXPECT_EQ(e[3].peRed | e[3].peGreen | e[3].peBlue, 0);
    EXPECT_EQ(e[5].peFlags, PC_NOCOLLAPSE);
    EXPECT_EQ(e[100].peFlags, 0);
    EXPECT_EQ(e[250].peFlags, PC_NOCOLLAPSE);
    DeleteObject(palette);
    pkg::Bytes wide = wiztest::bmp24(2, 2, [](int, int) { return 0u; });
    EXPECT_FALSE(createBitmapPalette(dc, wide.data())) << "only 8-bit pictures have a palette";
    ReleaseDC(0, dc);
}
