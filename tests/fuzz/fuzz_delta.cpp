// Fuzz target of the delta interpreter: any command and data stream, applied
// to a fixed old file with and without a located region, through the POSIX
// file operations. A bad delta must be refused with nothing written; a good
// one must write exactly the bytes its commands describe, into the output
// file only (the old file is opened read-only and checked afterwards).
//
// Input: byte 0 selects a region (bit 0) and a write budget (bits 1-2);
// bytes 1-2 the command stream's length (little-endian); then the command
// stream; the rest is the data stream.
#include <fcntl.h>
#include <stdint.h>
#include <stdlib.h>
#include <string.h>
#include <unistd.h>

#include "engine/delta.h"

namespace {

const uint32_t kOldSize = 70000;
char oldPath[64], outPath[64];
uint8_t oldBytes[kOldSize];

void setUp() {
    static bool done = false;
    if (done) return;
    done = true;
    for (uint32_t i = 0; i < kOldSize; i++) oldBytes[i] = static_cast<uint8_t>(i * 7 + (i >> 8));
    strcpy(oldPath, "/tmp/fuzz_delta_old_XXXXXX");
    int fd = mkstemp(oldPath);
    if (write(fd, oldBytes, kOldSize) != static_cast<ssize_t>(kOldSize)) abort();
    close(fd);
    strcpy(outPath, "/tmp/fuzz_delta_out_XXXXXX");
    close(mkstemp(outPath));
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* input, size_t size) {
    setUp();
    if (size < 3) return 0;
    uint32_t commandSize = input[1] | (input[2] << 8);
    if (commandSize > size - 3) commandSize = static_cast<uint32_t>(size - 3);
    const uint8_t* commands = input + 3;
    uint32_t dataSize = static_cast<uint32_t>(size - 3 - commandSize);
    // The data stream in its own block, so reads past it hit the redzone.
    uint8_t* data = dataSize ? static_cast<uint8_t*>(malloc(dataSize)) : nullptr;
    if (data) memcpy(data, commands + commandSize, dataSize);

    PreservedRegion region = {300, 1000, 1, 0};
    FileHandle oldFile = openFile(oldPath, OPEN_READ);
    FileHandle out = createFreshFile(outPath);
    static const int64_t budgets[4] = {-1, 0, 100, 65536};
    fileFaults.writeBudget = budgets[(input[0] >> 1) & 3];
    fileFaults.shortWrite = input[0] >> 3 & 1;
    // The size the entry claims: what the commands build, or one byte off.
    uint32_t newSize = static_cast<uint32_t>(deltaOutputSize(commands, commandSize)) + (input[0] >> 6 & 1);
    DeltaJob job = {commands, commandSize, data, dataSize, oldFile, kOldSize, out, newSize,
                    &region, static_cast<uint32_t>(input[0] & 1), nullptr, nullptr};
    int checked = checkDelta(&job);
    int result = applyDelta(&job);
    fileFaults.writeBudget = -1;
    uint32_t written = fileSize(out);
    closeFile(out);
    closeFile(oldFile);
    if (result != checked && checked != DELTA_OK) abort();
    if (checked != DELTA_OK && written != 0) abort();  // refused before writing
    if (result == DELTA_OK && written != newSize) abort();  // exactly the size claimed

    // The old file is as it was.
    int fd = open(oldPath, O_RDONLY);
    static uint8_t again[kOldSize];
    if (read(fd, again, kOldSize) != static_cast<ssize_t>(kOldSize) || memcmp(again, oldBytes, kOldSize)) abort();
    close(fd);
    free(data);
    return 0;
}
