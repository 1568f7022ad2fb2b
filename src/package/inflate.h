// Decoder of the package's compressed stream format (a Deflate variant: 4-bit
// block headers with their own type numbers, stored blocks without NLEN, a
// different transmission order of the code-length code lengths).
//
// One InflateDecoder decodes one stream, pulling bytes from its ByteSource (a
// buffered reader over an open file, optionally capped to the stream's
// compressed length) and pushing output into a ByteSink a window of 32,768
// bytes at a time.
//
// Results of decodeBlocks:
//   0 INFLATE_OK          every block up to the last decoded
//   1 INFLATE_ERR_DATA    bad header counts, bad repeat, incomplete or missing
//                         code, invalid symbol, input exhausted, source or sink
//                         failure
//   2 INFLATE_ERR_FORMAT  block type 0-4, over-subscribed code
//   3 INFLATE_ERR_MEMORY  a table or the window could not be allocated
//
// The drivers return true exactly for INFLATE_OK and leave the input handle
// right after the byte that holds the stream's last bit.
#pragma once
#include <stdint.h>

#include "package/fileops.h"

// decodeToMemory: decodes one stream from input into destination, which holds
// capacity bytes; output beyond capacity fails the decode and is never
// written. limit = compressed length of the stream, 0 = no limit (read with
// plain file reads); a limited source reads through readAcrossVolumes.
bool decodeToMemory(void* destination, uint32_t capacity, FileHandle input, uint32_t limit);

// decodeToFile: decodes one stream into the open output file. A failed or
// short write fails the decode.
bool decodeToFile(FileHandle output, FileHandle input, uint32_t limit);
