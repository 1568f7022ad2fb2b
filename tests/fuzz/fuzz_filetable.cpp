// Whatever checkFileTable accepts, the engine's walks over it stay inside the
// buffer: names, version lists, region lists with their patterns, and the
// run-time writes into region offsets.
#include <stdint.h>
#include <string.h>

#include <vector>

#include "package/filetable.h"
#include "engine/verify.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    if (size > 1 << 20) return 0;
    // An exact-size heap copy, so that the sanitizer sees any overrun.
    std::vector<uint8_t> table(data, data + size);
    if (!checkFileTable(table.data(), static_cast<uint32_t>(size))) return 0;
    uint32_t count;
    memcpy(&count, table.data(), 4);
    FileEntry* entry = reinterpret_cast<FileEntry*>(table.data() + 4);
    uint8_t chunk[64];
    for (uint32_t i = 0; i < count; i++, entry = nextEntry(entry)) {
        volatile size_t sink = strlen(entryName(entry, 0)) + strlen(entryName(entry, 1));
        SourceVersion* versions = entryVersions(entry);
        for (uint32_t k = 0; k < entry->versionCount; k++) sink = sink + versions[k].size;
        PreservedRegion* region = entryRegions(entry);
        for (uint32_t k = 0; k < entry->regionCount; k++, region = nextRegion(region))
            region->offset = static_cast<int32_t>(k * 7);  // as locateRegions writes
        memset(chunk, 0xFF, sizeof chunk);
        zeroRegions(entry->regionCount, entryRegions(entry), chunk, 0, sizeof chunk);
        (void)sink;
    }
    return 0;
}
