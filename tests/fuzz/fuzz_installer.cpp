// Fuzz target of whole installers: whatever stands behind the stub, the
// installer reads it without a crash, a leak or a read past a buffer.
//
// The input is the package (the records and the data area); the target puts
// a fixed 65,536-byte stub in front of it in a memory file (memfd) and does
// what the stub does with a package before and while showing its wizard:
// loadPackage; every text through getString and formatMessage; every
// template number through copyTemplate and its walk; the bytes the frame and
// the background would draw of each picture and the title font; and the
// walks the engine makes over the file table (names, version lists,
// regions with their patterns, region blanking). Every buffer the loader
// keeps is a heap block of its exact size (plus the loader's NUL), so
// AddressSanitizer sees any read past one.
#include <stdint.h>
#include <stdio.h>
#include <stdlib.h>
#include <string.h>
#include <sys/mman.h>
#include <unistd.h>

#include "package/filetable.h"
#include "engine/verify.h"
#include "package/bitmap.h"
#include "package/dialogs.h"
#include "package/loader.h"
#include "package/paths.h"
#include "package/strings.h"
#include "package/templates.h"
#include "base/state.h"

namespace {

volatile uint32_t sink;

void touch(const uint8_t* p, uint32_t n) {
    uint32_t sum = 0;
    for (uint32_t i = 0; i < n; i++) sum += p[i];
    sink = sink + sum;
}

// What drawing reads of a picture the loader kept: the headers, the colour
// table (at most 256 entries for the palette) and every row.
void drawPicture(const uint8_t* image) {
    if (!image) return;
    const BitmapInfoHeader* h = bitmapHeader(image);
    uint32_t rowBytes = (static_cast<uint32_t>(h->width) * h->bitCount + 31) / 32 * 4;
    touch(image, bitmapRowsOffset(image) + rowBytes * static_cast<uint32_t>(h->height));
}

void readTexts() {
    char buffer[1024];
    for (unsigned table = 0; table < 9; table++)
        for (unsigned index = 0; index < 40; index++) sink = sink + static_cast<uint32_t>(strlen(getString(table, index)));
    for (unsigned index = 0; index < 40; index++) formatMessage(buffer, sizeof buffer, index);
    expandText(buffer, sizeof buffer, getString(6, 32), 0, 3, true);
}

void walkTemplates() {
    for (unsigned n = 0; n < 12; n++) {
        uint8_t* copy = static_cast<uint8_t*>(copyTemplate(n));
        if (!copy) continue;
        // The platform reads the copy as far as the walk went.
        uint32_t walked = walkDialogTemplate(copy, TEMPLATE_COPY_SIZE);
        if (!walked) abort();  // a copy is only made of a template that walks
        touch(copy, walked);
        releaseTemplate(copy);
    }
}

void walkFileTable() {
    FileEntry* entry = state.firstEntry;
    uint8_t chunk[64];
    for (uint32_t i = 0; i < state.entryCount; i++, entry = nextEntry(entry)) {
        sink = sink + static_cast<uint32_t>(strlen(entryName(entry, 0)) + strlen(entryName(entry, 1)));
        if (const EntryVersionBlock* v = entryVersionBlock(entry)) touch(reinterpret_cast<const uint8_t*>(v), sizeof *v);
        if (const EntryTimesBlock* t = entryTimesBlock(entry)) touch(reinterpret_cast<const uint8_t*>(t), sizeof *t);
        SourceVersion* versions = entryVersions(entry);
        touch(reinterpret_cast<const uint8_t*>(versions), entry->versionCount * sizeof(SourceVersion));
        PreservedRegion* region = entryRegions(entry);
        for (uint32_t k = 0; k < entry->regionCount; k++, region = nextRegion(region)) {
            touch(regionPattern(region), region->patternLength);
            region->offset = static_cast<int32_t>(k * 5);  // as locateRegions writes
        }
        memset(chunk, 0xFF, sizeof chunk);
        zeroRegions(entry->regionCount, entryRegions(entry), chunk, 0, sizeof chunk);
    }
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    static int fd = -1;
    static char path[64];
    if (fd < 0) {
        fd = memfd_create("fuzz_installer", 0);
        if (fd < 0) abort();
        snprintf(path, sizeof path, "/proc/self/fd/%d", fd);
    }
    // The stub: zeros and the stub header block, as the tests' stand-in.
    static uint8_t stub[STUB_SIZE];
    StubData block = {{{'Q', 'K', 'g', 'T'}, 0x4829, STUB_SIZE, 0, 0, 0, START_PAGE_WIZARD},
                      {0, 0, 0, 0}, {'Q', 'K', 'C', 'V'}, {0}};
    memcpy(stub + 0x400, &block, sizeof block);
    if (ftruncate(fd, 0) != 0 || pwrite(fd, stub, sizeof stub, 0) != static_cast<ssize_t>(sizeof stub)) abort();
    if (size && pwrite(fd, data, size, STUB_SIZE) != static_cast<ssize_t>(size)) abort();

    uint32_t before = memoryInUse;
    state = InstallerState();
    state.dataFile = INVALID_FILE;
    stubData.header.stubSize = STUB_SIZE;
    stubData.header.startPage = START_PAGE_WIZARD;
    if (!allocateTextBuffers()) abort();
    copyText(state.sourcePath, path);
    if (loadPackage() == LOAD_OK) {
        readTexts();
        walkTemplates();
        drawPicture(state.frameImage);
        drawPicture(state.backgroundImage);
        if (state.titleFont) touch(state.titleFont, TITLE_FONT_SIZE);
        if (state.titleText) sink = sink + static_cast<uint32_t>(strlen(state.titleText));
        walkFileTable();
    } else {
        readTexts();  // the loader's message and everything kept so far
    }
    releasePackageData();
    releaseSessionBuffers();
    if (memoryInUse != before) abort();  // every buffer released
    return 0;
}
