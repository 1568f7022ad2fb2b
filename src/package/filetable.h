// The file table: what the update does, file by file.
//
// Payload of REC_FILE_TABLE (after decoding):
//
//   u32 entryCount, then entryCount FileEntry records back to back.
//
// One FileEntry:
//
//   0    FileEntry header (30 bytes, below)
//   30   versionBlock   16 bytes, only with FE_HAS_VERSION
//   +    timesBlock     24 bytes, only with FE_HAS_TIMES
//   +    names          NUL-terminated: relativePath, altSubfolder, [ignored...]
//   +    digests        only with FE_HAS_DIGEST: (1 + versionCount) x u64,
//                       the new file's, then one per SourceVersion; they end
//                       exactly at versionListOffset (engine/digest.h)
//   versionListOffset   versionCount x SourceVersion (16 bytes each)
//   regionListOffset    regionCount x (PreservedRegion + pattern bytes),
//                       the last part of the entry: it ends at entrySize
//
// Everything is little-endian and unaligned; the structs are packed so that
// the stub (i686, x86_64) and the packaging tool share them byte for byte.
// The engine writes chosenVersion, outcome, FE_FROM_ALT_FOLDER and region
// offsets into the loaded table at run time.
//
// checkFileTable is the only gate: the loader calls it before it sets
// firstEntry/entryCount, and everything else walks the table trusting it.
#pragma once
#include <stddef.h>
#include <stdint.h>

#pragma pack(push, 1)
struct FileEntry {
    uint32_t entrySize;          // the next entry starts this many bytes on
    uint8_t location;            // LOC_*
    uint8_t presence;            // PRES_*
    uint8_t onUnknownVersion;    // UNK_*
    uint8_t action;              // ACT_DELETE or anything else (update)
    uint16_t flags;              // FE_*
    uint32_t newSize;
    uint32_t newChecksum;        // plain, not masked
    uint16_t versionCount;
    uint16_t outcome;            // run time: OUT_* or 0
    uint16_t versionListOffset;  // from the start of the entry
    int16_t chosenVersion;       // run time: version index or CV_*
    uint16_t regionListOffset;   // from the start of the entry
    uint16_t regionCount;
};

struct SourceVersion {
    uint32_t maskedChecksum;  // checksum of the old file XOR bindingKey
    uint32_t size;            // size of the old file
    uint32_t dataOffset;      // into the data area, all volumes together
    uint32_t packedSize;      // whole-file entries: compressed stream length
};

struct PreservedRegion {
    uint32_t length;
    int32_t offset;          // -1 = not present; located at run time
    uint16_t restore;        // nonzero: copy the old bytes into the new file
    uint16_t patternLength;  // 0 = fixed offset, no search
    // uint8_t pattern[patternLength] follows
};

// The fixed-version block (FE_HAS_VERSION).
struct EntryVersionBlock {
    uint32_t versionMs;
    uint32_t versionLs;
    uint8_t reserved[8];
};

// FILETIME as stored: low word first (FE_HAS_TIMES).
struct EntryFileTime {
    uint32_t low;
    uint32_t high;
};
struct EntryTimesBlock {
    EntryFileTime creation;
    EntryFileTime lastAccess;
    EntryFileTime lastWrite;
};
#pragma pack(pop)

static_assert(sizeof(FileEntry) == 30, "FileEntry header is 30 bytes");
static_assert(offsetof(FileEntry, location) == 4, "location at 4");
static_assert(offsetof(FileEntry, flags) == 8, "flags at 8");
static_assert(offsetof(FileEntry, newSize) == 10, "newSize at 10");
static_assert(offsetof(FileEntry, newChecksum) == 14, "newChecksum at 14");
static_assert(offsetof(FileEntry, versionCount) == 18, "versionCount at 18");
static_assert(offsetof(FileEntry, outcome) == 20, "outcome at 20");
static_assert(offsetof(FileEntry, versionListOffset) == 22, "versionListOffset at 22");
static_assert(offsetof(FileEntry, chosenVersion) == 24, "chosenVersion at 24");
static_assert(offsetof(FileEntry, regionListOffset) == 26, "regionListOffset at 26");
static_assert(offsetof(FileEntry, regionCount) == 28, "regionCount at 28");
static_assert(sizeof(SourceVersion) == 16, "SourceVersion is 16 bytes");
static_assert(offsetof(SourceVersion, dataOffset) == 8, "dataOffset at 8");
static_assert(sizeof(PreservedRegion) == 12, "PreservedRegion header is 12 bytes");
static_assert(offsetof(PreservedRegion, offset) == 4, "offset at 4");
static_assert(offsetof(PreservedRegion, patternLength) == 10, "patternLength at 10");
static_assert(sizeof(EntryVersionBlock) == 16, "version block is 16 bytes");
static_assert(sizeof(EntryTimesBlock) == 24, "times block is 24 bytes");

