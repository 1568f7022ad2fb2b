#include "driver.h"

#include <commctrl.h>

#include <chrono>
#include <thread>

namespace wizard {
namespace {

const char BACKGROUND_CLASS[] = "UpdShClass";
const char DIALOG_CLASS[] = "#32770";

void pause(DWORD ms) { std::this_thread::sleep_for(std::chrono::milliseconds(ms)); }

template <class F>
auto poll(DWORD timeoutMs, const std::string& what, F probe) -> decltype(probe()) {
    DWORD start = GetTickCount();
    for (;;) {
        if (auto r = probe()) return r;
        if (GetTickCount() - start > timeoutMs) throw Failure("timed out waiting for " + what);
        pause(30);
    }
}

// The LVITEMA layout of a 32-bit target, for reading a list across a
// process of the other width.
struct LvItem32 {
    UINT mask;
    int iItem, iSubItem;
    UINT state, stateMask;
    uint32_t pszText;
    int cchTextMax, iImage;
    uint32_t lParam;
    int iIndent;
};

// A 32-bit target run by QEMU's user-mode emulator (32-bit Wine on a host
// without 32-bit support) keeps its memory at a fixed offset in the
// emulator's address space: the guest base, which the test scripts pin with
// QEMU_GUEST_BASE. The wineserver reads and writes other processes at host
// addresses, so a 32-bit address A of such a target lies at A + base for
// ReadProcessMemory and WriteProcessMemory. 0 when nothing is emulated.
uint64_t emulatorGuestBase() {
    char text[32];
    DWORD n = GetEnvironmentVariableA("QEMU_GUEST_BASE", text, sizeof text);
    return n && n < sizeof text ? _strtoui64(text, 0, 0) : 0;
}

// Reads or writes another process's memory at a 64-bit address, also from a
// 32-bit driver (through the WoW64 calls of ntdll there).
bool remoteCopy(HANDLE process, uint64_t at, void* buffer, SIZE_T size, bool write) {
    if (sizeof(void*) == 8)
        return write ? WriteProcessMemory(process, reinterpret_cast<void*>(at), buffer, size, 0)
                     : ReadProcessMemory(process, reinterpret_cast<void*>(at), buffer, size, 0);
    typedef LONG(WINAPI * Wow64Copy)(HANDLE, ULONG64, void*, ULONG64, ULONG64*);
    HMODULE ntdll = GetModuleHandleA("ntdll.dll");
    auto call = reinterpret_cast<Wow64Copy>(reinterpret_cast<void*>(
        GetProcAddress(ntdll, write ? "NtWow64WriteVirtualMemory64" : "NtWow64ReadVirtualMemory64")));
    if (!call || (at >> 32) == 0)
        return write ? WriteProcessMemory(process, reinterpret_cast<void*>(static_cast<uintptr_t>(at)), buffer, size, 0)
                     : ReadProcessMemory(process, reinterpret_cast<void*>(static_cast<uintptr_t>(at)), buffer, size, 0);
    return call(process, at, buffer, size, 0) >= 0;
}

}  // namespace

std::string windowText(HWND window) {
    char buffer[4096] = {};
    DWORD_PTR n = 0;
    SendMessageTimeoutA(window, WM_GETTEXT, sizeof buffer, reinterpret_cast<LPARAM>(buffer), SMTO_ABORTIFHUNG,
                        5000, &n);
    return buffer;
}

std::string className(HWND window) {
    char buffer[64] = {};
    GetClassNameA(window, buffer, sizeof buffer);
    return buffer;
}

Screen captureScreen() {
    Screen s;
    s.width = GetSystemMetrics(SM_CXSCREEN);
    s.height = GetSystemMetrics(SM_CYSCREEN);
    HDC screen = GetDC(0);
    HDC memory = CreateCompatibleDC(screen);
    BITMAPINFO info = {};
    info.bmiHeader.biSize = sizeof info.bmiHeader;
    info.bmiHeader.biWidth = s.width;
    info.bmiHeader.biHeight = -s.height;  // top-down
    info.bmiHeader.biPlanes = 1;
    info.bmiHeader.biBitCount = 32;
    void* bits = nullptr;
    HBITMAP bitmap = CreateDIBSection(screen, &info, DIB_RGB_COLORS, &bits, 0, 0);
    HGDIOBJ old = SelectObject(memory, bitmap);
    BitBlt(memory, 0, 0, s.width, s.height, screen, 0, 0, SRCCOPY);
    GdiFlush();
    const uint32_t* p = static_cast<const uint32_t*>(bits);
    s.pixels.assign(p, p + static_cast<size_t>(s.width) * s.height);
    for (auto& v : s.pixels) v &= 0xFFFFFF;
    SelectObject(memory, old);
    DeleteObject(bitmap);
    DeleteDC(memory);
    ReleaseDC(0, screen);
    return s;
}

PROCESS_INFORMATION startProgram(const std::string& program, const std::string& args) {
    for (int attempt = 1;; attempt++) {
        std::string line = "\"" + program + "\" " + args;
        STARTUPINFOA si = {};
        si.cb = sizeof si;
        PROCESS_INFORMATION pi = {};
        if (CreateProcessA(program.c_str(), &line[0], 0, 0, FALSE, 0, 0, 0, &si, &pi)) return pi;
        DWORD error = GetLastError();
        if (attempt == 10) throw Failure("cannot start " + program + " (error " + std::to_string(error) + ")");
        Sleep(200);
    }
}

Driver::Driver(const std::string& program, const std::string& args, DWORD timeoutMs) : timeout_(timeoutMs) {
    PROCESS_INFORMATION pi = startProgram(program, args);
    CloseHandle(pi.hThread);
    process_ = pi.hProcess;
    pid_ = pi.dwProcessId;
}

Driver::Driver(DWORD processId, DWORD timeoutMs) : timeout_(timeoutMs) {
    process_ = OpenProcess(SYNCHRONIZE | PROCESS_ALL_ACCESS, FALSE, processId);
    if (!process_) throw Failure("cannot open process " + std::to_string(processId));
    pid_ = processId;
}

Driver::~Driver() {
    if (running()) {
        TerminateProcess(process_, 0xDEADBEEF);
        WaitForSingleObject(process_, 5000);
    }
    CloseHandle(process_);
}

bool Driver::running() const { return WaitForSingleObject(process_, 0) == WAIT_TIMEOUT; }

bool Driver::waitExit(DWORD* code, DWORD timeoutMs) {
    if (WaitForSingleObject(process_, timeoutMs) != WAIT_OBJECT_0) return false;
    GetExitCodeProcess(process_, code);
    return true;
}

namespace {
struct WindowSearch {
    DWORD pid;
    std::vector<HWND> found;
};
// A plain CALLBACK function: on i686 the enumeration calls it stdcall.
BOOL CALLBACK collectWindow(HWND w, LPARAM p) {
    auto* s = reinterpret_cast<WindowSearch*>(p);
    DWORD owner = 0;
    GetWindowThreadProcessId(w, &owner);
    if (owner == s->pid && IsWindowVisible(w)) s->found.push_back(w);
    return TRUE;
}
}  // namespace

std::vector<HWND> Driver::topLevel() {
    WindowSearch search{pid_, {}};
    EnumWindows(collectWindow, reinterpret_cast<LPARAM>(&search));
    return search.found;
}

HWND Driver::background() {
    if (background_ && IsWindow(background_)) return background_;
    background_ = poll(timeout_, "the background window", [&]() -> HWND {
        if (!running()) throw Failure("the installer ended before its window appeared");
        for (HWND w : topLevel())
            if (className(w) == BACKGROUND_CLASS) return w;
        return 0;
    });
    return background_;
}

HWND Driver::findFrame(HWND back) {
    // Windowed: the frame is the background's dialog child. Full screen: a
    // pop-up dialog owned by the background window.
    for (HWND c = GetWindow(back, GW_CHILD); c; c = GetWindow(c, GW_HWNDNEXT))
        if (className(c) == DIALOG_CLASS && GetDlgItem(c, IDCANCEL)) return c;
    for (HWND w : topLevel())
        if (className(w) == DIALOG_CLASS && GetWindow(w, GW_OWNER) == back && GetDlgItem(w, 1007)) return w;
    return 0;
}

HWND Driver::frame() {
    HWND back = background();
    return poll(timeout_, "the wizard frame", [&] { return findFrame(back); });
}

HWND Driver::currentPage() {
    HWND f = findFrame(background());
    if (!f) return 0;
    for (HWND c = GetWindow(f, GW_CHILD); c; c = GetWindow(c, GW_HWNDNEXT))
        if (className(c) == DIALOG_CLASS && IsWindowVisible(c)) return c;
    return 0;
}

std::string Driver::caption() {
    std::string text = windowText(background());
    HWND f = findFrame(background());
    if (f && (GetWindowLongA(f, GWL_STYLE) & WS_CAPTION) == WS_CAPTION) text += " | " + windowText(f);
    return text;
}

HWND Driver::waitPage(const std::string& title, HWND previous) {
    HWND page = poll(timeout_, "the page \"" + title + "\"", [&]() -> HWND {
        if (!running()) throw Failure("the installer ended while waiting for the page \"" + title + "\"");
        HWND p = currentPage();
        if (!p || p == previous) return 0;
        if (!title.empty() && caption().find(title) == std::string::npos) return 0;
        // The caption may have changed for the next page after p was read.
        return currentPage() == p ? p : 0;
    });
    settle();
    return page;
}

void Driver::settle(DWORD ms) {
    DWORD_PTR r;
    if (HWND b = background_) SendMessageTimeoutA(b, WM_NULL, 0, 0, SMTO_ABORTIFHUNG, 5000, &r);
    pause(ms);
}

std::string Driver::controlText(HWND dialog, int id) {
    HWND c = GetDlgItem(dialog, id);
    if (!c) throw Failure("no control " + std::to_string(id));
    return windowText(c);
}

bool Driver::controlExists(HWND dialog, int id) { return GetDlgItem(dialog, id) != 0; }

bool Driver::buttonEnabled(int id) {
    HWND b = GetDlgItem(frame(), id);
    return b && IsWindowEnabled(b);
}

std::string Driver::buttonText(int id) { return controlText(frame(), id); }

void Driver::press(int id) {
    if (!buttonEnabled(id)) throw Failure("button " + std::to_string(id) + " is disabled");
    command(frame(), id);
}

void Driver::command(HWND window, int id) {
    PostMessageA(window, WM_COMMAND, MAKEWPARAM(id, BN_CLICKED), reinterpret_cast<LPARAM>(GetDlgItem(window, id)));
}

void Driver::type(HWND dialog, int id, const std::string& text) {
    HWND c = GetDlgItem(dialog, id);
    if (!c) throw Failure("no field " + std::to_string(id));
    DWORD_PTR r;
    SendMessageTimeoutA(c, WM_SETTEXT, 0, reinterpret_cast<LPARAM>(text.c_str()), SMTO_ABORTIFHUNG, 5000, &r);
}

// True when the process runs a 32-bit image: IsWow64Process, or else the
// machine field of its program file's PE header.
static bool targetIs32Bit(HANDLE process) {
    BOOL wow = FALSE;
    if (IsWow64Process(process, &wow) && wow) return true;
    char path[MAX_PATH];
    DWORD size = MAX_PATH;
    if (!QueryFullProcessImageNameA(process, 0, path, &size)) return false;
    HANDLE f = CreateFileA(path, GENERIC_READ, FILE_SHARE_READ | FILE_SHARE_WRITE, 0, OPEN_EXISTING, 0, 0);
    if (f == INVALID_HANDLE_VALUE) return false;
    unsigned char head[1024] = {};
    DWORD got = 0;
    ReadFile(f, head, sizeof head, &got, 0);
    CloseHandle(f);
    uint32_t pe = head[0x3C] | head[0x3D] << 8 | head[0x3E] << 16 | head[0x3F] << 24;
    if (pe + 6 > got) return false;
    return (head[pe + 4] | head[pe + 5] << 8) == IMAGE_FILE_MACHINE_I386;
}

std::vector<std::string> Driver::listLines(HWND dialog, int id) {
    HWND list = GetDlgItem(dialog, id);
    if (!list) throw Failure("no list " + std::to_string(id));
    int count = static_cast<int>(SendMessageA(list, LVM_GETITEMCOUNT, 0, 0));
    const SIZE_T textCapacity = 1024;
    bool narrow = sizeof(void*) == 4 || targetIs32Bit(process_);  // the target has 32-bit pointers
    SIZE_T itemSize = narrow ? sizeof(LvItem32) : sizeof(LVITEMA);
    char* remote = 0;
    if (narrow) {
        // The item and its text must lie where a 32-bit pointer (and the
        // message's 32-bit parameter) can reach them.
        for (uintptr_t at = 0x00400000; !remote && at < 0x7FF00000; at += 0x00100000)
            remote = static_cast<char*>(VirtualAllocEx(process_, reinterpret_cast<void*>(at), itemSize + textCapacity,
                                                       MEM_COMMIT | MEM_RESERVE, PAGE_READWRITE));
    } else {
        remote = static_cast<char*>(
            VirtualAllocEx(process_, 0, itemSize + textCapacity, MEM_COMMIT | MEM_RESERVE, PAGE_READWRITE));
    }
    if (!remote) throw Failure("no memory in the installer's process");
    // Where the driver's reads and writes reach the target's memory.
    uint64_t base = narrow ? emulatorGuestBase() : 0;
    uint64_t remoteAt = base + reinterpret_cast<uintptr_t>(remote);
    std::vector<std::string> lines;
    for (int i = 0; i < count; i++) {
        char* remoteText = remote + itemSize;
        bool written;
        if (narrow) {
            LvItem32 item = {};
            item.mask = LVIF_TEXT;
            item.iItem = i;
            item.pszText = static_cast<uint32_t>(reinterpret_cast<uintptr_t>(remoteText));
            item.cchTextMax = textCapacity;
            written = remoteCopy(process_, remoteAt, &item, sizeof item, true);
        } else {
            LVITEMA item = {};
            item.mask = LVIF_TEXT;
            item.iItem = i;
            item.pszText = remoteText;
            item.cchTextMax = textCapacity;
            written = remoteCopy(process_, remoteAt, &item, sizeof item, true);
        }
        if (!written) throw Failure("cannot write into the installer's process");
        SendMessageA(list, LVM_GETITEMTEXTA, i, reinterpret_cast<LPARAM>(remote));
        char text[textCapacity] = {};
        remoteCopy(process_, remoteAt + itemSize, text, textCapacity - 1, false);
        lines.push_back(text);
    }
    VirtualFreeEx(process_, remote, 0, MEM_RELEASE);
    return lines;
}

std::string Driver::dialogText(HWND dialog) {
    std::string text = windowText(dialog);
    for (HWND c = GetWindow(dialog, GW_CHILD); c; c = GetWindow(c, GW_HWNDNEXT))
        if (className(c) == "Static") {
            std::string t = windowText(c);
            if (!t.empty()) text += "\n" + t;
        }
    return text;
}

// The frame if the wizard shows one now; dialogs may come before it (or
// without it, when the wizard cannot be shown).
HWND Driver::frameIfShown() {
    for (HWND w : topLevel())
        if (className(w) == BACKGROUND_CLASS) return findFrame(w);
    return 0;
}

bool Driver::dialogShown(const std::string& text) {
    if (!running()) return false;
    HWND f = frameIfShown();
    for (HWND w : topLevel())
        if (w != f && className(w) == DIALOG_CLASS && dialogText(w).find(text) != std::string::npos) return true;
    return false;
}

HWND Driver::waitDialog(const std::string& text, DWORD timeoutMs) {
    HWND dialog = poll(timeoutMs, "a dialog showing \"" + text + "\"", [&]() -> HWND {
        if (!running()) throw Failure("the installer ended while waiting for \"" + text + "\"");
        HWND f = frameIfShown();
        for (HWND w : topLevel())
            if (w != f && className(w) == DIALOG_CLASS && dialogText(w).find(text) != std::string::npos) return w;
        return 0;
    });
    settle(100);
    return dialog;
}

std::string Driver::answer(const std::string& text, int id, DWORD timeoutMs) {
    HWND box = waitDialog(text, timeoutMs);
    std::string shown = dialogText(box);
    if (!GetDlgItem(box, id)) throw Failure("the dialog \"" + shown + "\" has no button " + std::to_string(id));
    command(box, id);
    poll(timeoutMs, "the dialog \"" + text + "\" to close", [&] { return !IsWindow(box) || !IsWindowVisible(box); });
    return shown;
}

std::string Driver::artifactDir() { return UPD_ARTIFACT_DIR; }

void Driver::snapshot(const std::string& name) {
    settle(100);
    std::string file = (name[0] == '/' ? name : artifactDir() + "/" + name) + ".png";
    std::string windowsFile = "Z:" + file;
    for (char& c : windowsFile)
        if (c == '/') c = '\\';
    DeleteFileA(windowsFile.c_str());
    // Wine starts a Unix program given by its Unix path, but its process
    // handle does not wait for that program's end; the picture is written
    // under another name and renamed, and its arrival is what counts.
    // The command line reaches sh split by the Windows rules: \" is a quote.
    std::string script = "import -window root \\\"" + file + ".part.png\\\" && mv \\\"" + file +
                         ".part.png\\\" \\\"" + file + "\\\"";
    std::string line = "/bin/sh -c \"" + script + "\"";
    STARTUPINFOA si = {};
    si.cb = sizeof si;
    PROCESS_INFORMATION pi = {};
    if (!CreateProcessA(0, &line[0], 0, 0, FALSE, 0, 0, 0, &si, &pi)) return;
    CloseHandle(pi.hThread);
    CloseHandle(pi.hProcess);
    DWORD start = GetTickCount();
    while (GetFileAttributesA(windowsFile.c_str()) == INVALID_FILE_ATTRIBUTES && GetTickCount() - start < 15000)
        pause(30);
}

}  // namespace wizard
