// POSIX backend of the file and memory operations (native builds).
// Sharing modes have no POSIX equivalent and are ignored.
#include <errno.h>
#include <fcntl.h>
#include <sys/stat.h>
#include <stdlib.h>
#include <string.h>
#include <unistd.h>

#include "package/fileops.h"

uint32_t memoryInUse;
uint32_t memoryPeak;
FileFaults fileFaults = {-1, 0, 0};

// Nothing holds a file here the way a scanner does on Windows: no retries.
void (*holdPause)(uint32_t milliseconds);
bool retryAfterHold(uint32_t*, bool) { return false; }

FileHandle openFile(const char* path, int mode) {
    mode &= 3;
    int flags = mode == OPEN_READ ? O_RDONLY : mode == OPEN_WRITE ? O_WRONLY : O_RDWR;
    int fd = open(path, flags);
    return fd < 0 ? INVALID_FILE : fd;
}

FileHandle createFile(const char* path, bool* taken) {
    int fd = open(path, O_WRONLY | O_CREAT | O_EXCL, 0644);
    *taken = fd < 0 && errno == EEXIST;
    return fd < 0 ? INVALID_FILE : fd;
}

FileHandle createFreshFile(const char* path) {
    int fd = open(path, O_WRONLY | O_CREAT | O_TRUNC, 0644);
    return fd < 0 ? INVALID_FILE : fd;
}

bool pathExists(const char* path) {
    struct stat st;
    return lstat(path, &st) == 0;
}

uint32_t readSome(FileHandle file, void* buffer, uint32_t n) {
    uint8_t* p = static_cast<uint8_t*>(buffer);
    uint32_t done = 0;
    while (done < n) {
        ssize_t r = read(static_cast<int>(file), p + done, n - done);
        if (r <= 0) break;
        done += static_cast<uint32_t>(r);
    }
    return done;
}

int readExact(FileHandle file, void* buffer, uint32_t n) {
    return readSome(file, buffer, n) == n ? READ_OK : READ_SHORT;
}

int writeAll(FileHandle file, const void* buffer, uint32_t n) {
    passCheckpoint();
    bool fault;
    uint32_t allowed = faultAllowance(n, &fault);
    const uint8_t* p = static_cast<const uint8_t*>(buffer);
    uint32_t done = 0;
    while (done < allowed) {
        ssize_t w = write(static_cast<int>(file), p + done, allowed - done);
        if (w <= 0) return WRITE_FAILED;
        done += static_cast<uint32_t>(w);
    }
    if (fault) return fileFaults.shortWrite ? WRITE_SHORT : WRITE_FAILED;
    return WRITE_OK;
}

uint32_t tellFile(FileHandle file) {
    return static_cast<uint32_t>(lseek(static_cast<int>(file), 0, SEEK_CUR));
}

uint32_t seekTo(FileHandle file, uint32_t position) {
    return static_cast<uint32_t>(lseek(static_cast<int>(file), position, SEEK_SET));
}

uint32_t seekBy(FileHandle file, int32_t distance) {
    return static_cast<uint32_t>(lseek(static_cast<int>(file), distance, SEEK_CUR));
}

uint32_t fileSize(FileHandle file) {
    int fd = static_cast<int>(file);
    off_t here = lseek(fd, 0, SEEK_CUR);
    off_t end = lseek(fd, 0, SEEK_END);
    lseek(fd, here, SEEK_SET);
    return end > 0xFFFFFFFF ? 0xFFFFFFFFu : static_cast<uint32_t>(end);
}

void closeFile(FileHandle file) {
    if (file != INVALID_FILE) close(static_cast<int>(file));
}

// Blocks carry their size in front so that freeing can keep the count.
void* allocBuffer(uint32_t size) {
    uint64_t* block = static_cast<uint64_t*>(malloc(size + sizeof(uint64_t)));
    if (!block) return 0;
    block[0] = size;
    memoryInUse += size;
    if (memoryInUse > memoryPeak) memoryPeak = memoryInUse;
    return block + 1;
}

void* allocZeroed(uint32_t size) {
    void* p = allocBuffer(size);
    if (p) memset(p, 0, size);
    return p;
}

void freeBlock(void* block) {
    if (!block) return;
    uint64_t* head = static_cast<uint64_t*>(block) - 1;
    memoryInUse -= static_cast<uint32_t>(head[0]);
    free(head);
}
