// POSIX seams of the verification pass (verify_pass.cpp walks the table).
//
// Free space comes from statvfs, in the shape of GetDiskFreeSpaceA (one
// "sector" of f_frsize bytes per cluster, counts capped at 32 bits). A file
// is absent when open(2) says ENOENT or ENOTDIR. The access test changes
// nothing, not even for a moment: on POSIX a file is replaced by renaming
// over it, which needs a readable file and a writable folder, not a writable
// file; a file without write bits is reported through attributesChanged, as
// a read-only file is on Windows.
#include <errno.h>
#include <fcntl.h>
#include <string.h>
#include <sys/stat.h>
#include <sys/statvfs.h>
#include <unistd.h>

#include "base/state.h"
#include "engine/results.h"
#include "engine/verify.h"
#include "package/paths.h"
#include "package/strings.h"

static bool declineAlternateFolder(void*) { return false; }
AlternateFolderDialog alternateFolderDialog = declineAlternateFolder;

static uint32_t cap32(uint64_t v) { return v > 0xFFFFFFFFu ? 0xFFFFFFFFu : static_cast<uint32_t>(v); }

static bool queryFreeSpace(const char* root, uint32_t* sectorsPerCluster, uint32_t* bytesPerSector,
                          uint32_t* freeClusters, uint32_t* totalClusters) {
    struct statvfs fs;
    if (statvfs(root, &fs) != 0) return false;
    uint64_t unit = fs.f_frsize ? fs.f_frsize : fs.f_bsize;
    *sectorsPerCluster = 1;
    *bytesPerSector = cap32(unit);
    *freeClusters = cap32(fs.f_bavail);
    *totalClusters = cap32(fs.f_blocks);
    return true;
}
DiskFreeSpaceQuery diskFreeSpaceQuery = queryFreeSpace;

FileHandle openForReading(const char* path, bool* absent) {
    *absent = false;
    int fd = open(path, O_RDONLY);
    if (fd < 0) {
        *absent = errno == ENOENT || errno == ENOTDIR;
        return INVALID_FILE;
    }
    struct stat st;
    if (fstat(fd, &st) != 0 || !S_ISREG(st.st_mode)) {  // a folder in the file's place
        close(fd);
        return INVALID_FILE;
    }
    return fd;
}

int accessTest(const char* path) {
    char folder[TEXT_CAPACITY];
    copyText(folder, path);
    char* slash = strrchr(folder, '/');
    if (slash) slash[slash == folder ? 1 : 0] = 0;
    else copyText(folder, ".");
    struct stat st;
    if (stat(path, &st) == 0 && (st.st_mode & 0222) == 0) state.attributesChanged = 1;
    if (access(path, R_OK) == 0 && access(folder, W_OK | X_OK) == 0) return ERR_NONE;
    setMessageSubject(path);
    return ERR_ACCESS_DENIED;
}
