// Pre-install verification: which version of each file is installed, can it
// be written, and does the drive have room.
//
// verifyInstallation walks the file table once and records per entry the
// identified version in chosenVersion (an index, CV_NONE, CV_ABSENT or
// CV_CURRENT) and FE_FROM_ALT_FOLDER; it sets totalKiB and attributesChanged
// and returns a ResultCode (engine/results.h). On a failure that names a file
// it calls setMessageSubject first. Files it opens are closed and attributes
// it lifts are restored before it returns.
//
// The checksum helpers (checksumInstalledFile, locateRegions, zeroRegions)
// are platform-free and used by the delta engine as well: located regions
// read as zero wherever a file is summed or copied.
#pragma once
#include <stdint.h>

#include "package/fileops.h"
#include "package/filetable.h"

// Size of the chunks a file is summed in: a multiple of the digest's
// stripe, so that every chunk but the last is taken whole.
const uint32_t CHECKSUM_CHUNK = 65536;
// Region search: a window of two steps slides one step at a time.
const uint32_t REGION_STEP = 16384;
const uint32_t REGION_WINDOW = 2 * REGION_STEP;

// Checksum of the whole file behind `file` (a fresh handle) with the entry's
// preserved regions located and blanked. 0 when no buffer can be had. With
// a digest pointer, the digest of the same bytes too, in the same pass.
uint32_t checksumInstalledFile(FileEntry* entry, FileHandle file, uint64_t* digest = 0);

// What identifies an installed file: its size, checksum and digest (the
// digest only counts for entries with FE_HAS_DIGEST).
struct FileProof {
    uint32_t size;
    uint32_t sum;
    uint64_t digest;
};
// Proves the file behind a fresh handle as the entry sees it: size, and
// checksum and digest with the entry's regions blanked.
void proveFile(FileEntry* entry, FileHandle file, FileProof* proof);
// True when the proof is that of slot k: 0 = the new file, 1 + i =
// SourceVersion i (its checksum unmasked with state.bindingKey). Size and
// checksum agree, and the digest too for an entry with FE_HAS_DIGEST.
bool proofMatches(const FileEntry* entry, uint32_t slot, const FileProof* proof);
// Which version the proof shows: the first listed SourceVersion whose
// checksum (unmasked with state.bindingKey), size and digest agree, else
// CV_CURRENT when it is the new file, else CV_NONE.
int16_t matchVersion(const FileEntry* entry, const FileProof* proof);

// What the region search reads: a file from its start, or bytes in memory
// (the packager's copy of an old version). The installer and the packager
// locate regions through this one search, every region in the unblanked
// bytes, so they always blank the same stretches. read delivers up to n
// bytes from offset `at`; the search reads from 0 onwards without gaps.
struct RegionSource {
    uint32_t (*read)(const RegionSource* source, uint32_t at, uint8_t* out, uint32_t n);
    FileHandle file;
    const uint8_t* bytes;
    uint32_t size;
};
// The two readers: a file (sought to 0 at the first read) and memory.
uint32_t readRegionFile(const RegionSource* source, uint32_t at, uint8_t* out, uint32_t n);
uint32_t readRegionBytes(const RegionSource* source, uint32_t at, uint8_t* out, uint32_t n);

// Sets the offset of every region with a pattern to the first occurrence of
// the pattern in the source, or -1. Regions without a pattern keep their
// stored offset.
void locateRegionsIn(uint32_t count, PreservedRegion* list, const RegionSource* source);
// The same over a file from its start.
void locateRegions(uint32_t count, PreservedRegion* list, FileHandle file);

// Zeroes the bytes of buffer (which holds the file's bytes from bufOffset on)
// that fall inside a located region.
void zeroRegions(uint32_t count, const PreservedRegion* list, uint8_t* buffer,
                 uint32_t bufOffset, uint32_t bufLen);

int verifyInstallation();

// Free space of the path's drive in KiB, or -1 when it cannot be learnt.
// Computed in 64 bits: a large drive must not wrap round to "full".
int64_t freeSpaceKiB(const char* path);
// Cluster size of the path's drive in KiB, rounded up; 32 when unknown.
uint32_t clusterKiB(const char* path);

// The platform layer of the pass (verify_pass.cpp walks the table;
// verify_win32.cpp, verify_posix.cpp).
// Opens path for reading as the pass does. On failure *absent tells whether
// the file (or its folder) is not there; anything else (a sharing violation,
// denied access) means the file exists and is held.
FileHandle openForReading(const char* path, bool* absent);
// Proves that the target can be replaced: ERR_NONE, or ERR_ACCESS_DENIED with
// messageSubject = path. Sets attributesChanged for a read-only target.
// Whatever it changes to test is put back before it returns.
int accessTest(const char* path);

// Seams of the verification pass. The destination page installs its
// alternate-folder dialog at start-up; tests install their own answers.

// Asks the user for a folder holding old copies of the files. Returns true
// only when a folder was confirmed; state.alternateFolder then holds it with
// a trailing backslash. The default declines.
typedef bool (*AlternateFolderDialog)(void* owner);
extern AlternateFolderDialog alternateFolderDialog;

// GetDiskFreeSpaceA's shape: root, sectors per cluster, bytes per sector,
// free clusters, total clusters; true when the drive answered.
typedef bool (*DiskFreeSpaceQuery)(const char* root, uint32_t* sectorsPerCluster,
                                  uint32_t* bytesPerSector, uint32_t* freeClusters,
                                  uint32_t* totalClusters);
extern DiskFreeSpaceQuery diskFreeSpaceQuery;
