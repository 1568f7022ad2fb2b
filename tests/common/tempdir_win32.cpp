// TempDir and the file-tree helpers on Windows. A TempDir is
// "updtest<process>_<n>" in the temporary folder, joined with '\\'; its
// removal clears read-only attributes first.
#include <windows.h>

#include <stdexcept>

#include "common.h"
#include "files_win32.h"

namespace testcommon {

void forEachFile(const std::string& dir, const std::function<void(const std::string&, const std::string&)>& f) {
    WIN32_FIND_DATAA d;
    HANDLE h = FindFirstFileA((dir + "\\*").c_str(), &d);
    if (h == INVALID_HANDLE_VALUE) return;
    do {
        std::string name = d.cFileName;
        if (name == "." || name == "..") continue;
        if (d.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY)
            forEachFile(dir + "\\" + name, f);
        else
            f(dir, name);
    } while (FindNextFileA(h, &d));
    FindClose(h);
}

void removeTree(const std::string& dir) {
    WIN32_FIND_DATAA d;
    HANDLE h = FindFirstFileA((dir + "\\*").c_str(), &d);
    if (h != INVALID_HANDLE_VALUE) {
        do {
            std::string name = d.cFileName;
            if (name == "." || name == "..") continue;
            std::string full = dir + "\\" + name;
            SetFileAttributesA(full.c_str(), FILE_ATTRIBUTE_NORMAL);
            if (d.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY)
                removeTree(full);
            else
                DeleteFileA(full.c_str());
        } while (FindNextFileA(h, &d));
        FindClose(h);
    }
    RemoveDirectoryA(dir.c_str());
}

TempDir::TempDir() {
    char base[MAX_PATH];
    GetTempPathA(MAX_PATH, base);
    static int counter;
    for (;;) {
        dir_ = std::string(base) + "updtest" + std::to_string(GetCurrentProcessId()) + "_" +
               std::to_string(counter++);
        if (CreateDirectoryA(dir_.c_str(), 0)) break;
    }
}

TempDir::~TempDir() { removeTree(dir_); }

std::string TempDir::path(const std::string& name) const { return dir_ + "\\" + name; }

std::string TempDir::write(const std::string& name, const Bytes& data) const {
    std::string p = path(name);
    HANDLE h = CreateFileA(p.c_str(), GENERIC_WRITE, 0, 0, CREATE_ALWAYS, FILE_ATTRIBUTE_NORMAL, 0);
    if (h == INVALID_HANDLE_VALUE) throw std::runtime_error("cannot create " + p);
    DWORD written = 0;
    WriteFile(h, data.data(), static_cast<DWORD>(data.size()), &written, 0);
    CloseHandle(h);
    return p;
}

}  // namespace testcommon
