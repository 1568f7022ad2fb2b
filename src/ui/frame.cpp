// The wizard frame and the protocol every page follows.
//
// The frame is one modeless dialog that lives for the whole run and holds
// Back (1007), Next (1) and Cancel (2), an optional picture (control 1011)
// and a sunken panel (1012). Pages are child dialogs placed at control 1006.
// A page ends when state.pageResult becomes non-zero: the frame turns its
// buttons into results, after offering each WM_COMMAND to the page first (a
// page that consumes one answers through markHandled). Every dialog of the
// wizard ends its procedure with dialogColourReply, so all share the face
// brush, and applyDialogFont, so all share one normal-weight font. Pages
// jump with goToPage; WM_CLOSE ends the wizard at any page (requestClose).
#include "base/state.h"
#include "package/bitmap.h"
#include "package/fileops.h"
#include "package/loader.h"
#include "package/strings.h"
#include "ui/ui.h"

static HWND frameWnd() { return static_cast<HWND>(state.frameWindow); }

// The atom of the system's dialog class, "#32770".
const WORD DIALOG_CLASS_ATOM = 32770;

void goToPage(int n) {
    state.pageIndex = n - 1;
    state.pageResult = PAGE_RESULT_NEXT;
}

// Message boxes and the folder dialogs are dialogs of the system's dialog
// class; ending them returns their nested loops at once.
static BOOL CALLBACK endDialog(HWND window, LPARAM frame) {
    if (window != reinterpret_cast<HWND>(frame) && GetClassWord(window, GCW_ATOM) == DIALOG_CLASS_ATOM)
        EndDialog(window, IDCANCEL);
    return TRUE;
}

void requestClose() {
    HWND frame = frameWnd();
    if (state.installRunning) {
        // As the Cancel button: the progress page asks first.
        if (frame) PostMessageA(frame, WM_COMMAND, IDCANCEL, 0);
        return;
    }
    state.closing = 1;
    state.pageResult = PAGE_RESULT_CANCEL;
    EnumThreadWindows(GetCurrentThreadId(), endDialog, reinterpret_cast<LPARAM>(frame));
}

bool singlePageMode() { return stubData.header.startPage != START_PAGE_WIZARD; }

void setControlText(HWND dialog, int id, const char* text) {
    HWND control = GetDlgItem(dialog, id);
    if (control) SetWindowTextA(control, text);
}

// An edit control breaks lines only at "\r\n" (a static reads "\r\n" as
// "\n"); the scroll bar shows only when the lines do not all fit. A static
// answers EM_GETLINECOUNT with 0 and never shows one.
void setScrollingText(HWND control, const char* text) {
    char* scratch = static_cast<char*>(allocBuffer(2048));
    if (!scratch) return;
    uint32_t n = 0;
    for (const char* p = text; *p && n + 2 < 2048; p++) {
        if (*p == '\n' && (p == text || p[-1] != '\r')) scratch[n++] = '\r';
        scratch[n++] = *p;
    }
    scratch[n] = 0;
    ShowScrollBar(control, SB_VERT, FALSE);
    SetWindowTextA(control, scratch);
    freeBlock(scratch);
    LRESULT lines = SendMessageA(control, EM_GETLINECOUNT, 0, 0);
    HDC dc = GetDC(control);
    if (!dc) return;
    HGDIOBJ previous = SelectObject(dc, reinterpret_cast<HGDIOBJ>(SendMessageA(control, WM_GETFONT, 0, 0)));
    TEXTMETRICA metrics;
    RECT r;
    if (GetTextMetricsA(dc, &metrics) && GetClientRect(control, &r) && lines * metrics.tmHeight > r.bottom)
        ShowScrollBar(control, SB_VERT, TRUE);
    SelectObject(dc, previous);
    ReleaseDC(control, dc);
}

