// Where the stub's DLLs come from: the search limit at start-up and
// VERSION.dll loaded from the system folder (see libraries.h).
#include "package/libraries.h"

#include "base/state.h"
#include "package/paths.h"

#ifndef LOAD_LIBRARY_SEARCH_SYSTEM32
#define LOAD_LIBRARY_SEARCH_SYSTEM32 0x00000800
#endif

// GetProcAddress's result as the one function type that converts to any
// other without a warning.
typedef void (*AnyFunction)();
static AnyFunction function(HMODULE module, const char* name) {
    return reinterpret_cast<AnyFunction>(GetProcAddress(module, name));
}

// A kernel32 function that older systems lack, or null.
static AnyFunction kernelFunction(const char* name) {
    return function(GetModuleHandleA("kernel32.dll"), name);
}

// How VERSION.dll's own imports are looked for: in the system folder, beside
// it. Where the default directories could be set, with the flag of that
// scheme; elsewhere with the older flag every system has.
static DWORD versionLoadFlags = LOAD_WITH_ALTERED_SEARCH_PATH;

void limitDllSearch() {
    typedef BOOL(WINAPI * SetDefaultDllDirectoriesFn)(DWORD);
    typedef BOOL(WINAPI * SetDllDirectoryFn)(LPCSTR);
    SetDefaultDllDirectoriesFn setDefault =
        reinterpret_cast<SetDefaultDllDirectoriesFn>(kernelFunction("SetDefaultDllDirectories"));
    if (setDefault && setDefault(LOAD_LIBRARY_SEARCH_SYSTEM32)) {
        versionLoadFlags = LOAD_LIBRARY_SEARCH_SYSTEM32;
        return;
    }
    SetDllDirectoryFn setDirectory = reinterpret_cast<SetDllDirectoryFn>(kernelFunction("SetDllDirectoryA"));
    if (setDirectory) setDirectory("");
}

// Takes one function of module into field; false when it is missing.
#define TAKE(field, module, name) \
    ((field = reinterpret_cast<decltype(field)>(function(module, name))) != 0)

static VersionApi version;
static int versionState;  // 0 not tried yet, 1 loaded, -1 not available

const VersionApi* versionApi() {
    if (versionState == 0) {
        versionState = -1;
        char path[TEXT_CAPACITY];
        UINT n = GetSystemDirectoryA(path, TEXT_CAPACITY);
        if (n == 0 || n + sizeof "\\version.dll" > TEXT_CAPACITY) return 0;
        appendText(path, "\\version.dll");
        HMODULE module = LoadLibraryExA(path, 0, versionLoadFlags);
        if (!module) return 0;
        if (TAKE(version.getFileVersionInfoSize, module, "GetFileVersionInfoSizeA") &&
            TAKE(version.getFileVersionInfo, module, "GetFileVersionInfoA") &&
            TAKE(version.verQueryValue, module, "VerQueryValueA") &&
            TAKE(version.verFindFile, module, "VerFindFileA"))
            versionState = 1;
    }
    return versionState > 0 ? &version : 0;
}
