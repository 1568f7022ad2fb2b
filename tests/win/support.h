// Helpers for the Windows test programs (run under wine64): temporary
// folders, the real stub, in-memory dialog templates, and running a program
// to its exit code.
#pragma once
#include <windows.h>

#include <string>
#include <vector>

#include "common/common.h"
#include "common/files_win32.h"
#include "pkg/writer.h"

namespace winsupport {

using testcommon::TempDir;
using testcommon::noise;
using testcommon::codeLike;

// The x86_64 stub of this build tree, as a Windows path.
std::string stubPath();
pkg::Bytes realStub();

// Waits for the object while this thread's windows keep answering messages
// (a program under test may send to them). False on a timeout.
bool waitPumping(HANDLE object, DWORD timeoutMs);

// Starts `program args`, waits up to timeoutMs, returns the exit code
// (or 0xDEADBEEF on a timeout, after killing the process).
DWORD runProgram(const std::string& program, const std::string& args, DWORD timeoutMs = 60000);

// A dialog template (DLGTEMPLATE, no font) with the given controls.
struct Control {
    std::string className;  // "BUTTON", "STATIC", "EDIT", "SysListView32", ...
    std::string text;
    WORD id;
    DWORD style;
    short x, y, cx, cy;
};
pkg::Bytes dialogTemplate(DWORD style, short cx, short cy, const std::string& title,
                          const std::vector<Control>& controls);
// Template blob: index of offsets followed by the templates in order.
pkg::Bytes templateBlob(const std::vector<pkg::Bytes>& templates);

}  // namespace winsupport
