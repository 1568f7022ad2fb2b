// The progress page: runs the installation one file per timer tick.
//
// A window timer (id 11: 100 ms before the first step, 50 ms before each
// later one) calls installNextFile; the timer is killed while a step runs,
// and ticks are ignored while the page's own cancel question is open, so
// steps never overlap, even when a step or the question runs a nested
// message loop. When the package cannot be opened the installation never
// starts and the finish page reports why. The page owns the bar (drawn off-screen over control 1009
// and copied in one BitBlt), the percentage (1010) and the file list (1013).
#include <windows.h>
#include <commctrl.h>

#include "base/state.h"
#include "engine/install.h"
#include "engine/replace.h"
#include "engine/results.h"
#include "package/strings.h"
#include "ui/ui.h"

const UINT_PTR STEP_TIMER_ID = 11;
const UINT FIRST_STEP_MS = 100;
const UINT NEXT_STEP_MS = 50;

// The page's own state beside InstallerState.
static UINT_PTR stepTimer;      // SetTimer's result while armed, else 0
static uint32_t cancelPending;  // the cancel question is on screen

// After the last step: the full wizard goes on to the finish page; a single
// progress page stays, and its Cancel is the way out.
static void endRun() {
    finishInstallation();
    if (!singlePageMode()) goToPage(PAGE_FINISH);
}

// The package could not be opened (resultCode ERR_OPEN and its path): the
// full wizard shows that on the finish page; a single progress page says
// it in a box and stays, for its Cancel to end the program.
static void cannotStart() {
    if (!singlePageMode()) {
        goToPage(PAGE_FINISH);
        return;
    }
    if (char* text = static_cast<char*>(allocBuffer(1024))) {
        formatMessage(text, 1024, state.resultCode);
        showMessage(text, MB_INFO);
        freeBlock(text);
    }
}

static void runToEnd(HWND page) {
    while (installNextFile(page) == STEP_OK) {
    }
    endRun();
}

static void armTimer(HWND page, UINT period) {
    stepTimer = SetTimer(page, STEP_TIMER_ID, period, 0);
    // Without a timer the rest runs here, at once.
    if (!stepTimer) runToEnd(page);
}

void insertListColumn(HWND page) {
    HWND list = GetDlgItem(page, ID_FILE_LIST);
    if (!list) return;
    LVCOLUMNA column = {};
    column.mask = LVCF_FMT | LVCF_WIDTH | LVCF_SUBITEM;
    column.fmt = LVCFMT_LEFT;
    column.cx = 1024;
    SendMessageA(list, LVM_INSERTCOLUMNA, 0, reinterpret_cast<LPARAM>(&column));
}

// Yes ends the wizard; an all-or-nothing run is undone first and the finish
// page says that nothing was changed.
static void askCancel(HWND page) {
    cancelPending = 1;
    if (showMessage(cancelQuestion(), MB_QUESTION_YESNO) == BOX_YES) {
        showMessage(getString(TABLE_MESSAGES, TEXT_CANCELLED), MB_INFO);
        state.pageResult = PAGE_RESULT_CANCEL;  // cancelPending stays: no step runs again
        if (state.stagedLetters && state.installRunning) {
            state.resultCode = ERR_CANCELLED;
            endRun();
        }
    } else {
        cancelPending = 0;
    }
}

