// replaceTarget, removeTarget, createFolders, reportOutcome.
//
// The old target is never deleted before the new file stands in its place,
// so a failed move or a process killed half-way leaves the old file or the
// new one, never neither:
// - NT family: MoveFileExA(REPLACE_EXISTING | WRITE_THROUGH) swaps them in
//   one step (a target held open without delete sharing refuses it);
// - 9x family, where MoveFileExA answers ERROR_CALL_NOT_IMPLEMENTED: the old
//   file moves aside under a free ".$$x" name, the new one moves in, then
//   the old copy is deleted; if the second move fails the old file moves
//   back.
// Each move and delete waits out a passing sharing or lock violation
// (retryAfterHold). In an all-or-nothing run a target that stays in use gets
// the proven file scheduled to replace it at the next restart
// (MoveFileExA with MOVEFILE_DELAY_UNTIL_REBOOT; the temporary file stays
// until then): OUT_AT_RESTART. Where the system refuses that (no
// administrator rights), OUT_NOT_REPLACED stands.
#include <windows.h>
#include <commctrl.h>

#include <string.h>

#include "base/state.h"
#include "engine/install.h"
#include "engine/journal.h"
#include "engine/replace.h"
#include "engine/results.h"
#include "package/format.h"
#include "package/paths.h"
#include "package/strings.h"

OutcomeListener outcomeListener = 0;
int replaceWithoutMoveFileEx = 0;

static void setReadOnly(const char* path, bool on) {
    DWORD a = GetFileAttributesA(path);
    if (a == INVALID_FILE_ATTRIBUTES) return;
    DWORD b = on ? (a | FILE_ATTRIBUTE_READONLY) : (a & ~FILE_ATTRIBUTE_READONLY);
    if (b != a) SetFileAttributesA(path, b);
}

// MoveFileExA with these flags (MoveFileA for none, which every family has).
static bool moveOver(const char* from, const char* to, DWORD flags) {
    passCheckpoint();
    uint32_t attempt = 0;
    for (;;) {
        if (flags ? MoveFileExA(from, to, flags) : MoveFileA(from, to)) return true;
        if (!retryAfterHold(&attempt, false)) return false;
    }
}

// Moves `from` over the existing `to` without ever leaving no `to`.
static bool swapIn(const char* from, const char* to) {
    if (!replaceWithoutMoveFileEx) {
        if (moveOver(from, to, MOVEFILE_REPLACE_EXISTING | MOVEFILE_WRITE_THROUGH)) return true;
        if (GetLastError() != ERROR_CALL_NOT_IMPLEMENTED) return false;
    }
    char aside[TEXT_CAPACITY];
    copyText(aside, to);
    replaceExtension(aside, ".$$O");
    size_t last = strlen(aside) - 1;
    while (GetFileAttributesA(aside) != INVALID_FILE_ATTRIBUTES) {
        if (static_cast<unsigned char>(aside[last]) == 0xFF) return false;
        aside[last]++;
    }
    if (!MoveFileA(to, aside)) return false;
    if (!MoveFileA(from, to)) {
        MoveFileA(aside, to);
        return false;
    }
    setReadOnly(aside, false);
    DeleteFileA(aside);
    return true;
}

void replaceTarget(FileEntry* entry, const char* tempPath) {
    entry->outcome = OUT_NOT_REPLACED;
    const char* target = state.targetPath;
    DWORD attributes = GetFileAttributesA(target);
    if (attributes == INVALID_FILE_ATTRIBUTES) {
        // No target: the new file moves in.
        if (moveOver(tempPath, target, 0)) {
            entry->outcome = OUT_CREATED;
            return;
        }
        removeFile(tempPath);
        return;
    }
    bool readOnly = (attributes & FILE_ATTRIBUTE_READONLY) != 0;
    if (readOnly) SetFileAttributesA(target, attributes & ~FILE_ATTRIBUTE_READONLY);
    bool replaced = swapIn(tempPath, target);
    DWORD why = GetLastError();
    if (readOnly) setReadOnly(target, true);
    if (replaced) {
        entry->outcome = OUT_REPLACED;
        return;
    }
    // The old family has no MoveFileExA at all: it cannot schedule either.
    if ((state.options & OPT_ALL_OR_NOTHING) && !replaceWithoutMoveFileEx &&
        (why == ERROR_ACCESS_DENIED || why == ERROR_SHARING_VIOLATION || why == ERROR_LOCK_VIOLATION) &&
        moveOver(tempPath, target, MOVEFILE_DELAY_UNTIL_REBOOT | MOVEFILE_REPLACE_EXISTING)) {
        entry->outcome = OUT_AT_RESTART;
        return;
    }
    removeFile(tempPath);
}

