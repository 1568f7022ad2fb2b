// The engine side of an installation run's start and end (the progress page
// calls them around its steps), and the code the finish page reports.
#include "engine/install.h"

#include "base/state.h"
#include "engine/journal.h"
#include "engine/results.h"
#include "package/format.h"
#include "package/paths.h"
#include "package/strings.h"

int beginInstallation() {
    state.resultCode = ERR_NONE;
    state.currentEntryIndex = -1;
    state.processedKiB = 0;
    state.currentEntry = state.firstEntry;
    closeFile(state.dataFile);
    // Volume 0's counters, whatever an earlier run left behind.
    state.volumeNumber = 0;
    state.volumeDataBase = 0;
    state.volumeDataSize = state.volumeBytesLeft = 0;
    copyText(state.dataPath, state.sourcePath);
    state.dataFile = openFile(state.dataPath, OPEN_READ);
    uint32_t size = 0;
    if (state.dataFile == INVALID_FILE ||
        seekTo(state.dataFile, state.dataAreaOffset) != state.dataAreaOffset ||
        readExact(state.dataFile, &size, 4)) {
        closeFile(state.dataFile);
        state.dataFile = INVALID_FILE;
        return failStep(ERR_OPEN, state.dataPath);
    }
    state.volumeDataSize = state.volumeBytesLeft = size;
    if (state.options & OPT_ALL_OR_NOTHING) {
        state.stagedLetters = static_cast<uint8_t*>(allocZeroed(state.entryCount + 1));
        if (!state.stagedLetters) failStep(ERR_NO_MEMORY, 0);
        else openJournal();
        if (int r = state.resultCode) {
            finishInstallation();
            return r;
        }
    }
    state.installRunning = 1;
    return ERR_NONE;
}

void finishInstallation() {
    closeFile(state.dataFile);
    state.dataFile = INVALID_FILE;
    // An all-or-nothing run that has not committed leaves nothing behind.
    freeBuffer(state.stagedLetters);
    closeJournal(true);
    state.installRunning = 0;
}

int finalResultCode() {
    if (state.resultCode != ERR_NONE) return state.resultCode;
    int code = ERR_NONE;
    FileEntry* e = state.firstEntry;
    for (uint32_t i = 0; i < state.entryCount; i++, e = nextEntry(e)) {
        if (e->outcome == OUT_NOT_REPLACED) return ERR_NOT_REPLACED;
        if (e->outcome == OUT_AT_RESTART) code = ERR_RESTART_NEEDED;
    }
    return code;
}