enum : uint8_t { LOC_INSTALL_DIR = 0, LOC_WINDOWS_DIR = 1, LOC_SHARED = 2 };
enum : uint8_t { PRES_OPTIONAL = 0, PRES_NEW = 1, PRES_REQUIRED = 2 };
enum : uint8_t { UNK_FAIL = 0, UNK_SKIP = 1, UNK_ASK_FOLDER = 2 };
enum : uint8_t { ACT_DELETE = 1 };
enum : uint16_t {
    FE_WHOLE_FILE = 0x02,
    FE_FROM_ALT_FOLDER = 0x04,
    FE_HAS_VERSION = 0x10,
    FE_HAS_TIMES = 0x20,
    // Extension: the entry carries digests (engine/digest.h) in front of its
    // version list; identification and the final proof compare them too.
    FE_HAS_DIGEST = 0x40,
    // Extension: the entry's deltas carry a difference stream behind the
    // data stream (engine/delta.h); without the bit they are plain.
    FE_DIFFERENCE_COPIES = 0x80
};
enum : int16_t { CV_NONE = -1, CV_ABSENT = -2, CV_CURRENT = -3 };

const uint32_t FILE_TABLE_COUNT_SIZE = 4;  // the u32 entry count in front
const int32_t REGION_NOT_PRESENT = -1;
// The region search slides a 32 KiB window in 16 KiB steps; a longer
// pattern would not fit the window and is refused when the table loads.
const uint32_t REGION_MAX_PATTERN = 16385;

// Offset of the first name: behind the header and the optional blocks.
uint32_t entryNamesOffset(const FileEntry* entry);
// The entry that starts entrySize bytes after this one.
FileEntry* nextEntry(FileEntry* entry);
// Name k (0 = relativePath, 1 = altSubfolder).
const char* entryName(const FileEntry* entry, unsigned k);
SourceVersion* entryVersions(FileEntry* entry);
// First PreservedRegion; the next one starts behind its pattern.
PreservedRegion* entryRegions(FileEntry* entry);
PreservedRegion* nextRegion(PreservedRegion* region);
inline const uint8_t* regionPattern(const PreservedRegion* region) {
    return reinterpret_cast<const uint8_t*>(region + 1);
}
// Digest slot k of an entry with FE_HAS_DIGEST: 0 = the new file, 1 + i =
// SourceVersion i.
uint64_t entryDigest(const FileEntry* entry, uint32_t k);
// Optional blocks; null when the entry has none.
const EntryVersionBlock* entryVersionBlock(const FileEntry* entry);
const EntryTimesBlock* entryTimesBlock(const FileEntry* entry);

// True when the payload is a sound table: the count and every entry lie in
// the buffer, each entry holds its header, blocks, two terminated names that
// are sound relative paths (isInsidePath; the alternate subfolder may be
// empty), its digests when it has them, its version list (at least one
// version for a PRES_NEW entry) and a region list that ends exactly at
// entrySize, and no pattern is longer than REGION_MAX_PATTERN.
bool checkFileTable(const uint8_t* table, uint32_t size);

// True when path names something inside a folder: one or more components
// separated by "\" or "/", none empty, none made only of dots and spaces
// (".", ".." and what Windows would turn into them), and no ":" anywhere
// (no drive, no stream). So no absolute, drive or UNC path passes.
bool isInsidePath(const char* path);
