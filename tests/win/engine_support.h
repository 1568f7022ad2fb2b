// Helpers for the engine's Windows tests: scratch folders, files with given
// bytes, the state's text buffers, and a file table handed over as the
// loader would.
#pragma once
#include <windows.h>

#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "package/checksum.h"
#include "package/filetable.h"
#include "pkg/filetable.h"
#include "base/state.h"
#include "support.h"

namespace enginetest {

inline void ensureTextBuffers() {
    static char buffers[8][TEXT_CAPACITY];
    char** fields[8] = {&state.sourcePath, &state.dataPath,    &state.destinationDir,
                        &state.targetPath, &state.workPath,    &state.scratchPath,
                        &state.alternateFolder, &state.messageSubject};
    for (int i = 0; i < 8; i++)
        if (!*fields[i]) *fields[i] = buffers[i];
}

inline void makeFolders(const std::string& path) {
    for (size_t i = 3; i <= path.size(); i++)
        if (i == path.size() || path[i] == '\\') CreateDirectoryA(path.substr(0, i).c_str(), 0);
}

// A fresh folder per test (the shared TempDir), left as the current
// directory by nobody when it is removed.
class ScratchFolder : public winsupport::TempDir {
public:
    ~ScratchFolder() { SetCurrentDirectoryA("C:\\"); }
    std::string path() const { return dir(); }
    std::string operator/(const std::string& rel) const { return dir() + "\\" + rel; }
};

inline void writeBytes(const std::string& path, const std::vector<uint8_t>& bytes) {
    makeFolders(path.substr(0, path.rfind('\\')));
    HANDLE h = CreateFileA(path.c_str(), GENERIC_WRITE, 0, 0, CREATE_ALWAYS, FILE_ATTRIBUTE_NORMAL, 0);
    ASSERT_NE(h, INVALID_HANDLE_VALUE) << path;
    DWORD done = 0;
    if (!bytes.empty()) WriteFile(h, bytes.data(), static_cast<DWORD>(bytes.size()), &done, 0);
    CloseHandle(h);
}

inline std::vector<uint8_t> content(const char* text, size_t repeat = 1) {
    std::vector<uint8_t> v;
    for (size_t i = 0; i < repeat; i++) v.insert(v.end(), text, text + strlen(text));
    return v;
}

inline uint32_t sumOf(const std::vector<uint8_t>& v) {
    return fileChecksum(v.data(), static_cast<uint32_t>(v.size()), 0);
}

inline pkg::OldVersion versionOf(const std::vector<uint8_t>& v) {
    return pkg::OldVersion{sumOf(v), static_cast<uint32_t>(v.size()), 0, 0};
}

// Checked, then firstEntry and entryCount set, as the loader does.
class LoadedTable {
public:
    LoadedTable(const std::vector<pkg::TableEntry>& items, uint32_t bindingKey) {
        pkg::FileTableBuilder b(bindingKey);
        for (const auto& s : items) b.add(s);
        bytes_ = b.bytes();
        EXPECT_TRUE(checkFileTable(bytes_.data(), static_cast<uint32_t>(bytes_.size())));
        state.firstEntry = reinterpret_cast<FileEntry*>(bytes_.data() + 4);
        state.entryCount = static_cast<uint32_t>(items.size());
        state.bindingKey = bindingKey;
    }
    ~LoadedTable() {
        state.firstEntry = 0;
        state.entryCount = 0;
    }
    FileEntry* entry(unsigned k) {
        FileEntry* e = state.firstEntry;
        while (k--) e = nextEntry(e);
        return e;
    }

private:
    std::vector<uint8_t> bytes_;
};

}  // namespace enginetest
