// replaceTarget, removeTarget, createFolders, reportOutcome on POSIX.
//
// rename(2) puts the new file in the old one's place in one step, so the old
// target is never deleted before the new file stands there. The new file
// takes the target's permission bits first: a read-only target stays
// read-only (and an executable one executable). Unlike the Win32 side,
// createFolders leaves the current folder alone: the tool that runs the
// engine natively keeps its own. The target was found without case
// (target_posix.cpp); as on Windows, the replaced file takes the name the
// table gives it, so a name changed in case only changes on the disk too.
#include <errno.h>
#include <stdio.h>
#include <string.h>
#include <sys/stat.h>
#include <unistd.h>

#include "base/state.h"
#include "engine/journal.h"
#include "engine/replace.h"
#include "engine/results.h"
#include "package/fileops.h"
#include "package/paths.h"

OutcomeListener outcomeListener = 0;
int replaceWithoutMoveFileEx = 0;  // the 9x route has no POSIX counterpart

void replaceTarget(FileEntry* entry, const char* tempPath) {
    entry->outcome = OUT_NOT_REPLACED;
    passCheckpoint();
    const char* target = state.targetPath;
    struct stat st;
    if (stat(target, &st) != 0) {
        if (rename(tempPath, target) == 0) {
            entry->outcome = OUT_CREATED;
            return;
        }
        unlink(tempPath);
        return;
    }
    chmod(tempPath, st.st_mode & 07777);
    // The table's spelling of the file name, in the folder found.
    char named[TEXT_CAPACITY];
    copyText(named, target);
    const char* rel = entryName(entry, 0);
    const char* base = rel + strlen(rel);
    while (base > rel && base[-1] != '\\' && base[-1] != '/') base--;
    char* slash = strrchr(named, '/');
    if (slash && strlen(slash + 1) == strlen(base)) memcpy(slash + 1, base, strlen(base));
    if (rename(tempPath, named) == 0) {
        if (strcmp(named, target) != 0) unlink(target);
        entry->outcome = OUT_REPLACED;
        return;
    }
    unlink(tempPath);
}

void removeTarget(FileEntry* entry) {
    entry->outcome = OUT_NOT_DELETED;
    passCheckpoint();
    if (unlink(state.targetPath) == 0) entry->outcome = OUT_DELETED;
}

int createFolders(const char* path) {
    char work[TEXT_CAPACITY];
    copyText(work, path);
    char* last = strrchr(work, '/');
    if (!last) return ERR_NONE;
    *last = 0;
    for (char* p = work + 1; ; p++) {
        bool end = *p == 0;
        if (*p == '/' || end) {
            char saved = *p;
            *p = 0;
            struct stat st;
            // A folder made now is journalled first in an all-or-nothing run.
            if (stat(work, &st) != 0 && (journalNote('D', work) || mkdir(work, 0755) != 0)) return ERR_CREATE;
            *p = saved;
        }
        if (end) break;
    }
    return ERR_NONE;
}

void reportOutcome(void* page, unsigned outcome, const char* path) {
    if (outcomeListener) outcomeListener(page, outcome, path);
}
