// A small program that runs one installation the way the wizard does
// (what a killed all-or-nothing run left undone first, verification, then
// installNextFile until it stops returning STEP_OK), so that a test can
// kill it at chosen points and the benchmark can time it.
// usage: engine_runner [--report] [--versions] [--count-calls] [--trace]
//                      [--kill-at N] INSTALLER DESTINATION
// Exit code: the finish page's result code, or 100 + the verification
// result when verification does not pass (103 = nothing to do). --report
// prints the times of both passes and the engine's heap peak; --versions
// prints, after verification, each entry's path and the version found
// (an index into its known versions, or absent / current / unknown). A run
// that fails prints its result code and the path concerned.
//
// Kill points: during the installation, every platform call of the engine
// that opens, writes, moves, deletes or changes a file counts (the runner
// puts a counter in front of each through its own import table, which all
// of the engine's calls go through). --count-calls prints how many the run
// made and the number of the first one past the last entry, where an
// all-or-nothing run replaces its files ("calls N FIRST", FIRST 0 when
// there is none), --trace each of them as it comes; --kill-at N ends the process abruptly at the N-th, as a
// power cut or Task Manager would, after writing half of the bytes when
// that call is a write. Exit code 0xDEADBEEF then.
//
// usage: engine_runner --hold-wizard NAME INSTALLER
// runs the installer's whole wizard in this program, with the installer's
// stub settings and package, and holds it the first time the engine opens a
// file called NAME: it sets the event "upd-held-<pid>" and waits for
// "upd-go-<pid>" (pid: this process). Meanwhile the wizard's thread takes
// no message, so a test can queue real input at that exact point.
#include <windows.h>

#include <stdio.h>
#include <stdlib.h>
#include <string.h>

#include "package/filetable.h"
#include "engine/install.h"
#include "engine/journal.h"
#include "package/paths.h"
#include "engine/results.h"
#include "engine/verify.h"
#include "package/format.h"
#include "package/loader.h"
#include "run/run.h"
#include "base/state.h"
#include "import_slot.h"

namespace killpoints {

const UINT KILLED = 0xDEADBEEF;
long calls = 0;
long firstPastTheTable = 0;
long killAt = -1;
bool trace = false;

// Counts one call; the killing one ends the process here.
void count(const char* name = "", const char* path = "") {
    if (trace) printf("%ld %s %s\n", calls + 1, name, path ? path : "");
    if (!firstPastTheTable && state.currentEntryIndex >= static_cast<int32_t>(state.entryCount))
        firstPastTheTable = calls + 1;
    if (++calls == killAt) {
        fflush(stdout);
        TerminateProcess(GetCurrentProcess(), KILLED);
    }
}

decltype(&WriteFile) realWriteFile;
BOOL WINAPI writeFile(HANDLE file, LPCVOID data, DWORD n, LPDWORD written, LPOVERLAPPED overlapped) {
    if (calls + 1 == killAt && n > 1) {
        DWORD half = 0;
        realWriteFile(file, data, n / 2, &half, overlapped);
    }
    count("WriteFile");
    return realWriteFile(file, data, n, written, overlapped);
}

// The path a call is about, for --trace: its first argument when that is a
// text.
inline const char* pathOf(LPCSTR a, ...) { return a; }
inline const char* pathOf(HANDLE, ...) { return ""; }
#define PATH_OF pathOf

// The same counter in front of the other calls, whatever their arguments.
#define COUNTED(name, result, params, args)     \
    decltype(&name) real##name;                 \
    result WINAPI counted##name params {        \
        count(#name, PATH_OF args);             \
        return real##name args;                 \
    }
COUNTED(CreateFileA, HANDLE, (LPCSTR a, DWORD b, DWORD c, LPSECURITY_ATTRIBUTES d, DWORD e, DWORD f, HANDLE g),
        (a, b, c, d, e, f, g))
COUNTED(MoveFileA, BOOL, (LPCSTR a, LPCSTR b), (a, b))
COUNTED(MoveFileExA, BOOL, (LPCSTR a, LPCSTR b, DWORD c), (a, b, c))
COUNTED(DeleteFileA, BOOL, (LPCSTR a), (a))
COUNTED(SetFileAttributesA, BOOL, (LPCSTR a, DWORD b), (a, b))
COUNTED(SetFileTime, BOOL, (HANDLE a, const FILETIME* b, const FILETIME* c, const FILETIME* d), (a, b, c, d))
COUNTED(FlushFileBuffers, BOOL, (HANDLE a), (a))
COUNTED(CreateDirectoryA, BOOL, (LPCSTR a, LPSECURITY_ATTRIBUTES b), (a, b))
#undef COUNTED

}  // namespace killpoints

// The import-table slots of the calls (mingw names each __imp_<name>).
extern "C" {
extern decltype(&WriteFile) __imp_WriteFile;
extern decltype(&CreateFileA) __imp_CreateFileA;
extern decltype(&MoveFileA) __imp_MoveFileA;
extern decltype(&MoveFileExA) __imp_MoveFileExA;
extern decltype(&DeleteFileA) __imp_DeleteFileA;
extern decltype(&SetFileAttributesA) __imp_SetFileAttributesA;
extern decltype(&SetFileTime) __imp_SetFileTime;
extern decltype(&FlushFileBuffers) __imp_FlushFileBuffers;
extern decltype(&CreateDirectoryA) __imp_CreateDirectoryA;
}

