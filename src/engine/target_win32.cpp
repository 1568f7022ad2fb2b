// resolveTarget: the install folder, the Windows folder, and the shared-file
// search through VerFindFileA (loaded from the system folder, libraries.h).
#include <windows.h>

#include <string.h>

#include "base/state.h"
#include "engine/target.h"
#include "package/fileops.h"
#include "package/libraries.h"
#include "package/paths.h"

// Without the version API nothing is found: the file goes to the
// destination folder.
static uint32_t callVerFindFile(uint32_t flags, const char* fileName, const char* windowsDir,
                                const char* appDir, char* currentDir, uint32_t* currentLen,
                                char* destDir, uint32_t* destLen) {
    const VersionApi* api = versionApi();
    if (!api) {
        currentDir[0] = destDir[0] = 0;
        *currentLen = *destLen = 0;
        return 0;
    }
    UINT cur = *currentLen, dest = *destLen;
    DWORD r = api->verFindFile(flags, fileName, windowsDir, appDir, currentDir, &cur, destDir, &dest);
    *currentLen = cur;
    *destLen = dest;
    return r;
}
SharedFileSearch sharedFileSearch = callVerFindFile;

// Existence test: the file can be opened for reading.
static bool canOpenForReading(const char* path) {
    HANDLE h = CreateFileA(path, GENERIC_READ, FILE_SHARE_READ, 0, OPEN_EXISTING,
                           FILE_ATTRIBUTE_NORMAL, 0);
    if (h == INVALID_HANDLE_VALUE) return false;
    CloseHandle(h);
    return true;
}

// folder + "\" (unless present) + name, into a 260-byte buffer.
static void joinPath(char* out, const char* folder, const char* name) {
    copyText(out, folder);
    appendBackslash(out);
    appendText(out, name);
}

// The work area of the search: three 260-byte texts.
struct SharedSearchArea {
    char suggested[TEXT_CAPACITY];  // where the shared file belongs
    char current[TEXT_CAPACITY];    // where a copy of it is now
    char windows[TEXT_CAPACITY];
};

static int resolveShared(const char* rel) {
    SharedSearchArea* area = static_cast<SharedSearchArea*>(allocZeroed(sizeof(SharedSearchArea)));
    if (!area) {
        appendBackslash(state.targetPath);
        appendText(state.targetPath, rel);
        return ERR_NONE;
    }
    stripBackslash(state.targetPath);  // the application folder
    const char* slash = lastBackslash(rel);
    const char* base = slash ? slash + 1 : rel;
    GetWindowsDirectoryA(area->windows, TEXT_CAPACITY);

    uint32_t currentLen = TEXT_CAPACITY, suggestedLen = TEXT_CAPACITY;
    uint32_t found = sharedFileSearch(VFFF_ISSHAREDFILE, base, area->windows, state.targetPath,
                                      area->current, &currentLen, area->suggested, &suggestedLen);
    area->current[TEXT_MAX] = 0;  // the API's outputs, whatever it did
    area->suggested[TEXT_MAX] = 0;

    int result = ERR_NONE;
    if (found & VFF_FILEINUSE) {
        // Name the copy in use so that the message shows the right file.
        if (area->current[0])
            joinPath(state.targetPath, area->current, base);
        else
            joinPath(state.targetPath, state.destinationDir, rel);
        result = ERR_FILE_IN_USE;
    } else if (area->suggested[0]) {
        joinPath(state.targetPath, area->suggested, base);
        if (!canOpenForReading(state.targetPath) && area->current[0]) {
            char* candidate = area->windows;  // no longer needed: reuse it
            joinPath(candidate, area->current, base);
            if (canOpenForReading(candidate)) copyText(state.targetPath, candidate);
        }
    } else if (area->current[0]) {
        // Without a suggested folder only a present copy is taken.
        joinPath(area->windows, area->current, base);
        if (canOpenForReading(area->windows))
            copyText(state.targetPath, area->windows);
        else
            joinPath(state.targetPath, state.destinationDir, rel);
    } else {
        joinPath(state.targetPath, state.destinationDir, rel);
    }
    freeBuffer(area);
    return result;
}

int resolveTarget(FileEntry* entry) {
    copyText(state.targetPath, state.destinationDir);
    const char* rel = entryName(entry, 0);
    switch (entry->location) {
    case LOC_WINDOWS_DIR:
        if (!GetWindowsDirectoryA(state.targetPath, TEXT_CAPACITY)) state.targetPath[0] = 0;
        state.targetPath[TEXT_MAX] = 0;
        break;
    case LOC_SHARED:
        return resolveShared(rel);
    default:
        break;
    }
    appendBackslash(state.targetPath);
    appendText(state.targetPath, rel);
    return ERR_NONE;
}