// A page's label that cannot show all of its text becomes a read-only
// edit of the same place, number and font without a border: it looks like
// the label (the page answers its colour request as a static's) and
// scrolls, so that a publisher's longer text is never cut.
static void scrollIfCut(HWND page, int id, const char* text) {
    HWND label = GetDlgItem(page, id);
    char kind[8];
    if (!label || !*text || !GetClassNameA(label, kind, sizeof kind) || lstrcmpiA(kind, "Static")) return;
    RECT box, need;
    GetClientRect(label, &box);
    need = box;
    HDC dc = GetDC(label);
    if (!dc) return;
    HGDIOBJ font = reinterpret_cast<HGDIOBJ>(SendMessageA(label, WM_GETFONT, 0, 0));
    HGDIOBJ previous = SelectObject(dc, font);
    DrawTextA(dc, text, -1, &need, DT_CALCRECT | DT_WORDBREAK | DT_EXPANDTABS);
    SelectObject(dc, previous);
    ReleaseDC(label, dc);
    if (need.bottom <= box.bottom) return;
    RECT r;
    GetWindowRect(label, &r);
    MapWindowPoints(0, page, reinterpret_cast<POINT*>(&r), 2);
    HWND edit = CreateWindowExA(0, "EDIT", "", WS_CHILD | WS_VISIBLE | ES_MULTILINE | ES_READONLY | WS_VSCROLL,
                                r.left, r.top, r.right - r.left, r.bottom - r.top, page,
                                reinterpret_cast<HMENU>(static_cast<INT_PTR>(id)),
                                static_cast<HINSTANCE>(state.instance), 0);
    if (!edit) return;
    SendMessageA(edit, WM_SETFONT, reinterpret_cast<WPARAM>(font), FALSE);
    DestroyWindow(label);
    setScrollingText(edit, text);
}

// Centres the frame on the screen, clamped so that it stays inside the
// background window wherever it fits.
static void placeFrame(HWND frame) {
    RECT main, own;
    GetWindowRect(static_cast<HWND>(state.backgroundWindow), &main);
    GetWindowRect(frame, &own);
    int frameW = own.right - own.left, frameH = own.bottom - own.top;
    int maxX = (main.right - main.left) - frameW;
    int maxY = (main.bottom - main.top) - frameH;
    int x = state.screenCenterX - frameW / 2;
    int y = state.screenCenterY - frameH / 2;
    if ((x < maxX ? x : maxX) < 0) x = 0;
    else if (x >= maxX) x = maxX;
    if ((y < maxY ? y : maxY) < 0) y = 0;
    else if (y >= maxY) y = maxY;
    SetWindowPos(frame, 0, x, y, 0, 0, SWP_NOSIZE | SWP_NOZORDER);
}

static void frameCancel() {
    if (state.buttonMask & BTN_NO_CONFIRM) {
        state.pageResult = PAGE_RESULT_CANCEL;
        return;
    }
    if (showMessage(getString(TABLE_MESSAGES, TEXT_LEAVE_QUESTION), MB_QUESTION_YESNO) == BOX_YES) {
        showMessage(getString(TABLE_MESSAGES, TEXT_CANCELLED), MB_INFO);
        state.pageResult = PAGE_RESULT_CANCEL;
    }
}

static bool frameButtonActive(unsigned id) {
    unsigned bit = id == ID_NEXT ? BTN_NEXT : id == ID_BACK ? BTN_BACK : id == ID_CANCEL ? BTN_CANCEL : 0;
    return !bit || (state.buttonMask & bit);
}

// The close box, Alt+F4 and the system menu's Close: while files are being
// installed they are Cancel with its question (requestClose), otherwise
// the wizard ends at once.
bool closeWizardFromMenu() {
    if (state.installRunning) {
        requestClose();
        return true;
    }
    state.pageResult = PAGE_RESULT_CANCEL;
    return false;
}

static INT_PTR closeFromSystemMenu(HWND window) {
    if (!closeWizardFromMenu()) return FALSE;
    SetWindowLongPtrA(window, DWLP_MSGRESULT, 0);
    return TRUE;
}

