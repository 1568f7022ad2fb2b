// A version.dll as someone might plant it beside an installer. It exports
// the functions of the system's VERSION.dll that the installer uses (the
// 8-bit ones) and those Wine's own user32 imports (the wide ones); they all
// answer as for a file without version information. Each 8-bit function
// writes "<its own path>.called" naming the program that called it, which
// the planting tests look for; loading it writes "<its own path>.loaded".
#include <windows.h>

#include <string.h>

static HINSTANCE self;

// Writes the calling program's path into the file <this DLL's path><suffix>.
static void mark(const char* suffix) {
    char marker[MAX_PATH + 16], program[MAX_PATH];
    DWORD n = GetModuleFileNameA(self, marker, MAX_PATH);
    if (n == 0 || n >= MAX_PATH) return;
    strcat(marker, suffix);
    DWORD length = GetModuleFileNameA(0, program, MAX_PATH);
    HANDLE file = CreateFileA(marker, GENERIC_WRITE, 0, 0, CREATE_ALWAYS, 0, 0);
    if (file == INVALID_HANDLE_VALUE) return;
    DWORD written;
    WriteFile(file, program, length, &written, 0);
    CloseHandle(file);
}

extern "C" BOOL WINAPI DllMain(HINSTANCE instance, DWORD reason, LPVOID) {
    if (reason == DLL_PROCESS_ATTACH) {
        self = instance;
        mark(".loaded");
    }
    return TRUE;
}

extern "C" __declspec(dllexport) DWORD WINAPI GetFileVersionInfoSizeA(LPCSTR, LPDWORD) {
    mark(".called");
    return 0;
}
extern "C" __declspec(dllexport) BOOL WINAPI GetFileVersionInfoA(LPCSTR, DWORD, DWORD, LPVOID) {
    mark(".called");
    return FALSE;
}
extern "C" __declspec(dllexport) BOOL WINAPI VerQueryValueA(LPCVOID, LPCSTR, LPVOID*, PUINT) {
    mark(".called");
    return FALSE;
}
extern "C" __declspec(dllexport) DWORD WINAPI VerFindFileA(DWORD, LPSTR, LPSTR, LPSTR, LPSTR, PUINT currentLen,
                                                           LPSTR, PUINT destLen) {
    mark(".called");
    *currentLen = *destLen = 0;
    return 0;
}

extern "C" __declspec(dllexport) DWORD WINAPI GetFileVersionInfoSizeW(LPCWSTR, LPDWORD) { return 0; }
extern "C" __declspec(dllexport) BOOL WINAPI GetFileVersionInfoW(LPCWSTR, DWORD, DWORD, LPVOID) { return FALSE; }
extern "C" __declspec(dllexport) BOOL WINAPI VerQueryValueW(LPCVOID, LPCWSTR, LPVOID*, PUINT) { return FALSE; }
