// Start-up and shut-down of the installer.
//
// Order of start-up: single-instance check and text buffers, command line,
// removable-disk relaunch (or, in the relaunched copy, its own deletion at
// the next restart), window class, common controls, screen size, package,
// destination default (or /D=), background window, wizard frame, windowed
// placement, then the page sequence. A quiet run (/Q) has no window class,
// background window or frame: after the destination it runs runQuiet, and
// /? shows its box there instead of the wizard. Either way the log (/L=)
// is written before the package's buffers go. Shut-down runs in the reverse
// order of ownership: frame, its template, background window and the last
// messages, package buffers, text buffers, brush and font.
#include "run/run.h"  // windows.h first

#include <commctrl.h>

#include "base/state.h"
#include "locations/destination.h"
#include "package/loader.h"
#include "package/paths.h"
#include "package/strings.h"
#include "run/cmdline.h"
#include "run/quiet.h"
#include "run/run.h"
#include "run/runlog.h"
#include "ui/ui.h"

const char BACKGROUND_CLASS[] = "UpdShClass";

// Window styles of the background window.
const DWORD STYLE_FULL_SCREEN = WS_OVERLAPPEDWINDOW | WS_CLIPCHILDREN;  // 0x02CF0000
const DWORD STYLE_WINDOWED = WS_CAPTION | WS_SYSMENU | WS_MINIMIZEBOX;  // 0x00CA0000

void createFaceBrush() {
    state.faceBrush = CreateSolidBrush(GetSysColor(COLOR_BTNFACE));
    if (!state.faceBrush) state.faceBrush = GetStockObject(LTGRAY_BRUSH);
}

void deleteGdiObjects() {
    if (state.faceBrush && state.faceBrush != GetStockObject(LTGRAY_BRUSH))
        DeleteObject(static_cast<HGDIOBJ>(state.faceBrush));
    state.faceBrush = 0;
    if (state.dialogFont) DeleteObject(static_cast<HGDIOBJ>(state.dialogFont));
    state.dialogFont = 0;
}

int initInstance(HINSTANCE instance) {
    HWND running = FindWindowA(BACKGROUND_CLASS, 0);
    if (running) {
        HWND popup = GetLastActivePopup(running);
        BringWindowToTop(running);
        if (IsIconic(running)) ShowWindow(running, SW_RESTORE);
        if (popup != running) BringWindowToTop(popup);
        return INIT_ALREADY_RUNNING;
    }
    state.instance = instance;
    createFaceBrush();
    if (!allocateTextBuffers()) return INIT_NO_MEMORY;
    GetModuleFileNameA(instance, state.sourcePath, TEXT_CAPACITY);
    state.sourcePath[TEXT_MAX] = 0;
    return INIT_OK;
}

bool registerBackgroundClass() {
    WNDCLASSA wc = {};
    wc.style = CS_HREDRAW | CS_VREDRAW;
    wc.lpfnWndProc = backgroundProcedure;
    wc.hInstance = static_cast<HINSTANCE>(state.instance);
    wc.hIcon = LoadIconA(wc.hInstance, MAKEINTRESOURCEA(800));
    wc.hCursor = LoadCursorA(0, MAKEINTRESOURCEA(32512));  // IDC_ARROW
    wc.hbrBackground = static_cast<HBRUSH>(GetStockObject(NULL_BRUSH));
    wc.lpszClassName = BACKGROUND_CLASS;
    return RegisterClassA(&wc) != 0;
}

bool createBackgroundWindow() {
    DWORD style = (state.options & OPT_FULL_SCREEN) ? STYLE_FULL_SCREEN : STYLE_WINDOWED;
    HWND w = CreateWindowExA(0, BACKGROUND_CLASS, getString(TABLE_MESSAGES, TEXT_CAPTION), style, 0, 0, state.screenWidth,
                             state.screenHeight, 0, 0, static_cast<HINSTANCE>(state.instance), 0);
    if (!w) return false;
    state.backgroundWindow = w;
    state.screenCenterX = state.screenWidth / 2;
    state.screenCenterY = state.screenHeight / 2;
    return true;
}

void drainMessages() {
    DestroyWindow(static_cast<HWND>(state.backgroundWindow));
    MSG msg;
    while (GetMessageA(&msg, 0, 0, 0) > 0) DispatchMessageA(&msg);
}

// The background window becomes a captioned window that wraps the frame.
static void placeWindowed() {
    HWND frame = static_cast<HWND>(state.frameWindow);
    RECT r;
    GetWindowRect(frame, &r);
    AdjustWindowRectEx(&r, STYLE_WINDOWED, FALSE, 0);
    SetWindowPos(static_cast<HWND>(state.backgroundWindow), 0, r.left, r.top, r.right - r.left,
                 r.bottom - r.top, SWP_NOZORDER);
    SetWindowPos(frame, 0, 0, 0, 0, 0, SWP_NOSIZE | SWP_NOZORDER);
}

