// TEMPORARY: see engine_standins.h. Just enough of the installation engine
// for the wizard to run end to end: installation is one step that changes
// nothing, and outcomes are listed as the engine will list them.
#include "ui/engine_standins.h"

#include "engine/filetable.h"
#include "engine/results.h"
#include "engine/target.h"

#include <windows.h>
#include <commctrl.h>
#include <string.h>

#include "package/loader.h"
#include "package/strings.h"
#include "ui/ui.h"
#include "run/run.h"
#include "run/state.h"

int beginInstallation() {
    state.resultCode = 0;
    state.currentEntryIndex = -1;
    state.volumeNumber = 0;
    state.processedKiB = 0;
    state.currentEntry = state.firstEntry;
    copyText(state.dataPath, state.sourcePath);
    state.dataFile = openFile(state.dataPath, OPEN_READ);
    if (state.dataFile == INVALID_FILE) {
        state.resultCode = ERR_OPEN;
        setMessageSubject(state.dataPath);
        return 0;
    }
    seekTo(state.dataFile, state.dataAreaOffset + 4);
    state.installRunning = 1;
    return 1;
}

void finishInstallation() {
    closeFile(state.dataFile);
    state.dataFile = INVALID_FILE;
    state.installRunning = 0;
}

ProgressListener progressListener = 0;
static void reportProgress(uint32_t percent) {
    if (progressListener) progressListener(percent);
}

// One entry per call, as the engine steps; an identified old version is
// reported as replaced (the stand-in writes nothing).
int installNextFile(void* page) {
    while (state.currentEntryIndex + 1 < static_cast<int32_t>(state.entryCount)) {
        FileEntry* e = state.currentEntryIndex < 0 ? state.firstEntry : nextEntry(state.currentEntry);
        state.currentEntry = e;
        state.currentEntryIndex++;
        if (e->chosenVersion < 0) continue;
        resolveTarget(e);
        setControlText(static_cast<HWND>(page), ID_CURRENT_FILE, entryName(e, 0));
        e->outcome = OUT_REPLACED;
        reportOutcome(page, e->outcome, state.targetPath);
        reportProgress(static_cast<unsigned>((state.currentEntryIndex + 1) * 100 / state.entryCount));
        return 1;
    }
    reportProgress(100);
    return 0;
}

void reportOutcome(void* page, unsigned outcome, const char* path) {
    HWND list = GetDlgItem(static_cast<HWND>(page), ID_FILE_LIST);
    if (!list) return;
    size_t skip = strlen(state.destinationDir);
    for (size_t i = 0; i < skip; i++) {
        char a = path[i], b = state.destinationDir[i];
        if (a >= 'A' && a <= 'Z') a += 32;
        if (b >= 'A' && b <= 'Z') b += 32;
        if (a != b) {
            skip = 0;
            break;
        }
    }
    char line[TEXT_CAPACITY + 1024];
    size_t n = strlen(path + skip);
    memcpy(line, path + skip, n);
    line[n++] = ':';
    line[n++] = ' ';
    const char* text = getString(6, outcome);
    size_t t = strlen(text);
    if (t > 1023) t = 1023;
    memcpy(line + n, text, t);
    line[n + t] = 0;
    LVITEMA item = {};
    item.mask = LVIF_TEXT;
    item.iItem = static_cast<int>(SendMessageA(list, LVM_GETITEMCOUNT, 0, 0));
    item.pszText = line;
    LRESULT at = SendMessageA(list, LVM_INSERTITEMA, 0, reinterpret_cast<LPARAM>(&item));
    if (at >= 0) SendMessageA(list, LVM_ENSUREVISIBLE, at, FALSE);
}
