// An installation killed at any moment leaves every target byte-exactly old
// or new (a created file absent or new, a deleted one old or absent), and a
// later run completes the update.
//
// The kills land at chosen points, whatever the machine's speed: the engine
// runner counts the engine's file operations (opens, writes, moves,
// deletions, attribute and time changes) and ends itself abruptly at the
// N-th, halfway through it when it is a write. One run counts them; then a
// run is killed at every one of them (at most 200, spread evenly).
#include "install_support.h"
#include "kill_support.h"

#include <algorithm>

using namespace installtest;

namespace {

const DWORD KILLED = 0xDEADBEEF;

std::string runnerPath() {
    std::string p = "Z:";
    for (char c : std::string(UPD_ENGINE_RUNNER_PATH)) p += c == '/' ? '\\' : c;
    return p;
}

// Runs the engine runner to its end; returns its exit code and what it
// printed. A run that takes longer than a minute counts as hung.
DWORD run(const std::string& args, std::string* output = nullptr) {
    SECURITY_ATTRIBUTES inherit = {sizeof inherit, 0, TRUE};
    HANDLE readEnd = 0, writeEnd = 0;
    if (!CreatePipe(&readEnd, &writeEnd, &inherit, 0)) return 0xBAD;
    SetHandleInformation(readEnd, HANDLE_FLAG_INHERIT, 0);
    std::string line = "\"" + runnerPath() + "\" " + args;
    STARTUPINFOA si = {};
    si.cb = sizeof si;
    si.dwFlags = STARTF_USESTDHANDLES;
    si.hStdOutput = writeEnd;
    si.hStdError = writeEnd;
    PROCESS_INFORMATION pi = {};
    BOOL started = CreateProcessA(runnerPath().c_str(), &line[0], 0, 0, TRUE, 0, 0, 0, &si, &pi);
    CloseHandle(writeEnd);
    if (!started) {
        CloseHandle(readEnd);
        return 0xBAD;
    }
    std::string text;
    char buffer[256];
    DWORD got = 0;
    while (ReadFile(readEnd, buffer, sizeof buffer, &got, 0) && got) text.append(buffer, got);
    CloseHandle(readEnd);
    DWORD code = 0xBAD;
    if (WaitForSingleObject(pi.hProcess, 60000) == WAIT_OBJECT_0) GetExitCodeProcess(pi.hProcess, &code);
    else TerminateProcess(pi.hProcess, 0xBAD);
    CloseHandle(pi.hThread);
    CloseHandle(pi.hProcess);
    if (output) *output = text;
    return code;
}

// Removes the engine's temporary files ("*.$$?") from a folder.
void removeTemporaries(const std::string& folder) {
    WIN32_FIND_DATAA found;
    HANDLE h = FindFirstFileA((folder + "\\*.$$?").c_str(), &found);
    if (h == INVALID_HANDLE_VALUE) return;
    do DeleteFileA((folder + "\\" + found.cFileName).c_str());
    while (FindNextFileA(h, &found));
    FindClose(h);
}

}  // namespace

class Killed : public EngineTest {};

TEST_F(Killed, EveryTargetOldOrNew) {
    // Delta, whole-file, created, deleted and unchanged files, each large
    // enough for several writes.
    pkg::FileSet before = {{"a.dll", binary(500000, 1)},
                           {"b.exe", binary(500000, 2)},
                           {"c.dat", noise(300000, 3)},
                           {"gone.txt", noise(1000, 4)},
                           {"same.txt", noise(3000, 6)}};
    pkg::FileSet after = {{"a.dll", binary(500000, 1, 16)},
                          {"b.exe", binary(520000, 2, 8)},
                          {"c.dat", noise(300000, 33)},
                          {"same.txt", noise(3000, 6)},
                          {"sub\\added.bin", noise(300000, 5)}};
    build({before}, after);
    place(before);
    std::string args = "\"" + installer + "\" \"" + install.path() + "\"";

    // The traced run lists the operations, one per line, then "calls N".
    std::string counted;
    ASSERT_EQ(run("--trace " + args, &counted), DWORD(ERR_NONE)) << counted;
    long total = 0;
    size_t last = counted.rfind("calls ");
    ASSERT_NE(last, std::string::npos) << counted;
    ASSERT_EQ(std::sscanf(counted.c_str() + last, "calls %ld", &total), 1) << counted;
    auto operation = [&](long k) {
        std::string key = "\n" + std::to_string(k) + " ";
        size_t at = ("\n" + counted).find(key);
        return at == std::string::npos ? std::string("?") : counted.substr(at, counted.find('\n', at) - at);
    };
    ASSERT_GT(total, 20) << "enough file operations to spread the kills over";
    for (const auto& [rel, bytes] : after) ASSERT_TRUE(read(rel) == bytes) << rel;

    std::vector<long> points;
    const long most = 200;
    for (long i = 0; i < std::min(total, most); i++) points.push_back(total <= most ? i + 1 : 1 + i * (total - 1) / (most - 1));
    for (long k : points) {
        // Every round starts from what the counted run started from.
        place(before);
        DeleteFileA((install / "sub\\added.bin").c_str());
        RemoveDirectoryA((install / "sub").c_str());
        ASSERT_EQ(run("--kill-at " + std::to_string(k) + " " + args), KILLED) << "kill point " << k;
        for (const auto& [rel, bytes] : before) {
            Bytes now = read(rel);
            auto next = after.find(rel);
            bool isOld = now == bytes;
            bool isNew = next != after.end() ? now == next->second : !exists(rel);
            EXPECT_TRUE(isOld || isNew) << rel << " after a kill at " << operation(k) << " of " << total;
        }
        EXPECT_TRUE(!exists("sub\\added.bin") || read("sub\\added.bin") == after["sub\\added.bin"]) << k;
        // A second run completes the update.
        std::string said;
        DWORD again = run(args, &said);
        EXPECT_TRUE(again == DWORD(ERR_NONE) || again == DWORD(100 + ERR_NOTHING_TO_DO))
            << again << " after a kill at " << operation(k) << ": " << said;
        for (const auto& [rel, bytes] : after) EXPECT_TRUE(read(rel) == bytes) << rel << " after kill point " << k;
        EXPECT_FALSE(exists("gone.txt"));
        // The killed run may leave its temporary file behind; the engine
        // never takes such a name over (it tries ".$$B", ".$$C", ... next),
        // so they are cleared here, after the run that had to live with it.
        removeTemporaries(install.path());
        removeTemporaries(install.path() + "\\sub");
        if (HasFailure()) break;
    }
    std::printf("[   INFO   ] %zu kills at chosen points among %ld file operations\n", points.size(), total);
}

// All or nothing: killed before the replacement phase (the first file
// operation past the last entry) every file is old, killed during it each
// file is old or new, and the second run completes the update and leaves
// no temporary file: it undoes what the killed run had journalled. The
// product holds a file named as the engine would first name a temporary
// file of its own; it is never touched. ./build.sh torture runs the same
// check over many more points.
TEST(KilledAllOrNothing, OldBeforeReplacingOldOrNewDuringAndNothingLeft) {
    killtest::Product product(true);
    ASSERT_EQ(product.probe(), "");
    ASSERT_GT(product.commitFrom, 20u) << "the building phase makes many file operations";
    std::vector<unsigned> points;
    for (unsigned i = 0; i < 8; i++) points.push_back(1 + i * (product.commitFrom - 2) / 7);
    for (unsigned k = product.commitFrom; k <= product.checkpoints; k++) points.push_back(k);
    for (unsigned k : points) EXPECT_EQ(product.killAt(k), "");
}