INT_PTR CALLBACK frameProcedure(HWND window, UINT message, WPARAM wParam, LPARAM lParam) {
    switch (message) {
    case WM_INITDIALOG:
        placeFrame(window);
        applyDialogFont(window);
        PostMessageA(window, WM_NCACTIVATE, 1, 0);
        return TRUE;
    case WM_COMMAND: {
        // Enter and Esc reach the frame as its buttons' commands even when
        // those buttons rest; a resting button does nothing.
        if (!frameButtonActive(LOWORD(wParam))) break;
        HWND page = static_cast<HWND>(state.pageWindow);
        // A destroyed page answers 0, so the frame's own handling runs.
        if (page && SendMessageA(page, WM_COMMAND, wParam, lParam)) break;
        switch (LOWORD(wParam)) {
        case ID_NEXT: state.pageResult = PAGE_RESULT_NEXT; break;
        case ID_BACK: state.pageResult = PAGE_RESULT_BACK; break;
        case ID_CANCEL: frameCancel(); break;
        }
        break;
    }
    case WM_CLOSE:
        requestClose();
        return TRUE;
    case WM_SYSCOMMAND:
        if ((wParam & 0xFFF0) == SC_MINIMIZE)
            ShowWindow(static_cast<HWND>(state.backgroundWindow), SW_MINIMIZE);
        else if ((wParam & 0xFFF0) == SC_CLOSE)
            return closeFromSystemMenu(window);
        break;
    case WM_PAINT: {
        PAINTSTRUCT ps;
        HDC dc = BeginPaint(window, &ps);
        drawSunkenControl(window, dc, ID_FRAME_PANEL, true);
        if (state.frameImage) drawFramePicture(window, dc, ID_FRAME_PICTURE, state.frameImage);
        EndPaint(window, &ps);
        break;
    }
    }
    return dialogColourReply(window, message, wParam);
}

void initPage(HWND page, unsigned mask) {
    HWND frame = frameWnd();
    HWND background = static_cast<HWND>(state.backgroundWindow);
    state.pageWindow = page;
    applyDialogFont(page);
    HWND place = GetDlgItem(frame, ID_PAGE_PLACE);
    if (place) {
        RECT r;
        GetWindowRect(place, &r);
        MapWindowPoints(0, frame, reinterpret_cast<POINT*>(&r), 1);
        SetWindowPos(page, 0, r.left, r.top, 0, 0, SWP_NOSIZE | SWP_NOZORDER);
    }
    const char* caption = getString(TABLE_MESSAGES, TEXT_CAPTION);
    SetWindowTextA(background, caption);
    const char* title = getString(state.pageIndex, TEXT_PAGE_CAPTION);
    if (title[0]) {
        if (state.options & OPT_FULL_SCREEN) {
            SetWindowTextA(frame, title);
        } else if (char* both = static_cast<char*>(allocBuffer(1024))) {
            wsprintfA(both, "%.500s - %.500s", caption, title);
            SetWindowTextA(background, both);
            freeBlock(both);
        }
    }
    for (int i = TEXT_PAGE_FIRST; i <= TEXT_PAGE_LAST; i++) {
        const char* text = getString(state.pageIndex, i);
        setControlText(page, ID_TEXT_FIRST + i - TEXT_PAGE_FIRST, text);
        scrollIfCut(page, ID_TEXT_FIRST + i - TEXT_PAGE_FIRST, text);
    }
    setButtonCaption(BTN_BACK, TEXT_BUTTON_BACK);
    setButtonCaption(BTN_NEXT, TEXT_BUTTON_NEXT);
    setButtonCaption(BTN_CANCEL, TEXT_BUTTON_CANCEL);
    if (singlePageMode()) mask |= BTN_NO_CONFIRM;
    setButtonMask(mask);
}

