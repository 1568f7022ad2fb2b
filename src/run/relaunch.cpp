// Starting from a removable disk.
//
// An update that spans several disks cannot run from the first one, since
// that disk is taken out. Started from a removable drive, the installer copies
// its stub (the first stubSize bytes of the package file) to the temporary
// folder as _upd0.exe ... _upd998.exe, starts the copy with
//   "COPY" /S"PACKAGE" /DEL
// (and the switches /Q, /?, /D="..." and /L="..." it was given) and ends; a
// quiet start first waits for the copy, to end with its exit code. The copy
// (its certificate-table entry zeroed: it carries no signature) reads the
// package from the disk through /S, asks for further disks (unless quiet),
// and arranges its own deletion at the next restart: on the NT
// family through MoveFileExA's delayed delete, elsewhere through a "NUL=path"
// line in the [Rename] section of WININIT.INI.
#include "run/run.h"

#include <string.h>

#include "base/state.h"
#include "package/binding.h"
#include "package/loader.h"
#include "package/paths.h"
#include "package/strings.h"

// The copies' names: COPY_PREFIX, a number 0..998, COPY_SUFFIX.
static const char COPY_PREFIX[] = "_upd";
static const char COPY_SUFFIX[] = ".exe";

// Longest relaunch command line: quoted copy path, /S with the quoted package
// path, /DEL, and the switches passed on: /Q, /D= and /L= with quoted paths,
// /?.
static const uint32_t COMMAND_CAPACITY = 4 * TEXT_CAPACITY + 32;

static void append(char* text, uint32_t capacity, const char* more) {
    uint32_t n = static_cast<uint32_t>(strlen(text));
    while (*more && n + 1 < capacity) text[n++] = *more++;
    text[n] = 0;
}

// True when the path's drive is removable. Network paths and paths without a
// drive letter are tested whole, which never gives a removable drive.
static bool onRemovableDrive(const char* path) {
    char root[TEXT_CAPACITY];
    copyText(root, path);
    if (!(root[0] == '\\' && root[1] == '\\') && root[0] && root[1] == ':') root[3] = 0;
    return GetDriveTypeA(root) == DRIVE_REMOVABLE;
}

// The temporary folder with a final backslash; false when it does not fit.
static bool tempFolder(char* folder) {
    DWORD len = GetTempPathA(TEXT_CAPACITY, folder);
    if (len == 0 || len >= TEXT_CAPACITY) return false;
    appendBackslash(folder);
    return true;
}

// Zeroes the certificate-table entry of a signed installer's stub: the copy
// has no certificate table behind it. The binding key reads the entry as
// zero anyway, so the copy still recognises its package's files.
static void dropCertificateEntry(uint8_t* stub, uint32_t size) {
    uint32_t entry = certificateEntryOffset(stub, size);
    if (entry) memset(stub + entry, 0, 8);
}

// Copies the stub of the package to `copy`. On any failure the partial copy
// is deleted: a cut stub is no runnable program.
static bool copyStub(FileHandle out, const char* copy) {
    uint32_t size = stubData.header.stubSize;
    FileHandle in = openFile(state.sourcePath, OPEN_READ);
    uint8_t* block = in != INVALID_FILE ? static_cast<uint8_t*>(allocBuffer(size)) : 0;
    bool ok = block && readExact(in, block, size) == 0;
    if (ok) dropCertificateEntry(block, size);
    ok = ok && writeAll(out, block, size) == WRITE_OK;
    freeBuffer(block);
    closeFile(in);
    closeFile(out);
    if (!ok) DeleteFileA(copy);
    return ok;
}

// The administrators' switches, as the copy's command line carries them on.
static void appendSwitches(char* command) {
    if (state.quiet) append(command, COMMAND_CAPACITY, " /Q");
    if (state.showSwitches) append(command, COMMAND_CAPACITY, " /?");
    const char* const names[2] = {" /D=\"", " /L=\""};
    const char* const values[2] = {state.destinationSwitch, state.logPath};
    for (int i = 0; i < 2; i++) {
        if (!values[i] || !values[i][0]) continue;
        append(command, COMMAND_CAPACITY, names[i]);
        append(command, COMMAND_CAPACITY, values[i]);
        append(command, COMMAND_CAPACITY, "\"");
    }
}

// Starts the copy and waits for its end (a quiet run, whose caller reads
// the exit code). False when it cannot be started.
static bool startAndWait(char* command, int* copyExit) {
    STARTUPINFOA startup;
    memset(&startup, 0, sizeof startup);
    startup.cb = sizeof startup;
    PROCESS_INFORMATION process;
    if (!CreateProcessA(0, command, 0, 0, FALSE, 0, 0, 0, &startup, &process)) return false;
    CloseHandle(process.hThread);
    WaitForSingleObject(process.hProcess, INFINITE);
    DWORD code = static_cast<DWORD>(EXIT_NOT_LOADED);
    GetExitCodeProcess(process.hProcess, &code);
    CloseHandle(process.hProcess);
    *copyExit = static_cast<int>(code);
    return true;
}

