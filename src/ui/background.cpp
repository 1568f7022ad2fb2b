// The background window: the installer's main window.
//
// Full screen it paints a backdrop behind the frame: the package's picture
// tiled from the top-left corner (one pattern-brush fill of the area to
// repaint), or else a vertical blue gradient (an ordered 8 x 8 dither on
// displays deeper than 8 bits), and over either the
// title in white with a black shadow 4 pixels right and below (pictures,
// title and offsets grow with the screen's DPI). Windowed it
// is a plain captioned window around the frame and paints nothing itself.
// Its destruction posts the quit message that ends the last message loop.
#include "base/state.h"
#include "package/format.h"
#include "ui/ui.h"

// The loader keeps a title font only when its record is one LOGFONTA, and a
// picture only when its BITMAPINFOHEADER and rows fit (format.h).
static_assert(sizeof(LOGFONTA) == TITLE_FONT_SIZE, "the title font record is a LOGFONTA");
static_assert(sizeof(BITMAPINFOHEADER) == sizeof(BitmapInfoHeader), "the picture info header");

// Ordered-dither matrix: for bitmap row r and column c, which of the eight
// levels sampled across a band the pixel takes.
static const unsigned char DITHER_8X8[8][8] = {
    {0, 3, 1, 4, 2, 5, 3, 6}, {7, 4, 6, 3, 5, 2, 4, 1}, {2, 5, 3, 6, 4, 7, 5, 0},
    {1, 6, 0, 5, 7, 4, 6, 3}, {4, 7, 5, 0, 6, 1, 7, 2}, {3, 0, 2, 7, 1, 6, 0, 5},
    {6, 1, 7, 2, 0, 3, 1, 4}, {5, 2, 4, 1, 3, 0, 2, 7},
};

int gradientLevel(int y, int h) {
    // y * y * 255 outgrows 31 bits beyond row 2,901. A double holds the
    // product exactly and its quotient floors to the integer quotient (the
    // stub has no 64-bit division helper on i686).
    double yy = static_cast<double>(y) * y, hh = static_cast<double>(h) * h;
    int q = static_cast<int>(yy * 255 / hh);
    return (255 - q) & 0xFF;
}

// The picture, grown to the screen's DPI, becomes a pattern brush aligned on
// the client area's corner, and only the area to repaint is filled: one
// fill whatever the picture's size, rather than one copy per tile.
static void tileImage(HDC dc, const RECT& paint, const unsigned char* image) {
    const BITMAPINFOHEADER* h = &bitmapInfo(image)->bmiHeader;
    if (h->biWidth <= 0 || h->biHeight <= 0) return;  // nothing to tile with
    HPALETTE palette = createBitmapPalette(dc, image), previous = 0;
    if (palette) {
        previous = SelectPalette(dc, palette, FALSE);
        RealizePalette(dc);
    }
    // One tile at the screen's scale, pixel by pixel.
    int w = scaleToScreen(h->biWidth), ht = scaleToScreen(h->biHeight);
    HDC memory = CreateCompatibleDC(dc);
    HBITMAP tile = memory ? CreateCompatibleBitmap(dc, w, ht) : 0;
    HBRUSH brush = 0;
    if (tile) {
        HGDIOBJ was = SelectObject(memory, tile);
        if (palette) {
            SelectPalette(memory, palette, FALSE);
            RealizePalette(memory);
        }
        SetStretchBltMode(memory, COLORONCOLOR);
        StretchDIBits(memory, 0, 0, w, ht, 0, 0, h->biWidth, h->biHeight, bitmapBits(image), bitmapInfo(image),
                      DIB_RGB_COLORS, SRCCOPY);
        SelectObject(memory, was);
        brush = CreatePatternBrush(tile);
    }
    if (memory) DeleteDC(memory);
    if (brush) {
        SetBrushOrgEx(dc, 0, 0, 0);
        FillRect(dc, &paint, brush);
        DeleteObject(brush);
    }
    if (tile) DeleteObject(tile);
    if (palette) {
        SelectPalette(dc, previous, TRUE);
        DeleteObject(palette);
    }
}

// Palette displays: one row at a time over the paint rectangle, a new brush
// only when the colour changes.
static void gradientRows(HDC dc, const RECT& paint, int top, int height) {
    HGDIOBJ original = 0;
    HBRUSH brush = 0;
    int last = -1;
    for (int y = paint.top; y <= paint.bottom; y++) {
        int level = gradientLevel(y, height);
        if (level != last || !brush) {
            if (brush) {
                SelectObject(dc, original);
                DeleteObject(brush);
            }
            brush = CreateSolidBrush(RGB(0, 0, level));
            HGDIOBJ was = SelectObject(dc, brush);
            if (!original) original = was;
            last = level;
        }
        PatBlt(dc, paint.left, top + y, paint.right - paint.left, 1, PATCOPY);
    }
    if (original) SelectObject(dc, original);
    if (brush) DeleteObject(brush);
}

