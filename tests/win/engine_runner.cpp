// A small program that runs one installation the way the wizard does
// (what a killed run left undone first, verification, then installNextFile
// until it returns 0), so that a test can kill it at a chosen point and the
// benchmark can time it.
// usage: engine_runner [--report] [--versions] [--checkpoints] [--kill-at K]
//                      INSTALLER DESTINATION
// Exit code: the finish page's result code, or 100 + the verification
// result when verification does not pass (103 = nothing to do), or
// KILLED_EXIT when --kill-at stopped it. --report prints the times of both
// passes and the engine's heap peak; --versions prints, after verification,
// each entry's path and the version found (an index into its known
// versions, or absent / current / unknown); --checkpoints prints
// "checkpoints N FIRST" at the end: the engine's checkpoints (every write,
// move and delete, fileops.h) and the number of the first one past the
// last entry (0: none), where an all-or-nothing run replaces its files.
// --kill-at K ends the process at checkpoint K (from 1) at once, without
// any clean-up, as a power cut or the task manager would.
#include <windows.h>

#include <stdio.h>
#include <stdlib.h>
#include <string.h>

#include "engine/filetable.h"
#include "engine/install.h"
#include "engine/journal.h"
#include "engine/paths.h"
#include "engine/results.h"
#include "engine/verify.h"
#include "package/format.h"
#include "package/loader.h"
#include "run/state.h"

const int KILLED_EXIT = 250;

static uint32_t checkpoints, firstCommitCheckpoint, killAt;

static void onCheckpoint() {
    checkpoints++;
    if (!firstCommitCheckpoint && state.currentEntryIndex >= static_cast<int32_t>(state.entryCount))
        firstCommitCheckpoint = checkpoints;
    if (checkpoints == killAt) TerminateProcess(GetCurrentProcess(), KILLED_EXIT);
}

static double seconds() {
    LARGE_INTEGER f, t;
    QueryPerformanceFrequency(&f);
    QueryPerformanceCounter(&t);
    return double(t.QuadPart) / double(f.QuadPart);
}

int main(int argc, char** argv) {
    bool report = argc > 1 && !strcmp(argv[1], "--report");
    if (report) argv++, argc--;
    bool versions = argc > 1 && !strcmp(argv[1], "--versions");
    if (versions) argv++, argc--;
    bool counting = argc > 1 && !strcmp(argv[1], "--checkpoints");
    if (counting) argv++, argc--;
    if (argc > 2 && !strcmp(argv[1], "--kill-at")) {
        killAt = static_cast<uint32_t>(strtoul(argv[2], 0, 10));
        argv += 2, argc -= 2;
    }
    fileFaults.checkpoint = onCheckpoint;
    if (argc < 3) return 99;
    state.dataFile = INVALID_FILE;
    if (!allocateTextBuffers()) return 98;
    copyText(state.sourcePath, argv[1]);
    if (!loadPackage()) return 97;
    copyText(state.destinationDir, argv[2]);  // the user's choice, not the package's default
    appendBackslash(state.destinationDir);
    if (state.options & OPT_ALL_OR_NOTHING) recoverJournal();
    double t0 = seconds();
    int verified = verifyInstallation();
    if (versions) {
        FileEntry* e = state.firstEntry;
        for (uint32_t i = 0; i < state.entryCount; i++, e = nextEntry(e)) {
            int v = e->chosenVersion;
            if (v >= 0)
                printf("%s: version %d\n", entryName(e, 0), v);
            else
                printf("%s: %s\n", entryName(e, 0),
                       v == CV_ABSENT ? "absent" : v == CV_CURRENT ? "current" : "unknown");
        }
        fflush(stdout);
    }
    if (verified != ERR_NONE) {
        if (versions) printf("verification: %d (%s)\n", verified, state.messageSubject);
        return 100 + verified;
    }
    double t1 = seconds();
    uint32_t heapBefore = memoryInUse;
    memoryPeak = memoryInUse;
    if (!beginInstallation()) return state.resultCode;
    while (installNextFile(0)) {
    }
    finishInstallation();
    double t2 = seconds();
    int code = finalResultCode();
    if (counting) printf("checkpoints %u %u\n", checkpoints, firstCommitCheckpoint);
    if (report)
        printf("%.3fs (verify %.3fs) heap peak %u KiB, code %d\n", t2 - t1, t1 - t0,
               (memoryPeak - heapBefore) / 1024, code);
    return code;
}