bool relaunchFromTemp(int showState, int* copyExit) {
    GetModuleFileNameA(static_cast<HINSTANCE>(state.instance), state.targetPath, TEXT_CAPACITY);
    state.targetPath[TEXT_MAX] = 0;
    if (!onRemovableDrive(state.targetPath)) return false;

    char folder[TEXT_CAPACITY];
    if (!tempFolder(folder)) return false;
    FileHandle out = INVALID_FILE;
    for (int i = 0; i < 999 && out == INVALID_FILE; i++) {
        char name[16];
        expandText(name, sizeof name, "_upd%d.exe", 0, i, true);  // COPY_PREFIX, i, COPY_SUFFIX
        if (strlen(folder) + strlen(name) > TEXT_MAX) return false;  // the name would be cut
        copyText(state.scratchPath, folder);
        append(state.scratchPath, TEXT_CAPACITY, name);
        FileHandle taken = openFile(state.scratchPath, OPEN_READ);
        if (taken != INVALID_FILE) {
            closeFile(taken);
            continue;
        }
        bool exists;
        out = createFile(state.scratchPath, &exists);
    }
    if (out == INVALID_FILE) return false;
    if (!copyStub(out, state.scratchPath)) return false;

    char* command = static_cast<char*>(allocZeroed(COMMAND_CAPACITY));
    if (!command) {
        DeleteFileA(state.scratchPath);
        return false;
    }
    append(command, COMMAND_CAPACITY, "\"");
    append(command, COMMAND_CAPACITY, state.scratchPath);
    append(command, COMMAND_CAPACITY, "\" /S\"");
    append(command, COMMAND_CAPACITY, state.sourcePath);
    append(command, COMMAND_CAPACITY, "\" /DEL");
    appendSwitches(command);
    // A copy that cannot be started would leave the user with nothing:
    // then the installer runs from the disk after all.
    bool started = copyExit ? startAndWait(command, copyExit)
                            : WinExec(command, static_cast<UINT>(showState)) > 31;
    freeBuffer(command);
    if (!started) {
        DeleteFileA(state.scratchPath);
        return false;
    }
    return true;
}

bool patchWininit(const char* iniPath, const char* shortPath) {
    WritePrivateProfileStringA("Rename", "xyz", shortPath, iniPath);
    WritePrivateProfileStringA(0, 0, 0, iniPath);  // flush the cached copy
    return patchRenameLine(iniPath, shortPath);
}

bool patchRenameLine(const char* iniPath, const char* shortPath) {
    FileHandle file = openFile(iniPath, OPEN_READ_WRITE);
    if (file == INVALID_FILE) return false;
    uint32_t n = fileSize(file);
    bool patched = false;
    // The spare bytes let the comparison run past the end of the text.
    uint8_t* text = n < 0x7FFFFE00u ? static_cast<uint8_t*>(allocZeroed(n + 512)) : 0;
    if (text && readExact(file, text, n) == READ_OK) {
        uint32_t pathLength = static_cast<uint32_t>(strlen(shortPath));
        for (uint32_t k = 0; k + 4 < n; k++) {
            if (memcmp(text + k, "xyz=", 4) == 0 && memcmp(text + k + 4, shortPath, pathLength) == 0) {
                memcpy(text + k, "NUL", 3);
                seekTo(file, 0);
                patched = writeAll(file, text, n) == WRITE_OK;
                break;
            }
        }
    }
    freeBuffer(text);
    closeFile(file);
    return patched;
}

bool isRelaunchCopy(const char* path) {
    char folder[TEXT_CAPACITY];
    if (!tempFolder(folder)) return false;
    int n = lstrlenA(folder);
    if (lstrlenA(path) <= n ||
        CompareStringA(LOCALE_SYSTEM_DEFAULT, NORM_IGNORECASE, path, n, folder, n) != CSTR_EQUAL)
        return false;
    // "_upd", one to three digits, ".exe"
    const char* name = path + n;
    int digits = 0;
    while (name[4 + digits] >= '0' && name[4 + digits] <= '9') digits++;
    return digits >= 1 && digits <= 3 &&
           CompareStringA(LOCALE_SYSTEM_DEFAULT, NORM_IGNORECASE, name, 4, COPY_PREFIX, 4) == CSTR_EQUAL &&
           lstrcmpiA(name + 4 + digits, COPY_SUFFIX) == 0;
}

void scheduleSelfDeletion() {
    GetModuleFileNameA(static_cast<HINSTANCE>(state.instance), state.targetPath, TEXT_CAPACITY);
    state.targetPath[TEXT_MAX] = 0;
    if (!isRelaunchCopy(state.targetPath)) return;
    OSVERSIONINFOA version;
    version.dwOSVersionInfoSize = sizeof version;
    GetVersionExA(&version);
    if (version.dwPlatformId == VER_PLATFORM_WIN32_NT) {
        MoveFileExA(state.targetPath, 0, MOVEFILE_DELAY_UNTIL_REBOOT);
        return;
    }
    if (!GetShortPathNameA(state.targetPath, state.scratchPath, TEXT_CAPACITY)) return;
    UINT len = GetWindowsDirectoryA(state.targetPath, TEXT_CAPACITY);
    if (len == 0 || len + 12 > TEXT_MAX) return;
    append(state.targetPath, TEXT_CAPACITY, "\\WININIT.INI");
    patchWininit(state.targetPath, state.scratchPath);
}
