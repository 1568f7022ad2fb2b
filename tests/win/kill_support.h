// Installations killed at chosen points, for the kill test and the torture
// run (./build.sh torture). The engine runner counts the engine's file
// operations (opens, writes, moves, deletions, attribute and time changes)
// and, told to, ends its own process abruptly at the K-th (halfway through
// it when it is a write), so where a kill lands never depends on how fast
// the machine is.
//
// A Product is a folder of old files and an update for it. probe() learns
// how many operations a whole run makes and where the replacement phase of
// an all-or-nothing run begins; killAt(K) puts the old files back, runs the
// update killed at K, checks the whole installation, runs it again to the
// end and checks again. It returns what was wrong, empty when nothing.
#pragma once
#include <windows.h>

#include <cstdio>
#include <functional>
#include <string>
#include <vector>

#include "package/format.h"
#include "pkg/update.h"
#include "pkg/stub.h"
#include "support.h"

namespace killtest {

using Bytes = pkg::Bytes;

const DWORD KILLED_EXIT = 0xDEADBEEF;  // engine_runner's code for a kill
const DWORD NOTHING_TO_DO_EXIT = 103;
const DWORD NOT_STARTED = 0xBAD;

using testcommon::codeLike;
using testcommon::noise;

inline std::string runnerPath() {
    std::string p = "Z:";
    for (char c : std::string(UPD_ENGINE_RUNNER_PATH)) p += c == '/' ? '\\' : c;
    return p;
}

class Product {
public:
    // A product of five files: one patched by a delta, one rewritten whole,
    // one keeping a preserved region, one the update adds in a new folder,
    // one it deletes; two stay the same, one of them named as the engine
    // would first name its temporary file for app.exe (it must never be
    // touched).
    explicit Product(bool allOrNothing) {
        Bytes keys = noise(40000, 7);
        const char* user = ";<user>serial=0000-0000";
        keys.insert(keys.begin() + 20000, user, user + strlen(user));
        Bytes keysNew = keys;
        keysNew.insert(keysNew.begin() + 100, 'x');
        before = {{"app.exe", codeLike(300000, 1)},
                  {"data.bin", noise(200000, 2)},
                  {"keys.ini", keys},
                  {"old.txt", noise(5000, 3)},
                  {"same.txt", noise(3000, 4)},
                  {"app.$$A", noise(700, 9)}};
        after = {{"app.exe", codeLike(310000, 1, 16)},
                 {"data.bin", noise(210000, 5)},
                 {"keys.ini", keysNew},
                 {"sub\\deeper\\added.dll", noise(150000, 6)},
                 {"same.txt", noise(3000, 4)},
                 {"app.$$A", noise(700, 9)}};
        pkg::UpdateOptions options;
        pkg::FileRule rule;
        std::string pattern = ";<user>";
        rule.regions.push_back(pkg::Region{23, REGION_NOT_PRESENT, true, Bytes(pattern.begin(), pattern.end())});
        options.rules["keys.ini"] = rule;
        std::vector<std::vector<std::string>> tables(8);
        tables[6].resize(39);
        tables[6][0] = "Update";
        options.records = {pkg::valueRecord(REC_OPTIONS, allOrNothing ? OPT_ALL_OR_NOTHING : 0),
                           pkg::stringTablesRecord(tables)};
        pkg::BuiltUpdate u = pkg::buildUpdateFromSets({before}, after, winsupport::realStub(), options);
        installer = dir.path("setup.exe");
        pkg::writeUpdate(u, installer);
        folder = dir.path("product");
    }

    pkg::FileSet before, after;
    std::string installer, folder;
    unsigned checkpoints = 0;  // file operations of a whole run
    unsigned commitFrom = 0;   // first operation of the replacement phase (0: none)
    std::vector<std::string> operations;  // of a whole run, "K Call path" each

    // Puts the old files back (and nothing else) into a fresh folder.
    void placeOld() {
        testcommon::removeTree(folder);
        for (const auto& [rel, bytes] : before) write(rel, bytes);
    }

    // Runs the engine runner; *out receives what it printed. Wine refuses a
    // process start now and then (once in some thousands): that is tried
    // again, as it says nothing about the engine.
    DWORD run(const std::string& options, std::string* out = nullptr) {
        DWORD code = NOT_STARTED;
        for (int attempt = 0; attempt < 5 && code == NOT_STARTED; attempt++) {
            if (attempt) Sleep(200);
            code = runOnce(options, out);
        }
        return code;
    }

    DWORD runOnce(const std::string& options, std::string* out) {
        std::string line = "\"" + runnerPath() + "\" " + options + " \"" + installer + "\" \"" + folder + "\"";
        SECURITY_ATTRIBUTES sa = {sizeof sa, 0, TRUE};
        HANDLE readEnd = 0, writeEnd = 0;
        CreatePipe(&readEnd, &writeEnd, &sa, 0);
        SetHandleInformation(readEnd, HANDLE_FLAG_INHERIT, 0);
        STARTUPINFOA si = {};
        si.cb = sizeof si;
        si.dwFlags = STARTF_USESTDHANDLES;
        si.hStdOutput = si.hStdError = writeEnd;
        PROCESS_INFORMATION pi = {};
        BOOL started = CreateProcessA(0, &line[0], 0, 0, TRUE, 0, 0, 0, &si, &pi);
        CloseHandle(writeEnd);
        std::string text;
        char chunk[256];
        DWORD got = 0;
        while (ReadFile(readEnd, chunk, sizeof chunk, &got, 0) && got) text.append(chunk, got);
        CloseHandle(readEnd);
        if (!started) return NOT_STARTED;
        WaitForSingleObject(pi.hProcess, INFINITE);
        DWORD code = 0xE0C;  // no exit code to be had
        GetExitCodeProcess(pi.hProcess, &code);
        CloseHandle(pi.hThread);
        CloseHandle(pi.hProcess);
        if (out) *out = text;
        return code;
    }

