// The platform-free half of verification: summing an installed file with its
// preserved regions blanked, and finding those regions.
#include "engine/verify.h"

#include <string.h>

#include "engine/digest.h"
#include "package/checksum.h"

void zeroRegions(uint32_t count, const PreservedRegion* list, uint8_t* buffer,
                 uint32_t bufOffset, uint32_t bufLen) {
    const uint8_t* p = reinterpret_cast<const uint8_t*>(list);
    int64_t bufStart = bufOffset;
    int64_t bufEnd = bufStart + bufLen;
    for (uint32_t i = 0; i < count; i++) {
        const PreservedRegion* region = reinterpret_cast<const PreservedRegion*>(p);
        p += sizeof(PreservedRegion) + region->patternLength;
        if (region->offset == REGION_NOT_PRESENT) continue;
        int64_t start = region->offset;
        int64_t end = start + region->length;
        if (start < bufStart) start = bufStart;
        if (end > bufEnd) end = bufEnd;
        if (start < end)
            memset(buffer + (start - bufStart), 0, static_cast<size_t>(end - start));
    }
}

// First position in [0, candidates) of window at which pattern starts; the
// caller guarantees that every candidate has patternLength bytes behind it.
static int32_t findInWindow(const uint8_t* window, uint32_t candidates, const uint8_t* pattern,
                            uint32_t patternLength) {
    uint32_t pos = 0;
    while (pos < candidates) {
        const void* hit = memchr(window + pos, pattern[0], candidates - pos);
        if (!hit) return -1;
        pos = static_cast<uint32_t>(static_cast<const uint8_t*>(hit) - window);
        if (memcmp(window + pos, pattern, patternLength) == 0) return static_cast<int32_t>(pos);
        pos++;
    }
    return -1;
}

uint32_t readRegionFile(const RegionSource* source, uint32_t at, uint8_t* out, uint32_t n) {
    if (at == 0) seekTo(source->file, 0);
    return readSome(source->file, out, n);
}

uint32_t readRegionBytes(const RegionSource* source, uint32_t at, uint8_t* out, uint32_t n) {
    if (at > source->size) return 0;
    if (n > source->size - at) n = source->size - at;
    memcpy(out, source->bytes + at, n);
    return n;
}

// The window holds up to REGION_WINDOW bytes of the source from `base` on.
// While bytes remain unread, the first REGION_STEP positions are tried (each
// has a full pattern behind it, since patterns are at most REGION_STEP + 1
// bytes); in the last step, every position where the pattern still fits.
static int32_t findPattern(const RegionSource* source, uint8_t* window, const uint8_t* pattern,
                           uint32_t patternLength) {
    uint32_t size = source->size;
    uint32_t want = size < REGION_WINDOW ? size : REGION_WINDOW;
    uint32_t held = source->read(source, 0, window, want);
    uint32_t remaining = held == want ? size - held : 0;  // a short read ends the file
    uint32_t base = 0;
    for (;;) {
        bool last = remaining == 0;
        uint32_t candidates;
        if (last)
            candidates = held >= patternLength ? held - patternLength + 1 : 0;
        else
            candidates = REGION_STEP;
        int32_t hit = findInWindow(window, candidates, pattern, patternLength);
        if (hit >= 0) return static_cast<int32_t>(base + static_cast<uint32_t>(hit));
        if (last) return -1;
        memmove(window, window + REGION_STEP, REGION_STEP);
        base += REGION_STEP;
        held = REGION_STEP;
        want = remaining < REGION_STEP ? remaining : REGION_STEP;
        uint32_t got = source->read(source, base + REGION_STEP, window + REGION_STEP, want);
        held += got;
        remaining = got == want ? remaining - got : 0;
    }
}

void locateRegionsIn(uint32_t count, PreservedRegion* list, const RegionSource* source) {
    uint8_t* p = reinterpret_cast<uint8_t*>(list);
    uint8_t* window = 0;
    for (uint32_t i = 0; i < count; i++) {
        PreservedRegion* region = reinterpret_cast<PreservedRegion*>(p);
        p += sizeof(PreservedRegion) + region->patternLength;
        uint32_t patternLength = region->patternLength;
        if (patternLength == 0) continue;
        region->offset = REGION_NOT_PRESENT;
        if (patternLength > REGION_MAX_PATTERN) continue;  // refused at load; never scanned
        if (!window) window = static_cast<uint8_t*>(allocBuffer(REGION_WINDOW));
        if (!window) continue;
        region->offset = findPattern(source, window, regionPattern(region), patternLength);
    }
    if (window) freeBuffer(window);
}

void locateRegions(uint32_t count, PreservedRegion* list, FileHandle file) {
    RegionSource source = {readRegionFile, file, 0, fileSize(file)};
    locateRegionsIn(count, list, &source);
    seekTo(file, 0);
}

// locateRegions leaves the file at 0, so the sum always covers the whole file.
// The digest costs little beside the checksum (one pass over each chunk
// feeds both), so it is always taken.
uint32_t checksumInstalledFile(FileEntry* entry, FileHandle file, uint64_t* digest) {
    uint32_t size = fileSize(file);
    PreservedRegion* regions = entryRegions(entry);
    uint32_t regionCount = entry->regionCount;
    locateRegions(regionCount, regions, file);

    uint8_t* chunk = static_cast<uint8_t*>(allocBuffer(CHECKSUM_CHUNK));
    if (digest) *digest = 0;
    if (!chunk) return 0;
    FileDigest d;
    digestBegin(&d);
    uint32_t a = 0;
    uint32_t n = 0, whole = 0;  // the last chunk: its length, its whole stripes
    for (uint32_t offset = 0; offset < size; offset += n) {
        n = size - offset < CHECKSUM_CHUNK ? size - offset : CHECKSUM_CHUNK;
        // A short read sums what the buffer holds: the size check catches it.
        readSome(file, chunk, n);
        if (regionCount) zeroRegions(regionCount, regions, chunk, offset, n);
        // Every chunk but the last is a whole number of stripes.
        whole = n & ~(DIGEST_STRIPE - 1);
        a = fileChecksum(chunk + whole, n - whole, digestStripes(&d, chunk, whole, a));
    }
    uint64_t value = digestEnd(&d, chunk + whole, n - whole);
    if (digest) *digest = value;
    freeBuffer(chunk);
    return a;
}

void proveFile(FileEntry* entry, FileHandle file, FileProof* proof) {
    proof->size = fileSize(file);
    proof->sum = checksumInstalledFile(entry, file, &proof->digest);
}