void setButtonMask(unsigned mask) {
    HWND frame = frameWnd();
    state.buttonMask = mask;
    static const struct { int id; unsigned bit; } buttons[3] = {
        {ID_BACK, BTN_BACK}, {ID_NEXT, BTN_NEXT}, {ID_CANCEL, BTN_CANCEL}};
    for (const auto& b : buttons) {
        HWND w = GetDlgItem(frame, b.id);
        if (w) EnableWindow(w, (mask & b.bit) != 0);
    }
}

void focusFrameButton(int id) {
    HWND frame = frameWnd();
    HWND button = GetDlgItem(frame, id);
    if (!button) return;
    SetFocus(button);
    SendMessageA(frame, DM_SETDEFID, id, 0);
}

void setButtonCaption(unsigned button, unsigned index) {
    int id = button == BTN_BACK ? ID_BACK : button == BTN_NEXT ? ID_NEXT : button == BTN_CANCEL ? ID_CANCEL : 0;
    if (id) setControlText(frameWnd(), id, getString(TABLE_BUTTONS, index));
}

INT_PTR markHandled(HWND page) {
    SetWindowLongPtrA(page, DWLP_MSGRESULT, 1);
    return TRUE;
}

INT_PTR dialogColourReply(HWND, UINT message, WPARAM hdc) {
    switch (message) {
    case WM_CTLCOLORMSGBOX:
    case WM_CTLCOLORBTN:
    case WM_CTLCOLORDLG:
    case WM_CTLCOLORSTATIC:
        SetBkColor(reinterpret_cast<HDC>(hdc), GetSysColor(COLOR_BTNFACE));
        return reinterpret_cast<INT_PTR>(state.faceBrush);
    }
    return 0;
}

void applyDialogFont(HWND window) {
    if (!state.dialogFont) {
        HFONT font = reinterpret_cast<HFONT>(SendMessageA(window, WM_GETFONT, 0, 0));
        LOGFONTA lf;
        if (font && GetObjectA(font, sizeof lf, &lf) == sizeof lf) {
            lf.lfWeight = FW_NORMAL;
            state.dialogFont = CreateFontIndirectA(&lf);
        }
    }
    if (!state.dialogFont) return;
    for (HWND child = GetWindow(window, GW_CHILD); child; child = GetWindow(child, GW_HWNDNEXT))
        SendMessageA(child, WM_SETFONT, reinterpret_cast<WPARAM>(state.dialogFont), FALSE);
}

void fillSolidRect(HDC dc, int x, int y, int w, int h, COLORREF colour) {
    RECT r = {x, y, x + w, y + h};
    SetBkColor(dc, colour);
    ExtTextOutA(dc, 0, 0, ETO_OPAQUE, &r, 0, 0, 0);
}

void drawSunkenBox(HDC dc, const RECT* r, bool fill) {
    int w = r->right - r->left, h = r->bottom - r->top;
    if (fill) fillSolidRect(dc, r->left + 1, r->top + 1, w - 2, h - 2, GetSysColor(COLOR_BTNFACE));
    COLORREF shadow = GetSysColor(COLOR_BTNSHADOW), light = GetSysColor(COLOR_BTNHIGHLIGHT);
    fillSolidRect(dc, r->left, r->top, w - 1, 1, shadow);
    fillSolidRect(dc, r->left, r->top, 1, h - 1, shadow);
    fillSolidRect(dc, r->left, r->bottom - 1, w, 1, light);
    fillSolidRect(dc, r->right - 1, r->top, 1, h, light);
}

// The control's rectangle in the window's client coordinates; false when
// the window has no such control.
static bool controlRect(HWND window, int id, RECT* r) {
    HWND control = GetDlgItem(window, id);
    if (!control) return false;
    GetWindowRect(control, r);
    MapWindowPoints(0, window, reinterpret_cast<POINT*>(r), 2);
    return true;
}

void drawSunkenControl(HWND window, HDC dc, int id, bool fill) {
    RECT r;
    if (controlRect(window, id, &r)) drawSunkenBox(dc, &r, fill);
}

