// POSIX side of an installation step (native builds: the packaging tool runs
// the engine to prove a package). Nothing is shown and nothing is asked:
// there is no progress page, and an old copy from the alternate folder is
// taken without the newer-version question (the version resource of a
// Windows program is not read here).
#include <sys/stat.h>
#include <unistd.h>

#include "engine/install.h"

void showFileInWork(void*, const char*) {}

bool confirmOlderVersion(FileEntry*) { return true; }

// FILETIME counts 100 ns steps from 1601-01-01; the last access and last
// write times are set, the creation time has no POSIX counterpart. A zero
// time is left as it is.
static timespec fromFileTime(const EntryFileTime& t) {
    const uint64_t UNIX_EPOCH = 116444736000000000ull;  // 1970-01-01 in FILETIME units
    uint64_t v = (uint64_t(t.high) << 32) | t.low;
    timespec ts;
    if (v == 0) {
        ts.tv_sec = 0;
        ts.tv_nsec = UTIME_OMIT;
        return ts;
    }
    int64_t since = int64_t(v) - int64_t(UNIX_EPOCH);
    int64_t seconds = since / 10000000, rest = since % 10000000;
    if (rest < 0) {
        rest += 10000000;
        seconds -= 1;
    }
    ts.tv_sec = static_cast<time_t>(seconds);
    ts.tv_nsec = static_cast<long>(rest * 100);
    return ts;
}

int setFileTimes(FileHandle file, const EntryTimesBlock* times) {
    timespec t[2] = {fromFileTime(times->lastAccess), fromFileTime(times->lastWrite)};
    return futimens(static_cast<int>(file), t) == 0 ? FILE_DONE : FILE_FAILED;
}

int flushFile(FileHandle file) { return fsync(static_cast<int>(file)) == 0 ? FILE_DONE : FILE_FAILED; }

int removeFile(const char* path) { return unlink(path) == 0 ? FILE_DONE : FILE_FAILED; }

int removeFolder(const char* path) { return rmdir(path) == 0 ? FILE_DONE : FILE_FAILED; }