// The one message of an ending the user did not choose: the package's own
// text for a damaged installer, else a built-in one (before the package is
// loaded there is none).
static void reportBrokenWizard() {
    const char* text = getString(TABLE_MESSAGES, TEXT_DAMAGED_INSTALLER);
    showMessage(*text ? text : "This installer cannot show its wizard. It may be damaged.", MB_INFO);
}

// A /D= or /L= value relative to the folder the installer was started in
// becomes absolute now, before anything changes the current directory.
// False when the absolute path does not fit.
static bool makeAbsolute(char* path) {
    if (!path || !path[0]) return true;
    DWORD n = GetFullPathNameA(path, TEXT_CAPACITY, state.targetPath, 0);
    if (!n || n >= TEXT_MAX) return false;
    copyText(path, state.targetPath);
    return true;
}

// Shut-down of a run that showed no wizard.
static int endWithoutWizard(int resultCode, int exitCode) {
    writeRunLog(resultCode, exitCode);
    releasePackageData();
    releaseSessionBuffers();
    deleteGdiObjects();
    return exitCode;
}

int runInstaller(HINSTANCE instance, const char* commandLine, int showState) {
    int ready = initInstance(instance);
    // A quiet run that finds another installer running has done nothing; the
    // wizard then ends with EXIT_DONE.
    if (ready == INIT_ALREADY_RUNNING) return quietSwitchGiven(commandLine) ? EXIT_ALREADY_RUNNING : EXIT_DONE;
    if (ready != INIT_OK) return EXIT_NOT_LOADED;
    if (!parseCommandLine(commandLine) || !makeAbsolute(state.destinationSwitch) ||
        !makeAbsolute(state.logPath))
        return EXIT_NOT_LOADED;
    if (!state.isRelaunchedCopy) {
        // A quiet start hands its exit code on: the copy's.
        int copyExit = EXIT_DONE;
        if (relaunchFromTemp(showState, state.quiet ? &copyExit : 0)) {
            releaseSessionBuffers();
            return copyExit;
        }
    } else {
        scheduleSelfDeletion();
    }
    if (!state.quiet) {
        if (!registerBackgroundClass()) {
            reportBrokenWizard();
            return EXIT_NO_WIZARD;
        }
        InitCommonControls();
        state.screenWidth = GetSystemMetrics(SM_CXSCREEN);
        state.screenHeight = GetSystemMetrics(SM_CYSCREEN);
    }
    if (loadPackage() != LOAD_OK) {
        writeRunLog(-1, EXIT_NOT_LOADED);
        return EXIT_NOT_LOADED;
    }
    expandDestination();
    if (state.destinationSwitch && state.destinationSwitch[0])
        copyText(state.destinationDir, state.destinationSwitch);
    uint16_t start = stubData.header.startPage;
    if (state.logPath && (state.quiet || start == START_PAGE_WIZARD)) prepareRunLog(state.quiet != 0);
    if (state.quiet) {
        int code = runQuiet();
        return endWithoutWizard(code, code);
    }
    if (state.showSwitches) {
        showSwitchList();
        return endWithoutWizard(-1, EXIT_DONE);
    }
    if (!createBackgroundWindow()) return EXIT_NOT_LOADED;

    bool fullScreen = state.options & OPT_FULL_SCREEN;
    void* frameTemplate = copyTemplate(fullScreen ? TEMPLATE_FRAME_FULL_SCREEN : TEMPLATE_FRAME_WINDOWED);
    if (frameTemplate)
        state.frameWindow = CreateDialogIndirectParamA(
            instance, static_cast<LPCDLGTEMPLATEA>(frameTemplate),
            static_cast<HWND>(state.backgroundWindow), frameProcedure, 0);
    // Without a frame no page can be shown; that is a failure unless the
    // package asks for none (a start page beyond the last one).
    int code = start == START_PAGE_WIZARD || start < PAGE_END ? EXIT_NO_WIZARD : EXIT_DONE;
    if (state.frameWindow) {
        if (!fullScreen) placeWindowed();
        ShowWindow(static_cast<HWND>(state.backgroundWindow), SW_SHOWNORMAL);
        UpdateWindow(static_cast<HWND>(state.backgroundWindow));
        code = runPageSequence();
    }
    if (code) reportBrokenWizard();
    writeRunLog(code ? -1 : wizardLogResult(), code);
    if (state.frameWindow) {
        DestroyWindow(static_cast<HWND>(state.frameWindow));
        state.frameWindow = 0;
    }
    releaseTemplate(frameTemplate);
    drainMessages();
    state.backgroundWindow = 0;
    releasePackageData();
    releaseSessionBuffers();
    deleteGdiObjects();
    return code;
}