namespace killpoints {
void install() {
    replaceImport(&__imp_WriteFile, writeFile, &realWriteFile);
    replaceImport(&__imp_CreateFileA, countedCreateFileA, &realCreateFileA);
    replaceImport(&__imp_MoveFileA, countedMoveFileA, &realMoveFileA);
    replaceImport(&__imp_MoveFileExA, countedMoveFileExA, &realMoveFileExA);
    replaceImport(&__imp_DeleteFileA, countedDeleteFileA, &realDeleteFileA);
    replaceImport(&__imp_SetFileAttributesA, countedSetFileAttributesA, &realSetFileAttributesA);
    replaceImport(&__imp_SetFileTime, countedSetFileTime, &realSetFileTime);
    replaceImport(&__imp_FlushFileBuffers, countedFlushFileBuffers, &realFlushFileBuffers);
    replaceImport(&__imp_CreateDirectoryA, countedCreateDirectoryA, &realCreateDirectoryA);
}
}  // namespace killpoints

namespace holdpoint {

const char* name = "";
bool held = false;

decltype(&CreateFileA) realCreateFileA;
HANDLE WINAPI createFileA(LPCSTR path, DWORD access, DWORD share, LPSECURITY_ATTRIBUTES security,
                          DWORD disposition, DWORD flags, HANDLE templateFile) {
    size_t n = strlen(path), m = strlen(name);
    if (!held && n > m && path[n - m - 1] == '\\' && !_stricmp(path + n - m, name)) {
        held = true;
        char event[64];
        snprintf(event, sizeof event, "upd-held-%lu", GetCurrentProcessId());
        HANDLE heldEvent = CreateEventA(0, TRUE, FALSE, event);
        snprintf(event, sizeof event, "upd-go-%lu", GetCurrentProcessId());
        HANDLE go = CreateEventA(0, TRUE, FALSE, event);
        SetEvent(heldEvent);
        WaitForSingleObject(go, INFINITE);
        CloseHandle(go);
        CloseHandle(heldEvent);
    }
    return realCreateFileA(path, access, share, security, disposition, flags, templateFile);
}

// The stub settings the packaging tool wrote into the installer's stub: the
// block that starts as this program's own stubData does.
bool takeStubData(const char* installer) {
    HANDLE file = CreateFileA(installer, GENERIC_READ, FILE_SHARE_READ, 0, OPEN_EXISTING, 0, 0);
    if (file == INVALID_HANDLE_VALUE) return false;
    static uint8_t image[65536];
    DWORD got = 0;
    ReadFile(file, image, sizeof image, &got, 0);
    CloseHandle(file);
    const size_t key = sizeof stubData.header.magic + sizeof stubData.header.marker;
    for (DWORD i = 0; i + sizeof stubData <= got; i++)
        if (!memcmp(image + i, &stubData, key)) {
            memcpy(&stubData, image + i, sizeof stubData);
            return true;
        }
    return false;
}

int runWizard(const char* file, const char* installer) {
    if (!takeStubData(installer)) return 97;
    name = file;
    replaceImport(&__imp_CreateFileA, createFileA, &realCreateFileA);
    char command[MAX_PATH + 8];
    snprintf(command, sizeof command, "/S\"%s\"", installer);
    return runInstaller(GetModuleHandleA(0), command, SW_SHOWNORMAL);
}

}  // namespace holdpoint

static double seconds() {
    LARGE_INTEGER f, t;
    QueryPerformanceFrequency(&f);
    QueryPerformanceCounter(&t);
    return double(t.QuadPart) / double(f.QuadPart);
}

int main(int argc, char** argv) {
    if (argc == 4 && !strcmp(argv[1], "--hold-wizard")) return holdpoint::runWizard(argv[2], argv[3]);
    bool report = argc > 1 && !strcmp(argv[1], "--report");
    if (report) argv++, argc--;
    bool versions = argc > 1 && !strcmp(argv[1], "--versions");
    if (versions) argv++, argc--;
    bool countCalls = argc > 1 && !strcmp(argv[1], "--count-calls");
    if (countCalls) argv++, argc--;
    killpoints::trace = argc > 1 && !strcmp(argv[1], "--trace");
    if (killpoints::trace) argv++, argc--, countCalls = true;
    if (argc > 2 && !strcmp(argv[1], "--kill-at")) {
        killpoints::killAt = atol(argv[2]);
        argv += 2, argc -= 2;
    }
    if (argc < 3) return 99;
    state.dataFile = INVALID_FILE;
    if (!allocateTextBuffers()) return 98;
    copyText(state.sourcePath, argv[1]);
    if (loadPackage() != LOAD_OK) return 97;
    copyText(state.destinationDir, argv[2]);  // the user's choice, not the package's default
    appendBackslash(state.destinationDir);
    if (state.options & OPT_ALL_OR_NOTHING) recoverJournal();  // as the destination page does
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
    if (countCalls || killpoints::killAt > 0) killpoints::install();
    if (beginInstallation() != ERR_NONE) return state.resultCode;
    while (installNextFile(0) == STEP_OK) {
    }
    finishInstallation();
    if (countCalls) {
        printf("calls %ld %ld\n", killpoints::calls, killpoints::firstPastTheTable);
        fflush(stdout);
    }
    double t2 = seconds();
    int code = finalResultCode();
    if (report)
        printf("%.3fs (verify %.3fs) heap peak %u KiB, code %d\n", t2 - t1, t1 - t0,
               (memoryPeak - heapBefore) / 1024, code);
    if (code) printf("result %d: %s (system error %lu)\n", code, state.messageSubject, GetLastError());
    return code;
}
