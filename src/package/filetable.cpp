// Accessors over the loaded file table and the check that makes them safe.
//
// The accessors trust the table: they are only ever used on a payload that
// checkFileTable accepted. The check walks every entry once with explicit
// bounds, so a damaged package is refused at load time instead of being read
// out of bounds later by verification, installation or the result pages.
#include "package/filetable.h"

#include "package/codepage.h"

#include <string.h>

uint32_t entryNamesOffset(const FileEntry* entry) {
    uint32_t offset = sizeof(FileEntry);
    if (entry->flags & FE_HAS_VERSION) offset += sizeof(EntryVersionBlock);
    if (entry->flags & FE_HAS_TIMES) offset += sizeof(EntryTimesBlock);
    return offset;
}

FileEntry* nextEntry(FileEntry* entry) {
    return reinterpret_cast<FileEntry*>(reinterpret_cast<uint8_t*>(entry) + entry->entrySize);
}

const char* entryName(const FileEntry* entry, unsigned k) {
    const char* p = reinterpret_cast<const char*>(entry) + entryNamesOffset(entry);
    for (; k; k--) p += strlen(p) + 1;
    return p;
}

SourceVersion* entryVersions(FileEntry* entry) {
    return reinterpret_cast<SourceVersion*>(reinterpret_cast<uint8_t*>(entry) +
                                            entry->versionListOffset);
}

PreservedRegion* entryRegions(FileEntry* entry) {
    return reinterpret_cast<PreservedRegion*>(reinterpret_cast<uint8_t*>(entry) +
                                              entry->regionListOffset);
}

PreservedRegion* nextRegion(PreservedRegion* region) {
    return reinterpret_cast<PreservedRegion*>(reinterpret_cast<uint8_t*>(region + 1) +
                                              region->patternLength);
}

uint64_t entryDigest(const FileEntry* entry, uint32_t k) {
    const uint8_t* list = reinterpret_cast<const uint8_t*>(entry) + entry->versionListOffset -
                          (uint32_t(entry->versionCount) + 1) * 8;
    uint64_t v;
    memcpy(&v, list + 8 * k, 8);
    return v;
}

const EntryVersionBlock* entryVersionBlock(const FileEntry* entry) {
    if (!(entry->flags & FE_HAS_VERSION)) return 0;
    return reinterpret_cast<const EntryVersionBlock*>(entry + 1);
}

const EntryTimesBlock* entryTimesBlock(const FileEntry* entry) {
    if (!(entry->flags & FE_HAS_TIMES)) return 0;
    const uint8_t* p = reinterpret_cast<const uint8_t*>(entry + 1);
    if (entry->flags & FE_HAS_VERSION) p += sizeof(EntryVersionBlock);
    return reinterpret_cast<const EntryTimesBlock*>(p);
}

// One entry of `size` bytes at p (size already known to fit the buffer).
// Order inside a sound entry: header, blocks, names, versions, regions.
// Only what the engine reads is checked: names 0 and 1, never the rest.
// The names must end before the region list because the engine writes
// region offsets at run time and must never overwrite a terminator.
static bool checkEntry(const uint8_t* p, uint32_t size) {
    const FileEntry* entry = reinterpret_cast<const FileEntry*>(p);
    uint32_t names = entryNamesOffset(entry);
    if (names > size) return false;

    uint32_t regions = entry->regionListOffset;
    if (regions < names || regions > size) return false;

    // Two terminated names inside [names, regions) that stay inside the
    // folders they are joined to; the alternate subfolder may be empty.
    uint32_t pos = names;
    for (int k = 0; k < 2; k++) {
        const char* name = reinterpret_cast<const char*>(p + pos);
        const void* nul = memchr(name, 0, regions - pos);
        if (!nul) return false;
        if ((k == 0 || *name) && !isInsidePath(name)) return false;
        pos = static_cast<uint32_t>(static_cast<const uint8_t*>(nul) - p) + 1;
    }

    // The version list sits between the names (and the digests, which end
    // where it starts) and the regions, even when empty; a file the update
    // creates needs version 0, its data.
    uint32_t versions = entry->versionListOffset;
    uint32_t versionsEnd = versions + entry->versionCount * uint32_t(sizeof(SourceVersion));
    if (entry->flags & FE_HAS_DIGEST) pos += (uint32_t(entry->versionCount) + 1) * 8;
    if (versions < pos || versionsEnd > regions) return false;
    if (entry->presence == PRES_NEW && entry->versionCount == 0) return false;

    // The region list runs to the end of the entry, exactly.
    pos = regions;
    for (uint32_t i = 0; i < entry->regionCount; i++) {
        if (size - pos < sizeof(PreservedRegion)) return false;
        const PreservedRegion* region = reinterpret_cast<const PreservedRegion*>(p + pos);
        pos += sizeof(PreservedRegion);
        if (region->patternLength > REGION_MAX_PATTERN) return false;
        if (size - pos < region->patternLength) return false;
        pos += region->patternLength;
    }
    return pos == size;
}

bool isInsidePath(const char* p) {
    bool solid = false;  // the component so far holds more than dots and spaces
    for (;; p++) {
        char c = *p;
        if (isLeadByte(c) && p[1]) {  // one character, whatever its second byte
            solid = true;
            p++;
            continue;
        }
        if (c == ':') return false;
        if (c == '\\' || c == '/' || c == 0) {
            if (!solid) return false;
            if (!c) return true;
            solid = false;
        } else if (c != '.' && c != ' ') {
            solid = true;
        }
    }
}

bool checkFileTable(const uint8_t* table, uint32_t size) {
    if (!table || size < FILE_TABLE_COUNT_SIZE) return false;
    uint32_t count;
    memcpy(&count, table, 4);
    uint32_t pos = FILE_TABLE_COUNT_SIZE;
    for (uint32_t i = 0; i < count; i++) {
        uint32_t left = size - pos;
        if (left < sizeof(FileEntry)) return false;
        uint32_t entrySize;
        memcpy(&entrySize, table + pos, 4);
        if (entrySize < sizeof(FileEntry) || entrySize > left) return false;
        if (!checkEntry(table + pos, entrySize)) return false;
        pos += entrySize;
    }
    return true;
}