// Deeper displays: one 8 x 8 dithered pattern brush per band of 8 rows,
// mixing the levels of the eight bands from b to b + 56.
static void gradientBands(HDC dc, const RECT& client, int height) {
    const DWORD bytes = sizeof(BITMAPINFOHEADER) + 8 * 24;
    HGLOBAL memory = GlobalAlloc(GMEM_MOVEABLE | GMEM_ZEROINIT, bytes);
    unsigned char* dib = memory ? static_cast<unsigned char*>(GlobalLock(memory)) : 0;
    if (!dib) {
        if (memory) GlobalFree(memory);
        return;
    }
    BITMAPINFOHEADER* info = reinterpret_cast<BITMAPINFOHEADER*>(dib);
    info->biSize = sizeof(BITMAPINFOHEADER);
    info->biWidth = 8;
    info->biHeight = 8;
    info->biPlanes = 1;
    info->biBitCount = 24;
    info->biCompression = BI_RGB;
    info->biSizeImage = 8 * 24;
    unsigned char* pixels = dib + sizeof(BITMAPINFOHEADER);
    for (int b = 0; b < height; b += 8) {
        int levels[8];
        for (int k = 0; k < 8; k++) {
            int y = b + 8 * k;
            levels[k] = gradientLevel(y < height ? y : height, height);
        }
        for (int row = 0; row < 8; row++)
            for (int col = 0; col < 8; col++) {
                unsigned char* p = pixels + row * 24 + col * 3;
                p[0] = static_cast<unsigned char>(levels[DITHER_8X8[row][col]]);
                p[1] = p[2] = 0;
            }
        if (HBRUSH brush = CreateDIBPatternBrushPt(dib, DIB_RGB_COLORS)) {
            HGDIOBJ previous = SelectObject(dc, brush);
            PatBlt(dc, client.left, client.top + b, client.right - client.left, 8, PATCOPY);
            SelectObject(dc, previous);
            DeleteObject(brush);
        }
    }
    GlobalUnlock(memory);
    GlobalFree(memory);
}

void paintBackground(HWND window, const unsigned char* image, const char* title, const unsigned char* font) {
    RECT client;
    GetClientRect(window, &client);
    int height = client.bottom;
    PAINTSTRUCT ps;
    HDC dc = BeginPaint(window, &ps);
    if (!dc) {
        EndPaint(window, &ps);
        return;
    }
    if (image)
        tileImage(dc, ps.rcPaint, image);
    else if (height > 0 && GetDeviceCaps(dc, PLANES) * GetDeviceCaps(dc, BITSPIXEL) <= 8)
        gradientRows(dc, ps.rcPaint, client.top, height);
    else if (height > 0)
        gradientBands(dc, client, height);
    if (title && title[0] && font) {
        // The font's height, the place and the shadow's offset are 96-DPI
        // pixels; they grow with the screen's DPI.
        LOGFONTA scaled = *reinterpret_cast<const LOGFONTA*>(font);
        scaled.lfHeight = scaleToScreen(scaled.lfHeight);
        scaled.lfWidth = scaleToScreen(scaled.lfWidth);
        HFONT made = CreateFontIndirectA(&scaled);
        HGDIOBJ previous = made ? SelectObject(dc, made) : 0;
        SetBkMode(dc, TRANSPARENT);
        int n = lstrlenA(title), at = scaleToScreen(10), shadow = at + scaleToScreen(4);
        SetTextColor(dc, RGB(0, 0, 0));
        TextOutA(dc, shadow, shadow, title, n);
        SetTextColor(dc, RGB(255, 255, 255));
        TextOutA(dc, at, at, title, n);
        if (made) {
            SelectObject(dc, previous);
            DeleteObject(made);
        }
    }
    EndPaint(window, &ps);
}

LRESULT CALLBACK backgroundProcedure(HWND window, UINT message, WPARAM wParam, LPARAM lParam) {
    HWND frame = static_cast<HWND>(state.frameWindow);
    switch (message) {
    case WM_DESTROY:
        PostQuitMessage(0);
        break;
    case WM_PAINT:
        if (!(state.options & OPT_FULL_SCREEN) || IsIconic(window)) break;
        paintBackground(window, state.backgroundImage, state.titleText, state.titleFont);
        if (frame) RedrawWindow(frame, 0, 0, RDW_FRAME);
        return 0;
    case WM_CLOSE:
        requestClose();  // never the default, which would destroy the window
        return 0;
    case WM_ACTIVATEAPP:
        if (frame) PostMessageA(frame, WM_NCACTIVATE, wParam, 0);
        break;
    case WM_SYSCOMMAND:
        switch (wParam & 0xFFF0) {
        case SC_MAXIMIZE:
        case SC_RESTORE:
            if (frame) ShowWindow(frame, SW_SHOWNORMAL);
            break;
        case SC_CLOSE:
            closeWizardFromMenu();
            return 0;
        }
        break;
    }
    return DefWindowProcA(window, message, wParam, lParam);
}
