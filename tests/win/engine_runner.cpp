// A small program that runs one installation the way the wizard does
// (verification, then installNextFile until it returns 0), so that a test
// can kill it at any moment and the benchmark can time it.
// usage: engine_runner [--report] INSTALLER DESTINATION
// Exit code: the finish page's result code, or 100 + the verification
// result when verification does not pass (103 = nothing to do). --report
// prints the times of both passes and the engine's heap peak.
#include <windows.h>

#include <stdio.h>
#include <string.h>

#include "engine/install.h"
#include "engine/paths.h"
#include "engine/results.h"
#include "engine/verify.h"
#include "package/loader.h"
#include "run/state.h"

static double seconds() {
    LARGE_INTEGER f, t;
    QueryPerformanceFrequency(&f);
    QueryPerformanceCounter(&t);
    return double(t.QuadPart) / double(f.QuadPart);
}

int main(int argc, char** argv) {
    bool report = argc > 1 && !strcmp(argv[1], "--report");
    if (report) argv++, argc--;
    if (argc < 3) return 99;
    state.dataFile = INVALID_FILE;
    if (!allocateTextBuffers()) return 98;
    copyText(state.sourcePath, argv[1]);
    copyText(state.destinationDir, argv[2]);
    appendBackslash(state.destinationDir);
    if (!loadPackage()) return 97;
    double t0 = seconds();
    int verified = verifyInstallation();
    if (verified != ERR_NONE) return 100 + verified;
    double t1 = seconds();
    uint32_t heapBefore = memoryInUse;
    memoryPeak = memoryInUse;
    if (!beginInstallation()) return state.resultCode;
    while (installNextFile(0)) {
    }
    finishInstallation();
    double t2 = seconds();
    int code = finalResultCode();
    if (report)
        printf("%.3fs (verify %.3fs) heap peak %u KiB, code %d\n", t2 - t1, t1 - t0,
               (memoryPeak - heapBefore) / 1024, code);
    return code;
}
