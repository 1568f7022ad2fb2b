/* The sample product's program: a window that says which version it is.
   Built three times (1.0, 1.1, 2.0) by examples/sample/build.sh; the
   version comes in as SAMPLE_VERSION and also lands in the version
   resource, so an update can be told apart by checksum and by version. */
#include <windows.h>

#ifndef SAMPLE_VERSION
#define SAMPLE_VERSION "0.0"
#endif

static const char kTitle[] = "Sample " SAMPLE_VERSION;

static LRESULT CALLBACK windowProc(HWND w, UINT m, WPARAM wp, LPARAM lp) {
    if (m == WM_PAINT) {
        PAINTSTRUCT ps;
        HDC dc = BeginPaint(w, &ps);
        TextOutA(dc, 20, 20, kTitle, lstrlenA(kTitle));
#if SAMPLE_MAJOR >= 2
        TextOutA(dc, 20, 44, "Now with a second line.", 23);
#endif
        EndPaint(w, &ps);
        return 0;
    }
    if (m == WM_DESTROY) {
        PostQuitMessage(0);
        return 0;
    }
    return DefWindowProcA(w, m, wp, lp);
}

int WINAPI WinMain(HINSTANCE instance, HINSTANCE prev, LPSTR cmd, int show) {
    WNDCLASSA wc = {0};
    wc.lpfnWndProc = windowProc;
    wc.hInstance = instance;
    wc.hCursor = LoadCursorA(0, IDC_ARROW);
    wc.hbrBackground = (HBRUSH)(COLOR_WINDOW + 1);
    wc.lpszClassName = "SampleWindow";
    RegisterClassA(&wc);
    HWND w = CreateWindowA("SampleWindow", kTitle, WS_OVERLAPPEDWINDOW | WS_VISIBLE, CW_USEDEFAULT, CW_USEDEFAULT,
                           320, 160, 0, 0, instance, 0);
    MSG msg;
    while (GetMessageA(&msg, 0, 0, 0) > 0) DispatchMessageA(&msg);
    (void)w;
    return 0;
}
