// The wizard: frame, pages, folder dialogs, progress display and the
// background window.
//
// Files: frame.cpp (frame procedure and the protocol every page follows),
// destination.cpp (folder page, browse and alternate-folder dialogs),
// progress.cpp (step timer and the progress bar), pages.cpp (welcome,
// information, ready and finish pages), background.cpp (backdrop painter).
// All state lives in InstallerState; every text is a (table, index) pair.
#pragma once
#include <windows.h>

// ButtonMask bits: which frame buttons a page enables.
enum {
    BTN_BACK = 0x001,
    BTN_NEXT = 0x002,
    BTN_CANCEL = 0x004,
    BTN_NO_CONFIRM = 0x100  // the frame's Cancel quits without asking
};

// Control identifiers the wizard relies on in the package's templates.
enum {
    ID_NEXT = 1,
    ID_CANCEL = 2,
    ID_TEXT_FIRST = 1000,  // 1000..1003: texts (page, 1..4)
    ID_FOLDER_EDIT = 1004,
    ID_BROWSE = 1005,
    ID_PAGE_PLACE = 1006,
    ID_BACK = 1007,
    ID_CURRENT_FILE = 1008,
    ID_PROGRESS_BAR = 1009,
    ID_PERCENT = 1010,
    ID_FRAME_PICTURE = 1011,
    ID_FRAME_PANEL = 1012,
    ID_FILE_LIST = 1013
};

INT_PTR CALLBACK frameProcedure(HWND, UINT, WPARAM, LPARAM);
INT_PTR CALLBACK welcomePageProcedure(HWND, UINT, WPARAM, LPARAM);
INT_PTR CALLBACK infoPageProcedure(HWND, UINT, WPARAM, LPARAM);
INT_PTR CALLBACK destinationPageProcedure(HWND, UINT, WPARAM, LPARAM);
INT_PTR CALLBACK readyPageProcedure(HWND, UINT, WPARAM, LPARAM);
INT_PTR CALLBACK progressPageProcedure(HWND, UINT, WPARAM, LPARAM);
INT_PTR CALLBACK finishPageProcedure(HWND, UINT, WPARAM, LPARAM);
LRESULT CALLBACK backgroundProcedure(HWND, UINT, WPARAM, LPARAM);

// Page protocol (frame.cpp).
// Makes the running page end so that the page sequence (run/pages.cpp)
// continues at page n.
void goToPage(int n);
// WM_CLOSE to the background window or the frame (End task, taskkill): while
// an installation runs it presses Cancel, which asks first; otherwise the
// wizard ends at once, closing any message box or dialog that is open, and
// no further message box is shown (state.closing).
void requestClose();
// SC_CLOSE of the frame or the background window: true when it became the
// cancel question of a running installation (nothing more to do), false
// when the wizard ends (state.pageResult is Cancel).
bool closeWizardFromMenu();
void initPage(HWND page, unsigned mask);
void setButtonMask(unsigned mask);
// Keyboard focus on a frame button, which becomes the default (Enter).
void focusFrameButton(int id);
// button: 1 Back, 2 Next, 4 Cancel; the caption becomes (7, index).
void setButtonCaption(unsigned button, unsigned index);
// The page consumed a forwarded WM_COMMAND: result 1, returns TRUE.
INT_PTR markHandled(HWND page);
// Shared tail of every wizard dialog procedure: the face brush for dialog,
// static, button and message-box colour requests, else 0.
INT_PTR dialogColourReply(HWND window, UINT message, WPARAM hdc);
void applyDialogFont(HWND window);
bool singlePageMode();
// Text of (table, index) into a dialog control, if the control exists.
void setControlText(HWND dialog, int id, const char* text);
// Text into a multi-line edit: "\n" becomes "\r\n", and the vertical scroll
// bar shows only when the lines do not all fit.
void setScrollingText(HWND control, const char* text);

// 3-D drawing and pictures (frame.cpp).
void fillSolidRect(HDC dc, int x, int y, int w, int h, COLORREF colour);
void drawSunkenBox(HDC dc, const RECT* r, bool fill);
void drawSunkenControl(HWND window, HDC dc, int id, bool fill);
HPALETTE createBitmapPalette(HDC dc, const unsigned char* bitmap);
// Pixels at 96 DPI to pixels on this screen (the system DPI).
int scaleToScreen(int pixels);
void drawFramePicture(HWND window, HDC dc, int id, const unsigned char* bitmap);
// Pieces of a PackageBitmap (a BMP file image): info header and pixel bits.
const BITMAPINFO* bitmapInfo(const unsigned char* bitmap);
const void* bitmapBits(const unsigned char* bitmap);

// Folder dialogs (destination.cpp).
void browseForFolder(char* folder);
bool showAlternateFolderDialog(void* owner);
// Centres a dialog over its parent (or the screen), never left of or above 0.
void centreDialog(HWND dialog);

// Progress display (progress.cpp).
void setProgress(unsigned percent);
void drawProgressBar(HWND page, HDC dc);
// The list column of the progress and finish pages.
void insertListColumn(HWND page);

// Background painter (background.cpp).
void paintBackground(HWND window, const unsigned char* image, const char* title,
                     const unsigned char* font);
// Blue level of row y of a client area of height h.
int gradientLevel(int y, int h);
