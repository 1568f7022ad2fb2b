// File and memory operations: the one layer through which the installer
// touches files and the heap.
//
// Two backends implement it: fileops_win32.cpp (the stub and the Windows
// test programs) and fileops_posix.cpp (native builds: packaging tool, native
// tests, fuzz targets, benchmarks). Everything above this layer is the same
// code on both.
//
// Results follow the house rule (engine/results.h): 0 for success, a named
// small positive number for a failure. Positions and sizes are 32-bit; files stay below 2 GiB because
// relative moves take a signed distance.
//
// Tests can put a fault exactly where they want it through fileFaults (a
// failed or short write after a byte budget, a checkpoint before every write
// and every replacing step), and read the heap use of the running program
// from memoryInUse / memoryPeak.
//
// Virus scanners and indexers open fresh files for a moment: opening a file
// retries a sharing or lock violation (and denied access, for a file the
// installer wrote itself: OPEN_OWN) with back-off, about 2 s in all
// (retryAfterHold, Win32 only).
#pragma once
#include <stddef.h>
#include <stdint.h>

#include "base/filehandle.h"

// Files, and positions within them, stay below 2 GiB.
const uint32_t FILE_POSITION_MAX = 0x7FFFFFFF;

enum {
    OPEN_READ = 0,       // read access, others may read
    OPEN_WRITE = 1,      // write access, no sharing
    OPEN_READ_WRITE = 2, // read and write access, others may read
    OPEN_OWN = 4         // flag: a file this run wrote (denied access is retried too)
};

// readExact results
enum { READ_OK = 0, READ_SHORT = 1 };  // READ_SHORT: fewer than n bytes came
// writeAll results
enum { WRITE_OK = 0, WRITE_FAILED = 2, WRITE_SHORT = 3 };

FileHandle openFile(const char* path, int mode);
// Creates a new file for writing; never opens one that exists. On failure
// *taken says whether the name was in use.
FileHandle createFile(const char* path, bool* taken);
bool pathExists(const char* path);
// Creates path for writing, replacing any file there: for tools, tests and
// benchmarks only; the installer never calls it.
FileHandle createFreshFile(const char* path);
int readExact(FileHandle file, void* buffer, uint32_t n);     // READ_OK: all n bytes
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
// checkpoint, when set, is called before every write and every step that
// replaces, deletes or schedules a file (a test holds the fresh file there,
// as a virus scanner would).
struct FileFaults {
    int64_t writeBudget;
    int shortWrite;
    void (*checkpoint)();
};
extern FileFaults fileFaults;

inline void passCheckpoint() {
    if (fileFaults.checkpoint) fileFaults.checkpoint();
}

// Back-off after a failed call (Win32): true when GetLastError() names a
// passing hold (a sharing or lock violation; denied access too when ownFile)
// and attempts remain; it has then waited RETRY_FIRST_MS << attempt
// milliseconds through holdPause and counted the attempt.
const uint32_t RETRY_ATTEMPTS = 6;  // 30 + 60 + ... + 960 = 1,890 ms
const uint32_t RETRY_FIRST_MS = 30;
bool retryAfterHold(uint32_t* attempt, bool ownFile);
// The wait between attempts; null (the default) sleeps. Tests put their
// own clock here.
extern void (*holdPause)(uint32_t milliseconds);

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
