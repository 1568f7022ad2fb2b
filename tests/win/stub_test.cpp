// The shipped program as a user starts it: it must run a sound package to
// the end, refuse a damaged one with exit code -1, and give way to an
// installer that is already running.
#include <gtest/gtest.h>

#include "package/format.h"
#include "run/run.h"
#include "support.h"

using namespace pkg;
using namespace winsupport;

namespace {

const DWORD EXIT_FAILED = 0xFFFFFFFF;  // -1

std::vector<std::vector<std::string>> captionTables() {
    std::vector<std::vector<std::string>> tables(8);
    tables[6] = {"Test Update"};
    return tables;
}

TEST(StubRun, CompletePackageRunsToANormalShutDown) {
    TempDir temp;
    // Start page 6 and no frame template: no page is shown, normal shut-down.
    Bytes file = buildInstaller(realStub(), {stringTablesRecord(captionTables()), startPageRecord(6)},
                                Bytes(64, 7));
    EXPECT_EQ(runProgram(temp.write("setup.exe", file), ""), 0u);
}

TEST(StubRun, IncompletePackagesExitWithMinusOne) {
    TempDir temp;
    Bytes file = buildInstaller(realStub(), {stringTablesRecord(captionTables())}, Bytes(64, 7));
    Bytes longer = file;
    longer.push_back(1);
    EXPECT_EQ(runProgram(temp.write("long.exe", longer), ""), EXIT_FAILED);
    EXPECT_EQ(runProgram(temp.write("stub.exe", realStub()), ""), EXIT_FAILED);
}

TEST(StubRun, PackageNamedOnTheCommandLineIsUsed) {
    TempDir temp;
    std::string sound = temp.write("sound package.exe",
                                   buildInstaller(realStub(), {startPageRecord(6)}, Bytes(8, 1)));
    std::string bare = temp.write("bare.exe", realStub());
    EXPECT_EQ(runProgram(bare, "/s \"" + sound + "\""), 0u);
}

TEST(StubRun, SecondInstanceGivesWayWithoutReadingItsPackage) {
    // A window of the installer's class marks a running instance.
    WNDCLASSA wc = {};
    wc.lpfnWndProc = DefWindowProcA;
    wc.hInstance = GetModuleHandleA(0);
    wc.lpszClassName = "UpdShClass";
    ASSERT_TRUE(RegisterClassA(&wc));
    HWND first = CreateWindowExA(0, "UpdShClass", "first", WS_OVERLAPPEDWINDOW, 0, 0, 100, 100, 0, 0,
                                 wc.hInstance, 0);
    ASSERT_TRUE(first);
    ShowWindow(first, SW_MINIMIZE);
    TempDir temp;
    // The stub alone would exit with -1 if it read its package.
    EXPECT_EQ(runProgram(temp.write("stub.exe", realStub()), ""), 0u);
    EXPECT_FALSE(IsIconic(first)) << "the running instance was restored";
    DestroyWindow(first);
    UnregisterClassA("UpdShClass", wc.hInstance);
}

TEST(StubRun, FrameAndPageFromThePackageRunUntilCancelled) {
    // Frame template 0 with Next/Cancel; pages are plain dialogs. Single-page
    // mode on page 0: a cancel from outside ends the wizard, exit 0.
    Bytes frame = dialogTemplate(DS_CONTROL | WS_CHILD | WS_VISIBLE, 200, 100, "",
                                 {{"BUTTON", "Next", IDOK, BS_PUSHBUTTON, 100, 80, 40, 14},
                                  {"BUTTON", "Cancel", IDCANCEL, BS_PUSHBUTTON, 150, 80, 40, 14}});
    Bytes page = dialogTemplate(DS_CONTROL | WS_CHILD | WS_VISIBLE, 200, 70, "",
                                {{"STATIC", "Welcome", 1000, SS_LEFT, 5, 5, 150, 10}});
    Bytes blob = templateBlob({frame, frame, page, page, page, page, page});
    TempDir temp;
    std::string path = temp.write(
        "setup.exe", buildInstaller(realStub(),
                                    {stringTablesRecord(captionTables()), bufferRecord(REC_TEMPLATES, blob),
                                     startPageRecord(0)},
                                    {}));
    std::string line = "\"" + path + "\"";
    STARTUPINFOA si = {};
    si.cb = sizeof si;
    PROCESS_INFORMATION pi = {};
    ASSERT_TRUE(CreateProcessA(path.c_str(), &line[0], 0, 0, FALSE, 0, 0, 0, &si, &pi));
    HWND background = 0;
    for (int i = 0; i < 300 && !(background && IsWindowVisible(background)); i++) {
        Sleep(100);
        background = FindWindowA("UpdShClass", "Test Update");
    }
    ASSERT_TRUE(background) << "the background window carries the caption (6, 0)";
    // Windowed presentation: the background window wraps the frame exactly.
    HWND frameWindow = FindWindowExA(background, 0, 0, 0);
    ASSERT_TRUE(frameWindow);
    RECT client, frameRect;
    GetClientRect(background, &client);
    GetWindowRect(frameWindow, &frameRect);
    EXPECT_EQ(client.right, frameRect.right - frameRect.left);
    EXPECT_EQ(client.bottom, frameRect.bottom - frameRect.top);
    // A second start now finds this one running.
    EXPECT_EQ(runProgram(temp.write("again.exe", realStub()), ""), 0u);
    PostMessageA(frameWindow, WM_COMMAND, IDCANCEL, 0);
    ASSERT_TRUE(waitPumping(pi.hProcess, 30000));
    DWORD code = 1;
    GetExitCodeProcess(pi.hProcess, &code);
    EXPECT_EQ(code, DWORD(EXIT_DONE));
    CloseHandle(pi.hThread);
    CloseHandle(pi.hProcess);
}

}  // namespace
