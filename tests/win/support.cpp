#include "support.h"

#include "driver.h"
#include "pkg/stub.h"

namespace winsupport {

std::string stubPath() {
    std::string unixPath = UPD_STUB_PATH;
    std::string p = "Z:";
    for (char c : unixPath) p += c == '/' ? '\\' : c;
    return p;
}

pkg::Bytes realStub() { return pkg::loadStub(stubPath()); }

bool waitPumping(HANDLE object, DWORD timeoutMs) {
    DWORD start = GetTickCount();
    for (;;) {
        DWORD elapsed = GetTickCount() - start;
        if (elapsed >= timeoutMs) return false;
        DWORD r = MsgWaitForMultipleObjects(1, &object, FALSE, timeoutMs - elapsed, QS_ALLINPUT);
        if (r == WAIT_OBJECT_0) return true;
        MSG msg;
        while (PeekMessageA(&msg, 0, 0, 0, PM_REMOVE)) {
            TranslateMessage(&msg);
            DispatchMessageA(&msg);
        }
    }
}

DWORD runProgram(const std::string& program, const std::string& args, DWORD timeoutMs) {
    PROCESS_INFORMATION pi = wizard::startProgram(program, args);
    DWORD code = 0xDEADBEEF;
    if (waitPumping(pi.hProcess, timeoutMs))
        GetExitCodeProcess(pi.hProcess, &code);
    else
        TerminateProcess(pi.hProcess, 0xDEADBEEF);
    CloseHandle(pi.hThread);
    CloseHandle(pi.hProcess);
    return code;
}

static void align4(pkg::Bytes& b) {
    while (b.size() % 4) b.push_back(0);
}

static void putWideText(pkg::Bytes& b, const std::string& s) {
    for (char c : s) pkg::put16(b, static_cast<uint8_t>(c));
    pkg::put16(b, 0);
}

pkg::Bytes dialogTemplate(DWORD style, short cx, short cy, const std::string& title,
                          const std::vector<Control>& controls) {
    pkg::Bytes b;
    pkg::put32(b, style);
    pkg::put32(b, 0);  // extended style
    pkg::put16(b, static_cast<uint16_t>(controls.size()));
    pkg::put16(b, 0);
    pkg::put16(b, 0);
    pkg::put16(b, static_cast<uint16_t>(cx));
    pkg::put16(b, static_cast<uint16_t>(cy));
    pkg::put16(b, 0);  // no menu
    pkg::put16(b, 0);  // default class
    putWideText(b, title);
    for (const Control& c : controls) {
        align4(b);
        pkg::put32(b, c.style | WS_CHILD | WS_VISIBLE);
        pkg::put32(b, 0);
        pkg::put16(b, static_cast<uint16_t>(c.x));
        pkg::put16(b, static_cast<uint16_t>(c.y));
        pkg::put16(b, static_cast<uint16_t>(c.cx));
        pkg::put16(b, static_cast<uint16_t>(c.cy));
        pkg::put16(b, c.id);
        putWideText(b, c.className);
        putWideText(b, c.text);
        pkg::put16(b, 0);  // no creation data
    }
    return b;
}

pkg::Bytes templateBlob(const std::vector<pkg::Bytes>& templates) {
    pkg::Bytes blob;
    uint32_t offset = static_cast<uint32_t>(4 * templates.size());
    for (const auto& t : templates) {
        pkg::put32(blob, offset);
        offset += static_cast<uint32_t>((t.size() + 3) & ~size_t(3));
    }
    for (const auto& t : templates) {
        blob.insert(blob.end(), t.begin(), t.end());
        align4(blob);
    }
    return blob;
}

}  // namespace winsupport