// A PackageBitmap is a BMP file image: 14-byte file header, info header,
// colour table, bits (bitmap.h); the loader kept it only when all of it lies
// within its record.
const BITMAPINFO* bitmapInfo(const unsigned char* bitmap) {
    return reinterpret_cast<const BITMAPINFO*>(bitmap + sizeof(BITMAPFILEHEADER));
}

const void* bitmapBits(const unsigned char* bitmap) { return bitmap + bitmapRowsOffset(bitmap); }

HPALETTE createBitmapPalette(HDC dc, const unsigned char* bitmap) {
    const BITMAPINFO* info = bitmapInfo(bitmap);
    if (info->bmiHeader.biBitCount != 8) return 0;
    LOGPALETTE* pal = static_cast<LOGPALETTE*>(allocZeroed(4 + 256 * sizeof(PALETTEENTRY)));
    if (!pal) return 0;
    pal->palVersion = 0x300;
    pal->palNumEntries = 256;
    // A shorter colour table gives fewer real entries; the rest stay black.
    uint32_t count = bitmapColours(bitmap);
    if (count > 256) count = 256;
    for (uint32_t i = 0; i < 256; i++) {
        PALETTEENTRY& e = pal->palPalEntry[i];
        if (i < count) {
            e.peRed = info->bmiColors[i].rgbRed;
            e.peGreen = info->bmiColors[i].rgbGreen;
            e.peBlue = info->bmiColors[i].rgbBlue;
        }
        e.peFlags = (i < 10 || i >= 246) ? PC_NOCOLLAPSE : 0;
    }
    if (GetDeviceCaps(dc, PLANES) * GetDeviceCaps(dc, BITSPIXEL) == 8 &&
        (GetDeviceCaps(dc, RASTERCAPS) & RC_PALETTE)) {
        GetSystemPaletteEntries(dc, 0, 10, pal->palPalEntry);
        GetSystemPaletteEntries(dc, 246, 10, pal->palPalEntry + 246);
    }
    HPALETTE made = CreatePalette(pal);
    freeBlock(pal);
    return made;
}

int scaleToScreen(int pixels) {
    static int dpi;
    if (!dpi) {
        HDC screen = GetDC(0);
        dpi = screen ? GetDeviceCaps(screen, LOGPIXELSY) : 0;
        if (screen) ReleaseDC(0, screen);
        if (dpi <= 0) dpi = 96;
    }
    return MulDiv(pixels, dpi, 96);
}

void drawFramePicture(HWND window, HDC dc, int id, const unsigned char* bitmap) {
    RECT r;
    if (!controlRect(window, id, &r)) return;
    IntersectClipRect(dc, r.left, r.top, r.right, r.bottom);
    if (!bitmap) return;
    const BITMAPINFOHEADER* h = &bitmapInfo(bitmap)->bmiHeader;
    HPALETTE palette = createBitmapPalette(dc, bitmap), previous = 0;
    if (palette) {
        previous = SelectPalette(dc, palette, FALSE);
        RealizePalette(dc);
    }
    // The picture is made for 96 DPI and grows with the dialog, pixel by
    // pixel (no smoothing), so that it keeps its place in the layout.
    int w = scaleToScreen(h->biWidth), ht = scaleToScreen(h->biHeight);
    int x = r.left + ((r.right - r.left) - w) / 2;
    int y = r.top + ((r.bottom - r.top) - ht) / 2;
    SetStretchBltMode(dc, COLORONCOLOR);
    StretchDIBits(dc, x, y, w, ht, 0, 0, h->biWidth, h->biHeight, bitmapBits(bitmap), bitmapInfo(bitmap),
                  DIB_RGB_COLORS, SRCCOPY);
    if (palette) {
        SelectPalette(dc, previous, TRUE);
        DeleteObject(palette);
    }
    RECT box = {x, y, x + w, y + ht};
    drawSunkenBox(dc, &box, false);
}
