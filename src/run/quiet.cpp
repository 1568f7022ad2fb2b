// Quiet runs and the list of switches (run/quiet.h).
#include <windows.h>

#include "base/state.h"
#include "engine/install.h"
#include "engine/journal.h"
#include "engine/results.h"
#include "engine/verify.h"
#include "package/format.h"
#include "package/paths.h"
#include "package/strings.h"
#include "run/quiet.h"

// As the destination page takes a folder: made absolute, made the current
// directory, kept with a trailing backslash.
static bool enterDestination() {
    char* dir = state.destinationDir;
    stripBackslash(dir);
    DWORD n = GetFullPathNameA(dir, TEXT_CAPACITY, state.targetPath, 0);
    if (n && n < TEXT_CAPACITY) copyText(dir, state.targetPath);
    if (!dir[0] || !SetCurrentDirectoryA(dir)) return false;
    appendBackslash(dir);
    return true;
}

int runQuiet() {
    if (!enterDestination()) return ERR_NOTHING_FOUND;
    // What a killed all-or-nothing run left in this folder goes first.
    if (state.options & OPT_ALL_OR_NOTHING) recoverJournal();
    state.verifyResult = verifyInstallation();
    if (state.verifyResult != ERR_NONE) return state.verifyResult;
    if (beginInstallation() == ERR_NONE) {
        while (installNextFile(0) == STEP_OK) {
        }
        finishInstallation();
    }
    return finalResultCode();
}

void showSwitchList() {
    const char* text = getString(TABLE_MESSAGES, TEXT_SWITCH_LIST);
    showMessage(*text ? text : "/Q  /D=folder  /L=file  /?", MB_INFO);
}
