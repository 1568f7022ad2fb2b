// Fuzz target of the decoder: any input ends with a result, without a crash,
// a hang, a leak or a write past the destination.
//
// The first byte picks the destination size (the output is checked only
// against its bounds); the rest is the stream, read from a memory file
// (memfd) through the ordinary file operations, with and without a limit.
// The destination ends its allocation, so AddressSanitizer sees any write
// past it.
#include <stdint.h>
#include <stdlib.h>
#include <string.h>
#include <sys/mman.h>
#include <unistd.h>

#include "package/inflate.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    if (size < 1) return 0;
    static const uint32_t capacities[8] = {0, 1, 3, 100, 32767, 32768, 32769, 300000};
    uint32_t capacity = capacities[data[0] & 7];
    uint32_t limit = (data[0] & 8) ? static_cast<uint32_t>(size - 1) : 0;
    data++;
    size--;

    static int fd = memfd_create("fuzz_inflate", 0);
    if (fd < 0) abort();
    if (ftruncate(fd, 0) != 0) abort();
    lseek(fd, 0, SEEK_SET);
    if (size && write(fd, data, size) != static_cast<ssize_t>(size)) abort();
    const uint8_t tail[4] = {0xFA, 0xFB, 0xFC, 0xFD};
    if (write(fd, tail, 4) != 4) abort();
    lseek(fd, 0, SEEK_SET);

    uint32_t before = memoryInUse;
    uint8_t* out = static_cast<uint8_t*>(malloc(capacity ? capacity : 1));
    bool ok = decodeToMemory(out, capacity, fd, limit);
    free(out);
    if (memoryInUse != before) abort();  // every table and buffer released

    // The decoder never stands beyond the stream (or its limit).
    off_t pos = lseek(fd, 0, SEEK_CUR);
    if (pos < 0 || static_cast<size_t>(pos) > size + (limit ? 0 : 4)) abort();
    (void)ok;
    return 0;
}
