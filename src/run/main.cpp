// Program entry of the stub. It first limits where DLLs are looked for
// (package/libraries.h). The stub links without the C runtime's start-up
// files: the entry point takes the command line behind the program's name
// and the show state from the system, as a runtime would hand them to
// WinMain, and ends the process with runInstaller's exit code. Nothing here
// runs constructors of static objects; the stub has none.
#include "package/libraries.h"
#include "run/cmdline.h"
#include "run/run.h"

#if defined(__i386__)
// The system enters with a 4-byte aligned stack; the compiler's code below
// assumes 16.
#define ENTRY_ALIGNMENT __attribute__((force_align_arg_pointer))
#else
#define ENTRY_ALIGNMENT
#endif

extern "C" ENTRY_ALIGNMENT void stubEntry() {
    limitDllSearch();  // before anything could load a DLL
    STARTUPINFOA startup;
    startup.cb = sizeof startup;
    GetStartupInfoA(&startup);
    int showState = (startup.dwFlags & STARTF_USESHOWWINDOW) ? startup.wShowWindow : SW_SHOWDEFAULT;
    const char* arguments = programArguments(GetCommandLineA());
    ExitProcess(static_cast<UINT>(runInstaller(GetModuleHandleA(0), arguments, showState)));
}
