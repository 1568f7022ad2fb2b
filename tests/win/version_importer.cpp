// A program that imports VERSION.dll statically, as the installer once did.
// The planting tests start it beside a planted version.dll to prove that the
// search order they set up does load such a DLL (planted.h).
#include <windows.h>

int main() {
    char kernel[MAX_PATH + 16];
    GetSystemDirectoryA(kernel, MAX_PATH);
    lstrcatA(kernel, "\\kernel32.dll");
    DWORD ignored;
    return GetFileVersionInfoSizeA(kernel, &ignored) ? 0 : 1;
}