void removeTarget(FileEntry* entry) {
    entry->outcome = OUT_NOT_DELETED;
    const char* target = state.targetPath;
    DWORD attributes = GetFileAttributesA(target);
    bool readOnly = attributes != INVALID_FILE_ATTRIBUTES && (attributes & FILE_ATTRIBUTE_READONLY);
    if (readOnly) SetFileAttributesA(target, attributes & ~FILE_ATTRIBUTE_READONLY);
    passCheckpoint();
    if (removeFile(target) == FILE_DONE) {
        entry->outcome = OUT_DELETED;
        return;
    }
    if (readOnly) SetFileAttributesA(target, attributes);  // it stays as it was
}

// One piece of the path: an existing folder, or one made now (journalled
// first in an all-or-nothing run).
static bool enterOrMake(const char* piece) {
    if (SetCurrentDirectoryA(piece)) return true;
    return !journalNote('D', piece) && CreateDirectoryA(piece, 0) && SetCurrentDirectoryA(piece);
}

int createFolders(const char* path) {
    char* work = static_cast<char*>(allocBuffer(TEXT_CAPACITY));
    if (!work) return ERR_NO_MEMORY;
    copyText(work, path);
    char* lastSlash = lastBackslash(work);
    if (lastSlash) lastSlash[1] = 0;
    // Pieces from the first one past the root: "C:\" or, on a network
    // share, "\\server\" (the share is entered, never made).
    char* scan = work;
    if (work[0] == '\\' && work[1] == '\\') {
        char* server = nextBackslash(work + 2);
        scan = server ? server + 1 : work + 2;
    } else if (work[0] && work[1] == ':' && work[2] == '\\') {
        scan = work + 3;
    }
    int result = ERR_NONE;
    if (lastSlash && lastSlash >= scan) {
        // Every separator from scan on, stepping over two-byte characters.
        for (char* p = scan; *p; p += isLeadByte(*p) && p[1] ? 2 : 1) {
            if (*p != '\\') continue;
            *p = 0;
            bool ok = enterOrMake(work);
            *p = '\\';
            if (!ok) {
                result = ERR_CREATE;
                break;
            }
        }
    } else {
        stripBackslash(work);
        if (!enterOrMake(work)) result = ERR_CREATE;
    }
    freeBuffer(work);
    return result;
}

void reportOutcome(void* page, unsigned outcome, const char* path) {
    if (outcomeListener) outcomeListener(page, outcome, path);
    HWND list = page ? GetDlgItem(static_cast<HWND>(page), 1013) : 0;
    if (!list) return;
    const char* shown = path;
    size_t base = strlen(state.destinationDir);
    if (base && strlen(path) >= base && CompareStringA(LOCALE_SYSTEM_DEFAULT, NORM_IGNORECASE, path,
                                                       static_cast<int>(base), state.destinationDir,
                                                       static_cast<int>(base)) == CSTR_EQUAL)
        shown = path + base;
    const char* text = getString(TABLE_MESSAGES, outcome);
    uint32_t size = static_cast<uint32_t>(strlen(shown) + strlen(text) + 16);
    char* line = static_cast<char*>(allocBuffer(size));
    if (!line) return;
    memcpy(line, shown, strlen(shown));
    memcpy(line + strlen(shown), ": ", 2);
    memcpy(line + strlen(shown) + 2, text, strlen(text) + 1);
    LVITEMA item;
    memset(&item, 0, sizeof item);
    item.mask = LVIF_TEXT;
    item.iItem = static_cast<int>(SendMessageA(list, LVM_GETITEMCOUNT, 0, 0));
    item.pszText = line;
    LRESULT index = SendMessageA(list, LVM_INSERTITEMA, 0, reinterpret_cast<LPARAM>(&item));
    if (index >= 0) SendMessageA(list, LVM_ENSUREVISIBLE, static_cast<WPARAM>(index), FALSE);
    freeBuffer(line);
}
