// Fuzz target of the delta interpreter: any command and data stream, applied
// to a fixed old file with and without a located region, through the POSIX
// file operations. A bad delta must be refused with nothing written; a good
// one must write exactly the bytes its commands describe, into the output
// file only (the old file is opened read-only and checked afterwards).
//
// With difference copies (bit 4 of byte 0) every copied byte must also be
// the old byte (blanked in the region) plus its difference byte, exactly as
// a plain reading of the streams says, whatever the chunking.
//
// Input: byte 0 selects a region (bit 0), a write budget (bits 1-2), a
// short write (bit 3), difference copies (bit 4), a difference stream that
// declares one byte more than it holds (bit 5) and the chunk size (bits 6-7:
// 7, 14, 21 or 28 bytes); bytes 1-2 the command stream's length
// (little-endian); then the command stream; the rest is the data stream,
// or with difference copies two bytes of data-stream length, the data
// stream, and the difference bytes.
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

struct Difference {
    DifferenceSource source;
    const uint8_t* bytes;
    uint32_t length;
    uint32_t at;
    uint32_t chunk;
};

int nextChunk(DifferenceSource* s) {
    Difference* d = reinterpret_cast<Difference*>(s);
    if (d->at >= d->length) return 9;  // more wanted than there is
    uint32_t n = d->length - d->at < d->chunk ? d->length - d->at : d->chunk;
    s->bytes = d->bytes + d->at;
    s->length = n;
    d->at += n;
    return 0;
}

// What the streams say the new file is (for a delta that was accepted);
// false when it does not fit in capacity bytes.
bool expected(const uint8_t* commands, uint32_t commandSize, const uint8_t* data, const uint8_t* difference,
              bool region, uint8_t* out, uint32_t capacity, uint32_t* size) {
    const uint8_t* p = commands;
    const uint8_t* end = commands + commandSize;
    uint32_t n = 0, oldPos = 0, d = 0;
    while (p < end) {
        DeltaCommand c;
        if (!readDeltaCommand(&p, end, &c)) abort();  // accepted, so sound
        if (n + c.insertLength + c.copyLength > capacity) return false;
        if (c.insertLength) {
            memcpy(out + n, data, c.insertLength);
            data += c.insertLength;
            n += c.insertLength;
        }
        uint32_t from = static_cast<uint32_t>(int64_t(oldPos) + c.distance);
        for (uint32_t i = 0; i < c.copyLength; i++) {
            uint32_t at = from + i;
            uint8_t b = region && at >= 1000 && at < 1300 ? 0 : oldBytes[at];
            out[n++] = static_cast<uint8_t>(b + (difference ? difference[d++] : 0));
        }
        if (c.copyLength) oldPos = from + c.copyLength;
    }
    *size = n;
    return true;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* input, size_t size) {
    setUp();
    if (size < 3) return 0;
    uint32_t commandSize = input[1] | (input[2] << 8);
    if (commandSize > size - 3) commandSize = static_cast<uint32_t>(size - 3);
    const uint8_t* commands = input + 3;
    const uint8_t* rest = commands + commandSize;
    uint32_t dataSize = static_cast<uint32_t>(size - 3 - commandSize);
    bool withDifference = input[0] & 0x10;
    uint32_t differenceSize = 0;
    if (withDifference) {
        uint32_t left = dataSize;
        dataSize = left >= 2 ? rest[0] | (rest[1] << 8) : 0;
        rest += left >= 2 ? 2 : left;
        left -= left >= 2 ? 2 : left;
        if (dataSize > left) dataSize = left;
        differenceSize = left - dataSize;
    }
    // The streams in blocks of their own, so reads past them hit the redzone.
    uint8_t* data = dataSize ? static_cast<uint8_t*>(malloc(dataSize)) : nullptr;
    if (data) memcpy(data, rest, dataSize);
    uint8_t* differenceBytes = static_cast<uint8_t*>(malloc(differenceSize + 1));
    memcpy(differenceBytes, rest + dataSize, differenceSize);
    Difference difference = {{nullptr, 0, differenceSize + ((input[0] >> 5) & 1), nextChunk}, differenceBytes,
                             differenceSize, 0, 7u * ((input[0] >> 6) + 1)};

    PreservedRegion region = {300, 1000, 1, 0};
    FileHandle oldFile = openFile(oldPath, OPEN_READ);
    FileHandle out = createFreshFile(outPath);
    static const int64_t budgets[4] = {-1, 0, 100, 65536};
    fileFaults.writeBudget = budgets[(input[0] >> 1) & 3];
    fileFaults.shortWrite = input[0] >> 3 & 1;
    // The size the entry claims: what the commands build, or one byte off.
    uint32_t newSize = static_cast<uint32_t>(deltaOutputSize(commands, commandSize)) + (input[0] >> 6 & 1);
    DeltaJob job = {commands, commandSize, data, dataSize, oldFile, kOldSize, out, newSize,
                    &region, static_cast<uint32_t>(input[0] & 1), nullptr, nullptr,
                    withDifference ? &difference.source : nullptr};
    int checked = checkDelta(&job);
    int result = applyDelta(&job);
    if (result == DELTA_SOURCE_FAILED && !withDifference) abort();
    fileFaults.writeBudget = -1;
    uint32_t written = fileSize(out);
    closeFile(out);
    closeFile(oldFile);
    if (result != checked && checked != DELTA_OK) abort();
    if (checked != DELTA_OK && written != 0) abort();  // refused before writing
    if (result == DELTA_OK && written != newSize) abort();  // exactly the size claimed
    if (withDifference && difference.source.size != differenceSize && written != 0) abort();

    // An accepted delta wrote exactly what its streams describe.
    if (result == DELTA_OK) {
        static uint8_t want[1 << 20], got[1 << 20];
        uint32_t n = 0;
        if (expected(commands, commandSize, data, withDifference ? differenceBytes : nullptr, input[0] & 1, want,
                     sizeof want, &n)) {
            int fd = open(outPath, O_RDONLY);
            if (n != written || (n && read(fd, got, n) != static_cast<ssize_t>(n)) || memcmp(got, want, n)) abort();
            close(fd);
        }
    }

    // The old file is as it was.
    int fd = open(oldPath, O_RDONLY);
    static uint8_t again[kOldSize];
    if (read(fd, again, kOldSize) != static_cast<ssize_t>(kOldSize) || memcmp(again, oldBytes, kOldSize)) abort();
    close(fd);
    free(data);
    free(differenceBytes);
    return 0;
}
