// The data file: positioning and reading the data area across volumes
// (engine/datafile.h).
#include "engine/datafile.h"

#include "engine/delta.h"
#include "engine/install.h"
#include "engine/results.h"
#include "package/inflate.h"
#include "package/volume.h"
#include "base/state.h"

static uint32_t dataPosition() {
    return state.volumeDataBase + state.volumeDataSize - state.volumeBytesLeft;
}

// endOk: the offset may be the end of the current volume (behind a stream
// that ends there) without opening the next one.
static int moveTo(uint32_t offset, bool endOk) {
    if (offset < state.volumeDataBase || state.dataFile == INVALID_FILE)
        return failStep(ERR_READ, state.dataPath);
    for (;;) {
        uint32_t end = state.volumeDataBase + state.volumeDataSize;
        if (offset < end || (endOk && offset == end)) break;
        state.volumeBytesLeft = 0;  // take the next volume, not this one again
        if (openNextVolume() == INVALID_FILE)
            return asksForVolumes() ? failStep(ERR_CANCELLED, 0) : failStep(ERR_READ, state.dataPath);
    }
    uint32_t inVolume = offset - state.volumeDataBase;
    uint32_t position = inVolume + 4 + (state.volumeNumber == 0 ? state.dataAreaOffset : 0);
    if (seekTo(state.dataFile, position) != position) return failStep(ERR_READ, state.dataPath);
    state.volumeBytesLeft = state.volumeDataSize - inVolume;
    return ERR_NONE;
}

int positionDataFile(uint32_t offset) { return moveTo(offset, false); }

// A read of the data area failed: the user gave up on a volume, or the
// data cannot be had.
int failDataRead() {
    if (asksForVolumes() && state.pageResult == PAGE_RESULT_CANCEL) return failStep(ERR_CANCELLED, 0);
    return failStep(ERR_READ, state.dataPath);
}

// Reads n bytes of the data area through the volume reader.
static int readData(void* buffer, uint32_t n) {
    uint8_t* out = static_cast<uint8_t*>(buffer);
    int idle = 0;
    while (n) {
        uint32_t got = 0;
        if (readAcrossVolumes(out, n, &got) != INPUT_OK) return failDataRead();
        if (got > n) got = n;
        if (got == 0 && ++idle > 2) return failStep(ERR_READ, state.dataPath);
        out += got;
        n -= got;
    }
    return ERR_NONE;
}

static int readLength(bool wide, uint32_t* value) {
    uint8_t b[4] = {0, 0, 0, 0};
    int r = readData(b, wide ? 4 : 2);
    *value = b[0] | (uint32_t(b[1]) << 8) | (uint32_t(b[2]) << 16) | (uint32_t(b[3]) << 24);
    return r;
}

int readDataWord(uint32_t* value) { return readLength(true, value); }

int decodeDataStream(ByteSink* sink, uint32_t packed) {
    VolumeInput input;
    return decodeStream(sink, &input, packed);
}

// The body of a stream whose header and size have been read: `length`
// decoded bytes into block.
static int readStreamBody(uint8_t header, uint8_t* block, uint32_t length) {
    if (!(header & STREAM_COMPRESSED)) return readData(block, length);
    uint32_t packed = 0;
    int r = readLength((header & STREAM_PACKED_32) != 0, &packed);
    if (r) return r;
    if (packed == 0) return failStep(ERR_READ, state.dataPath);  // 0 would mean "no limit"
    uint32_t start = dataPosition();
    MemorySink sink(block, length);
    int decoded = decodeDataStream(&sink, packed);
    // The decoder may stop short of its limit or give bytes back; the
    // next stream starts right behind this one's body in any case.
    if (decoded != INFLATE_OK || sink.room != 0 || state.dataFile == INVALID_FILE) return failDataRead();
    return moveTo(start + packed, true);
}

static int readStreamHeader(uint8_t* header, uint32_t* length) {
    int r = readData(header, 1);
    if (!r) r = readLength((*header & STREAM_SIZE_32) != 0, length);
    return r;
}

int readDeltaStream(uint8_t** buffer, uint32_t* size, uint32_t largest) {
    *buffer = 0;
    *size = 0;
    uint8_t header = 0;
    uint32_t length = 0;
    int r = readStreamHeader(&header, &length);
    if (r) return r;
    if (length == 0) return ERR_NONE;
    // Longer than any sound delta of this file: refused before allocating.
    if (length > largest) return failStep(ERR_READ, state.dataPath);
    uint8_t* block = static_cast<uint8_t*>(allocBuffer(length));
    if (!block) return failStep(ERR_NO_MEMORY, 0);
    r = readStreamBody(header, block, length);
    if (r) {
        freeBuffer(block);
        return r;
    }
    *buffer = block;
    *size = length;
    return ERR_NONE;
}

int readStreamInto(uint8_t* buffer, uint32_t size) {
    uint8_t header = 0;
    uint32_t length = 0;
    int r = readStreamHeader(&header, &length);
    if (r) return r;
    if (length != size) return failStep(ERR_READ, state.dataPath);
    return readStreamBody(header, buffer, length);
}