INT_PTR CALLBACK progressPageProcedure(HWND page, UINT message, WPARAM wParam, LPARAM) {
    switch (message) {
    case WM_INITDIALOG:
        state.progressWindow = page;
        progressListener = setProgress;
        initPage(page, BTN_CANCEL);
        setButtonCaption(BTN_CANCEL, TEXT_BUTTON_DIALOG_CANCEL);
        focusFrameButton(ID_CANCEL);
        insertListColumn(page);
        cancelPending = 0;
        stepTimer = 0;
        if (beginInstallation() == ERR_NONE)
            armTimer(page, FIRST_STEP_MS);
        else
            cannotStart();
        return FALSE;
    case WM_TIMER:
        if (!state.installRunning || cancelPending) break;
        KillTimer(page, STEP_TIMER_ID);
        stepTimer = 0;
        if (installNextFile(page) == STEP_OK)
            armTimer(page, NEXT_STEP_MS);
        else
            endRun();
        break;
    case WM_COMMAND:
        // In single-page mode the frame's Cancel ends the wizard at once.
        // A second Cancel while the question is open (WM_CLOSE posts one)
        // asks nothing more.
        if (LOWORD(wParam) == ID_CANCEL && !singlePageMode()) {
            if (!cancelPending) askCancel(page);
            return markHandled(page);
        }
        break;
    case WM_PAINT: {
        PAINTSTRUCT ps;
        HDC dc = BeginPaint(page, &ps);
        drawProgressBar(page, dc);
        EndPaint(page, &ps);
        break;
    }
    case WM_DESTROY:
        if (stepTimer) KillTimer(page, STEP_TIMER_ID);
        stepTimer = 0;
        // Closed in the middle: an all-or-nothing run leaves nothing behind.
        if (state.installRunning && state.stagedLetters) {
            state.resultCode = ERR_CANCELLED;
            finishInstallation();
        }
        break;
    }
    return dialogColourReply(page, message, wParam);
}

void setProgress(unsigned percent) {
    state.progressPercent = static_cast<int32_t>(percent > 100 ? 100 : percent);
    drawProgressBar(static_cast<HWND>(state.progressWindow), 0);
}

void drawProgressBar(HWND page, HDC dc) {
    if (!page) return;  // no progress page on screen
    HDC windowDc = 0;
    if (!dc) {
        dc = windowDc = GetDC(page);
        if (!dc) return;
    }
    char percent[16];
    wsprintfA(percent, "%d%%", state.progressPercent);
    setControlText(page, ID_PERCENT, percent);

    RECT r = {0, 0, 0, 0};
    HWND bar = GetDlgItem(page, ID_PROGRESS_BAR);
    if (bar) {
        GetWindowRect(bar, &r);
        MapWindowPoints(0, page, reinterpret_cast<POINT*>(&r), 2);
    }
    int w = r.right - r.left, h = r.bottom - r.top;
    HDC memory = CreateCompatibleDC(dc);
    HBITMAP bitmap = memory ? CreateCompatibleBitmap(dc, w, h) : 0;
    HGDIOBJ previous = bitmap ? SelectObject(memory, bitmap) : 0;
    if (previous) {
        fillSolidRect(memory, 0, 0, w, h, GetSysColor(COLOR_BTNFACE));
        COLORREF shadow = GetSysColor(COLOR_BTNSHADOW), light = GetSysColor(COLOR_BTNHIGHLIGHT);
        fillSolidRect(memory, 0, 0, w, 1, shadow);
        fillSolidRect(memory, 0, 0, 1, h, shadow);
        fillSolidRect(memory, w - 1, 0, 1, h, light);
        fillSolidRect(memory, 0, h - 1, w, 1, light);
        if (HBRUSH blocks = CreateSolidBrush(GetSysColor(COLOR_ACTIVECAPTION))) {
            // Blocks half the bar's height wide with 2-pixel gaps; block 0
            // always shows, each further one while it ends inside the bar
            // and inside the done part.
            int half = h / 2;
            unsigned done = static_cast<unsigned>(state.progressPercent) * static_cast<unsigned>(w) / 100;
            for (int k = 0;; k++) {
                RECT b = {1 + k * (half + 2), 2, 0, h - 2};
                b.right = b.left + half;
                if (k > 0 && !(b.right < w && static_cast<unsigned>(b.right) < done)) break;
                FillRect(memory, &b, blocks);
            }
            BitBlt(dc, r.left, r.top, w, h, memory, 0, 0, SRCCOPY);
            DeleteObject(blocks);
        }
        SelectObject(memory, previous);
    }
    if (bitmap) DeleteObject(bitmap);
    if (memory) DeleteDC(memory);
    if (windowDc) ReleaseDC(page, windowDc);
}
