// Run control: entry, single instance, page runner and page sequence,
// shut-down. runInstaller is the whole program; WinMain only calls it.
//
// Exit codes: 0, or -1 when the package cannot be loaded, the background
// window cannot be created, or the text buffers cannot be allocated.
#pragma once
#include <windows.h>

int runInstaller(HINSTANCE instance, const char* commandLine, int showState);

// 1 to go on, 0 when another instance runs (it is brought to the front),
// -1 when the text buffers cannot be had.
int initInstance(HINSTANCE instance);
BOOL registerBackgroundClass();
int createBackgroundWindow();

typedef INT_PTR(CALLBACK* PageProcedure)(HWND, UINT, WPARAM, LPARAM);
int runPage(int templateNumber, PageProcedure procedure, LPARAM parameter);
void runPageSequence();
// Makes the running page end so that the sequence continues at page n.
void goToPage(int n);

void drainMessages();
void createFaceBrush();
void deleteGdiObjects();

// Removable-disk start (relaunch.cpp): 1 when a temporary copy was started
// and this process should end; scheduleSelfDeletion runs in that copy.
int relaunchFromTemp(int showState);
void scheduleSelfDeletion();
// The 9x way: writes "xyz=shortPath" into [Rename] of iniPath, then patches
// the first such line to "NUL=shortPath". 1 when a line was patched.
int patchWininit(const char* iniPath, const char* shortPath);
// The patching step alone: the first "xyz=shortPath" becomes "NUL=shortPath".
int patchRenameLine(const char* iniPath, const char* shortPath);

extern const char BACKGROUND_CLASS[];
