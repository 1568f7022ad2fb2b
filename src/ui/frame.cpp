// The wizard frame and the pages, in their first form: the frame turns its
// Back, Next and Cancel buttons into page results; pages only exist.
#include "run/state.h"
#include "ui/ui.h"

const int ID_BACK = 1007;

INT_PTR CALLBACK frameProcedure(HWND window, UINT message, WPARAM wParam, LPARAM) {
    switch (message) {
    case WM_INITDIALOG:
        return TRUE;
    case WM_COMMAND: {
        int id = LOWORD(wParam);
        if (id == IDOK || id == IDCANCEL || id == ID_BACK) {
            state.pageResult = id;
            return TRUE;
        }
        break;
    }
    }
    return FALSE;
}

static INT_PTR CALLBACK plainPage(HWND, UINT message, WPARAM, LPARAM) {
    return message == WM_INITDIALOG;
}

INT_PTR CALLBACK welcomePageProcedure(HWND w, UINT m, WPARAM wp, LPARAM lp) { return plainPage(w, m, wp, lp); }
INT_PTR CALLBACK infoPageProcedure(HWND w, UINT m, WPARAM wp, LPARAM lp) { return plainPage(w, m, wp, lp); }
INT_PTR CALLBACK destinationPageProcedure(HWND w, UINT m, WPARAM wp, LPARAM lp) { return plainPage(w, m, wp, lp); }
INT_PTR CALLBACK readyPageProcedure(HWND w, UINT m, WPARAM wp, LPARAM lp) { return plainPage(w, m, wp, lp); }
INT_PTR CALLBACK progressPageProcedure(HWND w, UINT m, WPARAM wp, LPARAM lp) { return plainPage(w, m, wp, lp); }
INT_PTR CALLBACK finishPageProcedure(HWND w, UINT m, WPARAM wp, LPARAM lp) { return plainPage(w, m, wp, lp); }
