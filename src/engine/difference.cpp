// Difference stream reader: one chunk buffer, chunks read on demand.
#include "engine/difference.h"

#include "engine/datafile.h"
#include "base/state.h"
#include "engine/install.h"
#include "engine/results.h"
#include "package/fileops.h"

static int loadChunk(DifferenceSource* source) {
    DifferenceReader* reader = reinterpret_cast<DifferenceReader*>(source);
    // applyDelta asks for no more than the declared size (a chunk of 0
    // bytes would end the build as a bad delta).
    uint32_t n = reader->left < DELTA_DIFFERENCE_CHUNK ? reader->left : DELTA_DIFFERENCE_CHUNK;
    int r = readStreamInto(reader->buffer, n);
    if (r) return r;
    reader->left -= n;
    source->bytes = reader->buffer;
    source->length = n;
    return ERR_NONE;
}

int openDifference(DifferenceReader* reader, uint32_t largest) {
    reader->source.next = loadChunk;
    uint32_t size = 0;
    int r = readDataWord(&size);
    if (r) return r;
    if (size > largest) return failStep(ERR_READ, state.dataPath);
    reader->source.size = reader->left = size;
    if (size == 0) return ERR_NONE;
    reader->buffer = static_cast<uint8_t*>(allocBuffer(size < DELTA_DIFFERENCE_CHUNK ? size : DELTA_DIFFERENCE_CHUNK));
    if (!reader->buffer) return failStep(ERR_NO_MEMORY, 0);
    return ERR_NONE;
}
