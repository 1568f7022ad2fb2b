// The difference stream of one delta with difference copies, read from the
// data area a chunk at a time (format: engine/delta.h).
//
// openDifference reads the stream's size word at the data file's position
// and allocates one chunk buffer (DELTA_DIFFERENCE_CHUNK bytes, or the
// whole stream when it is smaller); the source's next operation then reads
// each chunk in turn through the volume reader, refusing one that does not
// decode to exactly the bytes it must hold. The caller zero-fills the
// reader first and frees `buffer` afterwards. Failures are recorded as
// installation steps record them (failStep): ERR_READ with dataPath,
// ERR_CANCELLED, ERR_NO_MEMORY.
#pragma once
#include <stdint.h>

#include "engine/delta.h"

struct DifferenceReader {
    DifferenceSource source;  // first: next receives it as the reader
    uint8_t* buffer;
    uint32_t left;            // bytes of the stream not yet loaded
};

// A ResultCode. A declared size above `largest` (the new file's size: the
// copies never write more) is refused before anything is allocated.
int openDifference(DifferenceReader* reader, uint32_t largest);
