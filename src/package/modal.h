// Modal windows of the wizard: who owns them and what they shut off.
//
// A modal dialog disables only its owner. The wizard's windows are the
// background window and the frame (a child of the background when windowed,
// a pop-up it owns in full screen), and sometimes a folder dialog in front
// of them. Every box and dialog opens between beginModal, which names the
// owner it must have (the front dialog, else the frame in full screen, else
// the background window) and disables the background and the frame for as
// long as it is open, so that no button, close box or system menu behind it
// takes input, and endModal, which enables again only what beginModal
// disabled and gives the keyboard focus back to the control that had it.
// Scopes nest: a box over a folder dialog leaves the wizard disabled as the
// dialog found it. A folder dialog makes itself the owner of what opens over
// it with setFrontDialog.
#pragma once
#include <windows.h>

struct ModalScope {
    HWND previousFront;
    HWND focus;  // the control to give the keyboard back to
    bool enabledBackground;
    bool enabledFrame;
};
HWND beginModal(ModalScope* scope);
void endModal(const ModalScope* scope);
void setFrontDialog(HWND dialog);
// Removes the keyboard and mouse input waiting in the queue: what the user
// pressed while the wizard could not answer.
void dropQueuedInput();
