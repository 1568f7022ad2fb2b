// File and memory operations: the one layer through which the installer
// touches files and the heap.
//
// Two backends implement it: fileops_win32.cpp (the stub and the Windows
// test programs) and fileops_posix.cpp (native builds: packaging tool, native
// tests, fuzz targets, benchmarks). Everything above this layer is the same
// code on both.
//
// Results follow the house rule: 0 for success, a small positive number for a
// failure. Positions and sizes are 32-bit; files stay below 2 GiB because
// relative moves take a signed distance.
//
// Tests can put a fault exactly where they want it through fileFaults (a
// failed or short write after a byte budget), and read the heap use of the
// running program from memoryInUse / memoryPeak.
#pragma once
#include <stddef.h>
#include <stdint.h>

// Files, and positions within them, stay below 2 GiB.
const uint32_t FILE_POSITION_MAX = 0x7FFFFFFF;

// Opaque file handle: a Win32 HANDLE or a POSIX descriptor, widened.
typedef intptr_t FileHandle;
const FileHandle INVALID_FILE = -1;

enum {
    OPEN_READ = 0,       // read access, others may read
    OPEN_WRITE = 1,      // write access, no sharing
    OPEN_READ_WRITE = 2  // read and write access, others may read
};

// writeAll results
enum { WRITE_OK = 0, WRITE_FAILED = 2, WRITE_SHORT = 3 };

FileHandle openFile(const char* path, int mode);
FileHandle createFile(const char* path);
int readExact(FileHandle file, void* buffer, uint32_t n);     // 0 = all n bytes
uint32_t readSome(FileHandle file, void* buffer, uint32_t n);  // bytes delivered
int writeAll(FileHandle file, const void* buffer, uint32_t n);
uint32_t tellFile(FileHandle file);
uint32_t seekTo(FileHandle file, uint32_t position);
uint32_t seekBy(FileHandle file, int32_t distance);
uint32_t fileSize(FileHandle file);  // 0xFFFFFFFF from 4 GiB on
void closeFile(FileHandle file);

void* allocBuffer(uint32_t size);
void* allocZeroed(uint32_t size);
void freeBlock(void* block);

// Frees the block the reference points at and sets the reference to null.
template <class T>
inline void freeBuffer(T*& reference) {
    freeBlock(reference);
    reference = 0;
}

// Heap use through allocBuffer/allocZeroed, in bytes.
extern uint32_t memoryInUse;
extern uint32_t memoryPeak;

// Fault injection for tests. writeBudget < 0: no fault. Otherwise the next
// writes succeed until writeBudget bytes have been written; the write that
// crosses it is cut short (WRITE_SHORT when shortWrite is set, else
// WRITE_FAILED) and the budget is spent.
struct FileFaults {
    int64_t writeBudget;
    int shortWrite;
};
extern FileFaults fileFaults;

// Bytes of an n-byte write that the fault budget lets through; *fault is set
// when the write must end short or failed. Both backends call it.
inline uint32_t faultAllowance(uint32_t n, bool* fault) {
    *fault = false;
    if (fileFaults.writeBudget < 0) return n;
    uint32_t allowed = n;
    if (fileFaults.writeBudget < n) {
        allowed = static_cast<uint32_t>(fileFaults.writeBudget);
        *fault = true;
    }
    fileFaults.writeBudget -= allowed;
    return allowed;
}
