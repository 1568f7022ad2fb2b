// Run control: entry, single instance, page runner and page sequence,
// shut-down. runInstaller is the whole program; WinMain only calls it.
#pragma once
#include <windows.h>

// Exit codes of the installer (the README lists them).
enum {
    EXIT_DONE = 0,          // the wizard ran to its end, whatever the user chose there
    EXIT_NOT_LOADED = -1,   // the package cannot be loaded (a damaged one may say so),
                            // or the background window or text buffers cannot be had
    EXIT_NO_WIZARD = 2,     // no window class, no frame template, or no frame window
                            // (unless the start page asks for no page at all)
    EXIT_PAGE_MISSING = 3,  // a page's template is missing or damaged, or its dialog
                            // cannot be made: the wizard stops there, never passes it
    // A quiet run (/Q) ends with 0 when the update completed, else with its
    // result code (engine/results.h, run/quiet.h), and with this when
    // another installer is running (the wizard then ends with 0).
    EXIT_ALREADY_RUNNING = 1
};

int runInstaller(HINSTANCE instance, const char* commandLine, int showState);

// initInstance results.
enum {
    INIT_OK = 0,
    INIT_ALREADY_RUNNING = 1,  // another instance runs (it is brought to the front)
    INIT_NO_MEMORY = 2         // the text buffers cannot be had
};
int initInstance(HINSTANCE instance);
// False when the window class cannot be registered.
bool registerBackgroundClass();
// False when the window cannot be made.
bool createBackgroundWindow();

typedef INT_PTR(CALLBACK* PageProcedure)(HWND, UINT, WPARAM, LPARAM);
// The page result, or 0 when the page cannot be shown (its template is
// missing or damaged, or its dialog cannot be made).
int runPage(int templateNumber, PageProcedure procedure, LPARAM parameter);
// EXIT_DONE, or EXIT_PAGE_MISSING when a page cannot be shown.
int runPageSequence();

void drainMessages();
void createFaceBrush();
void deleteGdiObjects();

// Removable-disk start (relaunch.cpp): true when a temporary copy was
// started and this process should end. The copy gets the switches /Q, /D=, /L= and
// /? that this process was given; with copyExit (a quiet run) this process
// waits for the copy and passes its exit code on through *copyExit. scheduleSelfDeletion runs in a process
// started with /DEL and arranges the deletion of its own file, but only
// when that file is such a copy (isRelaunchCopy): another file started
// with /DEL, or with a switch such as /DELAY, stays.
bool relaunchFromTemp(int showState, int* copyExit = 0);
void scheduleSelfDeletion();
// True when path is "_upd" and 1-3 digits and ".exe" (any case) directly in
// the temporary folder.
bool isRelaunchCopy(const char* path);
// The 9x way: writes "xyz=shortPath" into [Rename] of iniPath, then patches
// the first such line to "NUL=shortPath". True when a line was patched.
bool patchWininit(const char* iniPath, const char* shortPath);
// The patching step alone: the first "xyz=shortPath" becomes "NUL=shortPath".
bool patchRenameLine(const char* iniPath, const char* shortPath);

extern const char BACKGROUND_CLASS[];
