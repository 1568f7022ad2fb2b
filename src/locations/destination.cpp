#include "locations/destination.h"

#include <windows.h>

#include <string.h>

#include "base/state.h"
#include "package/fileops.h"
#include "package/paths.h"

// Registry roots by the package's root index; 4 and above read HKCU.
static const HKEY registryRoots[4] = {HKEY_CLASSES_ROOT, HKEY_CURRENT_USER, HKEY_LOCAL_MACHINE,
                                      HKEY_USERS};

// Reads a value as stored (type not examined, nothing expanded) into a
// 260-byte buffer, cut to 259 characters. False leaves out untouched.
static bool readRegistryText(HKEY root, const char* subKey, const char* value, char* out) {
    HKEY key;
    if (RegOpenKeyExA(root, subKey, 0, KEY_READ, &key) != ERROR_SUCCESS) return false;
    bool ok = false;
    DWORD type = 0, size = 0;
    if (RegQueryValueExA(key, value, 0, &type, 0, &size) == ERROR_SUCCESS) {
        // The value may be any length and need not end in a NUL.
        char* data = static_cast<char*>(allocZeroed(size + 1));
        if (data) {
            if (RegQueryValueExA(key, value, 0, &type, reinterpret_cast<BYTE*>(data), &size) ==
                ERROR_SUCCESS) {
                copyText(out, data);
                ok = true;
            }
            freeBuffer(data);
        }
    }
    RegCloseKey(key);
    return ok;
}

// Cuts destinationDir back one character at a time until it names a folder
// that can be made the current directory, then respells it.
static void cutToExistingFolder() {
    char* dir = state.destinationDir;
    // Cut a character at a time: never half of a two-byte one.
    for (char* last; (last = lastChar(dir)) != 0; *last = 0) {
        if (SetCurrentDirectoryA(dir)) {
            normalizePathCase(dir);
            return;
        }
    }
}

static bool macroIs(const char* text, size_t len, const char* macro) {
    if (strlen(macro) != len) return false;
    char a[32], b[32];
    for (size_t i = 0; i <= len && i < sizeof a; i++) {
        a[i] = i < len ? text[i] : 0;
        b[i] = macro[i];
    }
    return len < sizeof a && samePathIgnoringCase(a, b);
}

static void expandMacro() {
    char* dir = state.destinationDir;
    if (dir[0] != '#') return;
    const char* close = strchr(dir + 1, '#');
    if (!close) return;
    size_t macroLen = static_cast<size_t>(close - dir) + 1;

    char expansion[TEXT_CAPACITY] = "";
    if (macroIs(dir, macroLen, "#Windows#")) {
        if (GetWindowsDirectoryA(expansion, TEXT_CAPACITY) >= TEXT_CAPACITY) expansion[0] = 0;
    } else if (macroIs(dir, macroLen, "#System#")) {
        if (GetSystemDirectoryA(expansion, TEXT_CAPACITY) >= TEXT_CAPACITY) expansion[0] = 0;
    } else if (macroIs(dir, macroLen, "#Program Files#")) {
        if (!readRegistryText(HKEY_LOCAL_MACHINE, "Software\\Microsoft\\Windows\\CurrentVersion",
                              "ProgramFilesDir", expansion))
            expansion[0] = 0;
    }
    const char* rest = close + 1;
    if (*rest == '\\') rest++;
    appendBackslash(expansion);
    appendText(expansion, rest);  // rest lies in dir: build the text aside
    copyText(dir, expansion);
}

void expandDestination() {
    if (state.registrySubKey) {
        uint32_t index = state.registryRoot < 4 ? state.registryRoot : 1;
        HKEY key;
        if (RegOpenKeyExA(registryRoots[index], state.registrySubKey, 0, KEY_READ, &key) ==
            ERROR_SUCCESS) {
            RegCloseKey(key);
            readRegistryText(registryRoots[index], state.registrySubKey, state.registryValue,
                             state.destinationDir);
            cutToExistingFolder();
            return;
        }
    } else if (state.iniFile && state.iniSection && state.iniKey) {
        copyText(state.scratchPath, state.destinationDir);
        GetPrivateProfileStringA(state.iniSection, state.iniKey, state.scratchPath,
                                 state.destinationDir, TEXT_CAPACITY, state.iniFile);
        state.destinationDir[TEXT_MAX] = 0;
        cutToExistingFolder();
        return;
    }
    expandMacro();
}

// Looks work up and replaces its last component by the name the file system
// reports. False when it is not found or the name does not fit.
static bool respellLast(char* work) {
    WIN32_FIND_DATAA found;
    HANDLE h = FindFirstFileA(work, &found);
    if (h == INVALID_HANDLE_VALUE) return false;
    FindClose(h);
    char* last = lastBackslash(work);
    char* name = last ? last + 1 : work;
    size_t keep = static_cast<size_t>(name - work);
    if (keep + strlen(found.cFileName) > TEXT_MAX) return false;
    strcpy(name, found.cFileName);
    return true;
}

void normalizePathCase(char* path) {
    // A wildcard would let the lookup answer with some other name.
    if (strpbrk(path, "*?")) return;
    char work[TEXT_CAPACITY];
    size_t w = 0;
    const char* rest = path;
    if (path[0] && path[1] == ':') {  // the drive part stays as written
        work[w++] = path[0];
        work[w++] = ':';
        rest += 2;
    }
    work[w] = 0;
    while (*rest == '\\') rest++;

    for (;;) {
        const char* slash = nextBackslash(rest);
        size_t len = slash ? static_cast<size_t>(slash - rest) : strlen(rest);
        w = strlen(work);
        if (w + 1 + len > TEXT_MAX) return;
        work[w] = '\\';
        memcpy(work + w + 1, rest, len);
        work[w + 1 + len] = 0;
        if (!slash) break;
        if (!respellLast(work)) return;
        rest = slash + 1;
    }
    stripBackslash(work);
    if (!respellLast(work)) return;
    strcpy(path, work);
}
