// Win32 backend of the file and memory operations. All calls are the 8-bit
// ("A") forms; positions are 32-bit (SetFilePointer without its high part).
#include <windows.h>

#include "package/fileops.h"

uint32_t memoryInUse;
uint32_t memoryPeak;
FileFaults fileFaults = {-1, 0, 0};

void (*holdPause)(uint32_t milliseconds);  // null: Sleep

bool retryAfterHold(uint32_t* attempt, bool ownFile) {
    DWORD e = GetLastError();
    if (*attempt >= RETRY_ATTEMPTS ||
        !(e == ERROR_SHARING_VIOLATION || e == ERROR_LOCK_VIOLATION || (ownFile && e == ERROR_ACCESS_DENIED)))
        return false;
    uint32_t wait = RETRY_FIRST_MS << (*attempt)++;
    if (holdPause) holdPause(wait);
    else Sleep(wait);
    return true;
}

static HANDLE toHandle(FileHandle f) { return reinterpret_cast<HANDLE>(f); }
static FileHandle fromHandle(HANDLE h) {
    return h == INVALID_HANDLE_VALUE ? INVALID_FILE : reinterpret_cast<FileHandle>(h);
}

FileHandle openFile(const char* path, int mode) {
    int kind = mode & 3;
    DWORD access = kind == OPEN_READ ? GENERIC_READ
                   : kind == OPEN_WRITE ? GENERIC_WRITE
                                        : GENERIC_READ | GENERIC_WRITE;
    DWORD share = kind == OPEN_WRITE ? 0 : FILE_SHARE_READ;
    HANDLE h;
    uint32_t attempt = 0;
    do h = CreateFileA(path, access, share, 0, OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, 0);
    while (h == INVALID_HANDLE_VALUE && retryAfterHold(&attempt, (mode & OPEN_OWN) != 0));
    return fromHandle(h);
}

FileHandle createFile(const char* path, bool* taken) {
    HANDLE h = CreateFileA(path, GENERIC_WRITE, 0, 0, CREATE_NEW, FILE_ATTRIBUTE_NORMAL, 0);
    *taken = GetLastError() == ERROR_FILE_EXISTS;
    return fromHandle(h);
}

FileHandle createFreshFile(const char* path) {
    return fromHandle(CreateFileA(path, GENERIC_WRITE, 0, 0, CREATE_ALWAYS, FILE_ATTRIBUTE_NORMAL, 0));
}

bool pathExists(const char* path) { return GetFileAttributesA(path) != INVALID_FILE_ATTRIBUTES; }

uint32_t readSome(FileHandle file, void* buffer, uint32_t n) {
    DWORD got = 0;
    if (!ReadFile(toHandle(file), buffer, n, &got, 0)) return 0;
    return got;
}

int readExact(FileHandle file, void* buffer, uint32_t n) {
    return readSome(file, buffer, n) == n ? READ_OK : READ_SHORT;
}

int writeAll(FileHandle file, const void* buffer, uint32_t n) {
    passCheckpoint();
    bool fault;
    uint32_t allowed = faultAllowance(n, &fault);
    DWORD written = 0;
    if (allowed && !WriteFile(toHandle(file), buffer, allowed, &written, 0)) return WRITE_FAILED;
    if (fault) return fileFaults.shortWrite ? WRITE_SHORT : WRITE_FAILED;
    return written == n ? WRITE_OK : WRITE_SHORT;
}

uint32_t tellFile(FileHandle file) { return SetFilePointer(toHandle(file), 0, 0, FILE_CURRENT); }

uint32_t seekTo(FileHandle file, uint32_t position) {
    return SetFilePointer(toHandle(file), static_cast<LONG>(position), 0, FILE_BEGIN);
}

uint32_t seekBy(FileHandle file, int32_t distance) {
    return SetFilePointer(toHandle(file), distance, 0, FILE_CURRENT);
}

uint32_t fileSize(FileHandle file) {
    DWORD high = 0, low = GetFileSize(toHandle(file), &high);
    return high ? 0xFFFFFFFFu : low;
}

void closeFile(FileHandle file) {
    if (file != INVALID_FILE) CloseHandle(toHandle(file));
}

// When memory runs out, the heap is compacted and the request tried once more.
void* allocBuffer(uint32_t size) {
    HANDLE heap = GetProcessHeap();
    void* p = HeapAlloc(heap, 0, size ? size : 1);
    if (!p) {
        HeapCompact(heap, 0);
        p = HeapAlloc(heap, 0, size ? size : 1);
    }
    if (p) {
        memoryInUse += static_cast<uint32_t>(HeapSize(heap, 0, p));
        if (memoryInUse > memoryPeak) memoryPeak = memoryInUse;
    }
    return p;
}

void* allocZeroed(uint32_t size) {
    void* p = allocBuffer(size);
    if (p) ZeroMemory(p, size);
    return p;
}

void freeBlock(void* block) {
    if (!block) return;
    HANDLE heap = GetProcessHeap();
    memoryInUse -= static_cast<uint32_t>(HeapSize(heap, 0, block));
    HeapFree(heap, 0, block);
}
