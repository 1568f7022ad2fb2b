// Where the stub's DLLs come from.
//
// The stub imports statically only DLLs that Windows always takes from the
// system folder: known DLLs (kernel32, user32, gdi32, comdlg32, advapi32,
// msvcrt) and comctl32, which the stub's manifest binds to the side-by-side
// common controls. Any other DLL a folder beside the installer could supply
// in the system's place (a downloads folder, the temporary folder of the
// relaunch copy), so:
//   limitDllSearch   first thing at start-up: DLLs loaded later are looked
//                    for in the system folder only (SetDefaultDllDirectories
//                    where kernel32 has it), else at least not in the
//                    current folder (SetDllDirectoryA(""));
//   versionApi       VERSION.dll's functions, loaded on first use from the
//                    system folder by full path; null when the DLL or one of
//                    its functions cannot be had (the callers then go on as
//                    the version API's own failures would let them).
#pragma once
#include <windows.h>

void limitDllSearch();

struct VersionApi {
    DWORD(WINAPI* getFileVersionInfoSize)(LPCSTR path, LPDWORD ignored);
    BOOL(WINAPI* getFileVersionInfo)(LPCSTR path, DWORD ignored, DWORD size, LPVOID info);
    BOOL(WINAPI* verQueryValue)(LPCVOID info, LPCSTR block, LPVOID* value, PUINT size);
    DWORD(WINAPI* verFindFile)(DWORD flags, LPCSTR fileName, LPCSTR windowsDir, LPCSTR appDir,
                               LPSTR currentDir, PUINT currentLen, LPSTR destDir, PUINT destLen);
};

const VersionApi* versionApi();