    // A whole run, counted and traced. Empty when it went well.
    std::string probe() {
        placeOld();
        std::string out;
        DWORD code = run("--trace", &out);
        if (code != 0) return "a whole run ended with " + std::to_string(code) + ": " + out;
        size_t at = out.rfind("calls ");
        if (at == std::string::npos || std::sscanf(out.c_str() + at, "calls %u %u", &checkpoints, &commitFrom) != 2)
            return "no count of file operations in: " + out;
        operations.clear();
        for (size_t from = 0; from < at;) {
            size_t end = out.find('\n', from);
            if (end == std::string::npos || end > at) end = at;
            std::string line = out.substr(from, end - from);
            if (!line.empty() && line.back() == '\r') line.pop_back();
            operations.push_back(line);
            from = end + 1;
        }
        if (operations.size() != checkpoints)
            return std::to_string(operations.size()) + " traced operations, " + std::to_string(checkpoints) +
                   " counted";
        return expectAll(after, "after a whole run");
    }

    // "file operation K (K Call path)", for messages.
    std::string operation(unsigned k) const {
        std::string what = "file operation " + std::to_string(k);
        return k >= 1 && k <= operations.size() ? what + " (" + operations[k - 1] + ")" : what;
    }

    // Kills a run at file operation k, checks, completes, checks. Empty when
    // everything held.
    std::string killAt(unsigned k) {
        placeOld();
        DWORD code = run("--kill-at " + std::to_string(k));
        std::string where = "killed at " + operation(k);
        if (code != KILLED_EXIT) return where + ": the run ended with " + std::to_string(code);
        std::string wrong = commitFrom && k < commitFrom ? expectAll(before, where + " (before replacing)")
                                                         : expectEach(where);
        if (!wrong.empty()) return wrong;
        code = run("");
        if (code != 0 && code != NOTHING_TO_DO_EXIT)
            return where + ": the second run ended with " + std::to_string(code);
        wrong = expectAll(after, where + ", then completed");
        if (wrong.empty() && commitFrom && leftovers())
            wrong = where + ": " + std::to_string(leftovers()) + " temporary files left after the second run";
        return wrong;
    }

    // Files of the folder whose names hold ".$$", other than the product's own.
    int leftovers() {
        int n = 0;
        testcommon::forEachFile(folder, [&](const std::string& dir, const std::string& name) {
            std::string rel = dir.size() > folder.size() ? dir.substr(folder.size() + 1) + "\\" + name : name;
            if (name.find(".$$") != std::string::npos && !after.count(rel)) n++;
        });
        return n;
    }

private:
    winsupport::TempDir dir;

    void write(const std::string& rel, const Bytes& bytes) {
        std::string path = folder + "\\" + rel;
        for (size_t i = folder.size(); i < path.size(); i++)
            if (path[i] == '\\') CreateDirectoryA(path.substr(0, i).c_str(), 0);
        CreateDirectoryA(folder.c_str(), 0);
        HANDLE h = CreateFileA(path.c_str(), GENERIC_WRITE, 0, 0, CREATE_ALWAYS, FILE_ATTRIBUTE_NORMAL, 0);
        DWORD done = 0;
        if (!bytes.empty()) WriteFile(h, bytes.data(), static_cast<DWORD>(bytes.size()), &done, 0);
        CloseHandle(h);
    }
    // The file's bytes, or nothing with *present = false.
    Bytes read(const std::string& rel, bool* present) {
        HANDLE h = CreateFileA((folder + "\\" + rel).c_str(), GENERIC_READ, FILE_SHARE_READ, 0, OPEN_EXISTING, 0, 0);
        *present = h != INVALID_HANDLE_VALUE;
        Bytes b;
        if (!*present) return b;
        b.resize(GetFileSize(h, 0));
        DWORD got = 0;
        if (!b.empty()) ReadFile(h, b.data(), static_cast<DWORD>(b.size()), &got, 0);
        CloseHandle(h);
        return b;
    }
    // Is rel as `set` has it (absent when the set lacks it)?
    bool matches(const pkg::FileSet& set, const std::string& rel) {
        bool present = false;
        Bytes now = read(rel, &present);
        auto it = set.find(rel);
        return it == set.end() ? !present : present && now == it->second;
    }
    std::string expectAll(const pkg::FileSet& set, const std::string& when) {
        for (const pkg::FileSet* s : {&before, &after})
            for (const auto& entry : *s)
                if (!matches(set, entry.first)) return when + ": " + entry.first + " is not as expected";
        return "";
    }
    std::string expectEach(const std::string& when) {
        for (const pkg::FileSet* s : {&before, &after})
            for (const auto& entry : *s)
                if (!matches(before, entry.first) && !matches(after, entry.first))
                    return when + ": " + entry.first + " is neither old nor new";
        return "";
    }
};

}  // namespace killtest
