// Modal windows of the wizard: who owns them and what they shut off.
//
// A modal dialog disables only its owner. The wizard's windows are the
// background window and the frame (a child of the background when windowed,
// a pop-up it owns in full screen), and sometimes a folder dialog in front
// of them. beginModal names the owner a new box or dialog must have (the
// front dialog, else the frame in full screen, else the background window)
// and disables the background and the frame for as long as it is open, so
// that no button, close box or system menu behind it takes input; endModal
// enables again only what beginModal disabled, and gives the keyboard focus
// back to the control that had it. Scopes nest: a box over a folder dialog
// leaves the wizard disabled as the dialog found it.
#include "package/format.h"
#include "run/state.h"
#include "ui/ui.h"

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
