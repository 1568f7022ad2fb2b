// A planted version.dll (planted_version.cpp): copies of it beside programs,
// and Wine told to prefer a version.dll it finds beside a program over its
// own, as Windows' search order does for any DLL that is not a known DLL.
// That is WINEDLLOVERRIDES=version=n,b, given as the registry's DllOverrides
// value: Wine keeps WINE* variables out of a program's Windows environment,
// so a test cannot hand the variable to the programs it starts. The override
// holds for programs started while a Planted object lives; the copies and
// their marker files go with it.
//
// Under Wine the planted copy is loaded into every program with a window
// whatever the program does: Wine's own user32.dll imports VERSION.dll (on
// Windows user32 is a known DLL and imports no VERSION.dll). So the tests ask
// whether a program called into the planted copy (calledBy), which the
// installer did when it imported VERSION.dll, rather than whether it was
// loaded (loadedBy).
#pragma once
#include <windows.h>

#include <cstring>
#include <string>
#include <vector>

namespace winsupport {

class Planted {
public:
    Planted() {
        RegCreateKeyExA(HKEY_CURRENT_USER, OVERRIDES_KEY, 0, 0, 0, KEY_READ | KEY_WRITE, 0, &key_, 0);
        DWORD size = sizeof previous_ - 1, type = 0;
        hadOverride_ = key_ && !RegQueryValueExA(key_, "version", 0, &type, reinterpret_cast<BYTE*>(previous_), &size) &&
                       type == REG_SZ;
        if (key_) RegSetValueExA(key_, "version", 0, REG_SZ, reinterpret_cast<const BYTE*>("native,builtin"), 15);
    }
    ~Planted() {
        if (key_) {
            if (hadOverride_)
                RegSetValueExA(key_, "version", 0, REG_SZ, reinterpret_cast<const BYTE*>(previous_),
                               static_cast<DWORD>(strlen(previous_) + 1));
            else
                RegDeleteValueA(key_, "version");
            RegCloseKey(key_);
        }
        for (const std::string& folder : folders_) removeCopy(folder);
    }
    Planted(const Planted&) = delete;
    Planted& operator=(const Planted&) = delete;

    // Puts a copy into folder (a path with or without its final backslash).
    bool plant(const std::string& folder) {
        folders_.push_back(folder);
        removeCopy(folder);
        return CopyFileA(windowsPath(UPD_PLANTED_DLL_PATH).c_str(), dll(folder).c_str(), FALSE) != 0;
    }
    // Runs, from folder, a program that imports VERSION.dll statically (the
    // installer as it once was); its exit code, or ~0u when it cannot run.
    static DWORD runImporterIn(const std::string& folder) {
        std::string program = join(folder, "version_importer.exe");
        if (!CopyFileA(windowsPath(UPD_VERSION_IMPORTER_PATH).c_str(), program.c_str(), FALSE)) return ~0u;
        DWORD code = ~0u;
        STARTUPINFOA si = {};
        si.cb = sizeof si;
        PROCESS_INFORMATION pi = {};
        std::string line = "\"" + program + "\"";
        if (CreateProcessA(program.c_str(), &line[0], 0, 0, FALSE, 0, 0, 0, &si, &pi)) {
            if (WaitForSingleObject(pi.hProcess, 60000) == WAIT_OBJECT_0) GetExitCodeProcess(pi.hProcess, &code);
            CloseHandle(pi.hThread);
            CloseHandle(pi.hProcess);
        }
        DeleteFileA(program.c_str());
        return code;
    }
    // The program that called a function of the copy in folder, or that
    // loaded it; "" when none did.
    static std::string calledBy(const std::string& folder) { return readMarker(folder, ".called"); }
    static std::string loadedBy(const std::string& folder) { return readMarker(folder, ".loaded"); }
    static std::string dll(const std::string& folder) { return join(folder, "version.dll"); }

private:
    static std::string readMarker(const std::string& folder, const char* suffix) {
        HANDLE h = CreateFileA((dll(folder) + suffix).c_str(), GENERIC_READ, FILE_SHARE_READ, 0, OPEN_EXISTING, 0, 0);
        if (h == INVALID_HANDLE_VALUE) return "";
        char buf[MAX_PATH + 1] = {};
        DWORD got = 0;
        ReadFile(h, buf, MAX_PATH, &got, 0);
        CloseHandle(h);
        return got ? std::string(buf, got) : "(a program without a name)";
    }
    static constexpr const char* OVERRIDES_KEY = "Software\\Wine\\DllOverrides";
    static std::string windowsPath(const char* unixPath) {
        std::string p = "Z:";
        for (const char* c = unixPath; *c; c++) p += *c == '/' ? '\\' : *c;
        return p;
    }
    static void removeCopy(const std::string& folder) {
        DeleteFileA(dll(folder).c_str());
        DeleteFileA((dll(folder) + ".called").c_str());
        DeleteFileA((dll(folder) + ".loaded").c_str());
    }
    static std::string join(const std::string& folder, const char* name) {
        return folder + (!folder.empty() && folder.back() == '\\' ? "" : "\\") + name;
    }

    HKEY key_ = 0;
    bool hadOverride_ = false;
    char previous_[64] = {};
    std::vector<std::string> folders_;
};

}  // namespace winsupport
