// An installation killed at any moment leaves every target byte-exactly old
// or new (a created file absent or new, a deleted one old or absent), and a
// later run completes the update.
#include "install_support.h"

#include <random>

using namespace installtest;

namespace {

std::string runnerPath() {
    std::string p = "Z:";
    for (char c : std::string(UPD_ENGINE_RUNNER_PATH)) p += c == '/' ? '\\' : c;
    return p;
}

// Starts the runner and kills it after `ms` milliseconds (if still running).
// Returns its exit code, or 0xDEADBEEF when it was killed.
DWORD runFor(const std::string& args, DWORD ms) {
    std::string line = "\"" + runnerPath() + "\" " + args;
    STARTUPINFOA si = {};
    si.cb = sizeof si;
    PROCESS_INFORMATION pi = {};
    if (!CreateProcessA(runnerPath().c_str(), &line[0], 0, 0, FALSE, 0, 0, 0, &si, &pi)) return 0xBAD;
    DWORD code = 0xDEADBEEF;
    if (WaitForSingleObject(pi.hProcess, ms) == WAIT_OBJECT_0) {
        GetExitCodeProcess(pi.hProcess, &code);
    } else {
        TerminateProcess(pi.hProcess, 0xDEADBEEF);
        WaitForSingleObject(pi.hProcess, INFINITE);
    }
    CloseHandle(pi.hThread);
    CloseHandle(pi.hProcess);
    return code;
}

}  // namespace

class Killed : public EngineTest {};

TEST_F(Killed, EveryTargetOldOrNew) {
    pkg::FileSet before = {{"a.dll", binary(6000000, 1)},
                           {"b.exe", binary(6000000, 2)},
                           {"c.dat", noise(4000000, 3)},
                           {"gone.txt", noise(1000, 4)}};
    pkg::FileSet after = {{"a.dll", binary(6000000, 1, 16)},
                          {"b.exe", binary(6100000, 2, 8)},
                          {"c.dat", noise(4000000, 33)},
                          {"sub\\added.bin", noise(4000000, 5)}};
    build({before}, after);
    place(before);
    std::string args = "\"" + installer + "\" \"" + install.path() + "\"";

    // Kills land between the end of the process start (timed with a run
    // that stops at once) and the end of a full run.
    DWORD t0 = GetTickCount();
    runFor("", 60000);
    DWORD startup = GetTickCount() - t0;
    t0 = GetTickCount();
    ASSERT_EQ(runFor(args, 60000), DWORD(ERR_NONE));
    DWORD full = GetTickCount() - t0;
    DWORD span = full > startup ? full - startup : 1;
    for (const auto& [rel, bytes] : after) ASSERT_TRUE(read(rel) == bytes) << rel;

    std::mt19937 random(12345);
    int kills = 0, finished = 0;
    for (int round = 0; round < 50; round++) {
        place(before);
        DeleteFileA((install / "sub\\added.bin").c_str());
        DWORD code = runFor(args, startup + random() % (span + 20));
        if (code == 0xDEADBEEF) kills++;
        else finished++;
        for (const auto& [rel, bytes] : before) {
            Bytes now = read(rel);
            auto next = after.find(rel);
            bool isOld = now == bytes;
            bool isNew = next != after.end() ? now == next->second : !exists(rel);
            EXPECT_TRUE(isOld || isNew) << rel << " after a kill in round " << round;
        }
        Bytes added = read("sub\\added.bin");
        EXPECT_TRUE(!exists("sub\\added.bin") || added == after["sub\\added.bin"]) << round;
        // A second run completes the update.
        DWORD again = runFor(args, 60000);
        EXPECT_TRUE(again == DWORD(ERR_NONE) || again == DWORD(100 + ERR_NOTHING_TO_DO)) << again;
        for (const auto& [rel, bytes] : after) EXPECT_TRUE(read(rel) == bytes) << rel << " round " << round;
        EXPECT_FALSE(exists("gone.txt"));
        if (HasFailure()) break;
    }
    std::printf("[   INFO   ] %d runs killed, %d finished before the kill (start %lu ms, full run %lu ms)\n",
                kills, finished, static_cast<unsigned long>(startup), static_cast<unsigned long>(full));
    EXPECT_GE(kills, 25);
}
