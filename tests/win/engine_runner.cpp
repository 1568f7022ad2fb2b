// A small program that runs one installation the way the wizard does
// (verification, then installNextFile until it returns 0), so that a test
// can kill it at any moment. usage: engine_runner INSTALLER DESTINATION
// Exit code: the finish page's result code, or 100 + the verification
// result when verification does not pass (103 = nothing to do).
#include <windows.h>

#include "engine/install.h"
#include "engine/paths.h"
#include "engine/results.h"
#include "engine/verify.h"
#include "package/loader.h"
#include "run/state.h"

int main(int argc, char** argv) {
    if (argc < 3) return 99;
    state.dataFile = INVALID_FILE;
    if (!allocateTextBuffers()) return 98;
    copyText(state.sourcePath, argv[1]);
    copyText(state.destinationDir, argv[2]);
    appendBackslash(state.destinationDir);
    if (!loadPackage()) return 97;
    int verified = verifyInstallation();
    if (verified != ERR_NONE) return 100 + verified;
    if (!beginInstallation()) return state.resultCode;
    while (installNextFile(0)) {
    }
    finishInstallation();
    return finalResultCode();
}
