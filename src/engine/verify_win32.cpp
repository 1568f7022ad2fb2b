// Win32 seams of the verification pass (verify_pass.cpp walks the table): the
// drive query, opening a file as the pass does (absent only when the system
// says "file not found" or "path not found"), and the access test.
#include <windows.h>

#include "base/state.h"
#include "engine/results.h"
#include "engine/verify.h"
#include "package/strings.h"

static bool declineAlternateFolder(void*) { return false; }
AlternateFolderDialog alternateFolderDialog = declineAlternateFolder;

static bool queryDiskFreeSpace(const char* root, uint32_t* sectorsPerCluster,
                              uint32_t* bytesPerSector, uint32_t* freeClusters,
                              uint32_t* totalClusters) {
    DWORD spc = 0, bps = 0, fc = 0, tc = 0;
    if (!GetDiskFreeSpaceA(root, &spc, &bps, &fc, &tc)) return false;
    *sectorsPerCluster = spc;
    *bytesPerSector = bps;
    *freeClusters = fc;
    *totalClusters = tc;
    return true;
}
DiskFreeSpaceQuery diskFreeSpaceQuery = queryDiskFreeSpace;

// Opens path for reading as the pass does. On failure *absent tells whether
// the system reported the file (or its folder) as not there; anything else
// (a sharing violation, denied access) means the file exists and is held.
// A passing hold (a scanner) is waited out as openFile does.
FileHandle openForReading(const char* path, bool* absent) {
    FileHandle file = openFile(path, OPEN_READ);
    if (file != INVALID_FILE) return file;
    DWORD error = GetLastError();
    *absent = error == ERROR_FILE_NOT_FOUND || error == ERROR_PATH_NOT_FOUND;
    return INVALID_FILE;
}

static bool canOpen(const char* path, DWORD access) {
    HANDLE h = CreateFileA(path, access, FILE_SHARE_READ, 0, OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, 0);
    if (h == INVALID_HANDLE_VALUE) return false;
    CloseHandle(h);
    return true;
}

// Proves that the target can be replaced: it opens for writing and for
// reading, if need be with its read-only attribute lifted for the test. The
// attributes are put back exactly as they were, so a file that failed only
// because someone holds it never comes out read-only.
//
// The attribute itself fails the first write test: an administrator (and
// Wine run as root) may open a read-only file for writing, yet replacing it
// still needs the attribute lifted, and the ready page asks about that.
int accessTest(const char* path) {
    DWORD attributes = GetFileAttributesA(path);
    bool readOnly = attributes != INVALID_FILE_ATTRIBUTES && (attributes & FILE_ATTRIBUTE_READONLY);
    if (!readOnly && canOpen(path, GENERIC_WRITE) && canOpen(path, GENERIC_READ)) return ERR_NONE;
    bool ok = false;
    if (readOnly) {
        state.attributesChanged = 1;
        DWORD lifted = attributes & ~DWORD(FILE_ATTRIBUTE_READONLY);
        SetFileAttributesA(path, lifted ? lifted : FILE_ATTRIBUTE_NORMAL);
        ok = canOpen(path, GENERIC_WRITE) && canOpen(path, GENERIC_READ);
        SetFileAttributesA(path, attributes);
    }
    if (ok) return ERR_NONE;
    setMessageSubject(path);
    return ERR_ACCESS_DENIED;
}

