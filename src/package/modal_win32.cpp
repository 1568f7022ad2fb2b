// Modal windows of the wizard (see modal.h).
#include "package/modal.h"

#include "base/state.h"
#include "package/format.h"

// The folder dialog in front of the wizard, if one is open.
static HWND frontDialog;

HWND beginModal(ModalScope* scope) {
    HWND background = static_cast<HWND>(state.backgroundWindow);
    HWND frame = static_cast<HWND>(state.frameWindow);
    scope->previousFront = frontDialog;
    scope->focus = GetFocus();
    scope->enabledBackground = background && IsWindowEnabled(background);
    scope->enabledFrame = frame && IsWindowEnabled(frame);
    HWND owner = frontDialog;
    if (!owner) owner = (state.options & OPT_FULL_SCREEN) && frame ? frame : background;
    if (scope->enabledBackground) EnableWindow(background, FALSE);
    if (scope->enabledFrame) EnableWindow(frame, FALSE);
    return owner;
}

void setFrontDialog(HWND dialog) { frontDialog = dialog; }

void endModal(const ModalScope* scope) {
    frontDialog = scope->previousFront;
    if (scope->enabledFrame) EnableWindow(static_cast<HWND>(state.frameWindow), TRUE);
    if (scope->enabledBackground) EnableWindow(static_cast<HWND>(state.backgroundWindow), TRUE);
    // Windows gives the focus back to the owner, which for the windowed
    // background window is the window itself: the keyboard would reach
    // no control until the user clicked one.
    if (scope->focus && IsWindow(scope->focus) && IsWindowEnabled(scope->focus)) SetFocus(scope->focus);
}

void dropQueuedInput() {
    MSG msg;
    while (PeekMessageA(&msg, 0, WM_KEYFIRST, WM_KEYLAST, PM_REMOVE)) {
    }
    while (PeekMessageA(&msg, 0, WM_MOUSEFIRST, WM_MOUSELAST, PM_REMOVE)) {
    }
    while (PeekMessageA(&msg, 0, WM_NCMOUSEMOVE, WM_NCXBUTTONDBLCLK, PM_REMOVE)) {
    }
}
