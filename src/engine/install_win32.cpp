// Win32 side of an installation step: the file-in-work display, the
// newer-version question, file times, flushing and deleting.
#include <windows.h>

#include "base/state.h"
#include "engine/install.h"
#include "package/libraries.h"
#include "package/paths.h"
#include "package/strings.h"

void showFileInWork(void* page, const char* path) {
    if (!page) return;
    char shown[TEXT_CAPACITY];
    copyText(shown, path);
    shortenPath(shown, 30);
    SetDlgItemTextA(static_cast<HWND>(page), 1008, shown);
}

// Asked only for old copies from the alternate folder: the installed target
// matched no known version and may be newer than the update. Any failure
// of the version API (or its absence), or short memory, goes on without
// asking.
bool confirmOlderVersion(FileEntry* entry) {
    const EntryVersionBlock* ours = entryVersionBlock(entry);
    if (!ours) return true;
    const VersionApi* api = versionApi();
    if (!api) return true;
    DWORD ignored = 0;
    DWORD size = api->getFileVersionInfoSize(state.targetPath, &ignored);
    if (!size) return true;
    void* info = allocBuffer(size);
    if (!info) return true;
    bool answer = true;
    VS_FIXEDFILEINFO* fixed = 0;
    UINT fixedSize = 0;
    if (api->getFileVersionInfo(state.targetPath, 0, size, info) &&
        api->verQueryValue(info, "\\", reinterpret_cast<void**>(&fixed), &fixedSize) && fixed &&
        fixedSize >= sizeof(VS_FIXEDFILEINFO)) {
        bool newer = fixed->dwFileVersionMS > ours->versionMs ||
                     (fixed->dwFileVersionMS == ours->versionMs &&
                      fixed->dwFileVersionLS > ours->versionLs);
        if (newer) {
            char* text = static_cast<char*>(allocBuffer(2048));
            if (text) {
                expandText(text, 2048, getString(TABLE_MESSAGES, TEXT_NEWER_QUESTION), state.targetPath, 0, false);
                answer = showMessage(text, MB_QUESTION_YESNO) == BOX_YES;
                freeBuffer(text);
            }
        }
    }
    freeBuffer(info);
    return answer;
}

int setFileTimes(FileHandle file, const EntryTimesBlock* times) {
    FILETIME t[3];
    const EntryFileTime* from[3] = {&times->creation, &times->lastAccess, &times->lastWrite};
    for (int i = 0; i < 3; i++) {
        t[i].dwLowDateTime = from[i]->low;
        t[i].dwHighDateTime = from[i]->high;
    }
    return SetFileTime(reinterpret_cast<HANDLE>(file), &t[0], &t[1], &t[2]) ? FILE_DONE : FILE_FAILED;
}

int flushFile(FileHandle file) {
    return FlushFileBuffers(reinterpret_cast<HANDLE>(file)) ? FILE_DONE : FILE_FAILED;
}

int removeFile(const char* path) {
    uint32_t attempt = 0;
    for (;;) {
        if (DeleteFileA(path)) return FILE_DONE;
        if (!retryAfterHold(&attempt, false)) return FILE_FAILED;
    }
}

// createFolders leaves the process inside the deepest folder it reached,
// and the current folder cannot be removed: back to the destination first.
int removeFolder(const char* path) {
    SetCurrentDirectoryA(state.destinationDir);
    return RemoveDirectoryA(path) ? FILE_DONE : FILE_FAILED;
}
