// The data file of an installation run: positioning and reading the data
// area across volumes.
//
// The data area's offsets count over all volumes together (volume 0 is the
// installer file, then PACKAGE.D01, ... beside it; package/volume.h opens
// them). These functions move state.dataFile to an offset and read data
// words and streams (engine/delta.h: a header byte, the decoded size, a
// compressed or stored body) at its position, keeping volumeBytesLeft equal
// to the volume's data behind the position. Each returns a ResultCode and
// records a failure as an installation step does (failStep): ERR_READ
// naming dataPath, ERR_CANCELLED when the user gave up on a volume, or
// ERR_NO_MEMORY.
//
// Touches: state.dataFile, dataPath, volumeNumber/Base/DataSize/BytesLeft,
// resultCode, messageSubject.
#pragma once
#include <stdint.h>

// Moves state.dataFile to a data-area offset, moving on to later volumes
// as needed. Offsets before the current volume cannot be reached: ERR_READ.
int positionDataFile(uint32_t offset);

// Reads one delta stream at the data file's position into a new buffer
// (null for an empty stream). A stream whose decoded size exceeds `largest`
// is refused with ERR_READ before anything is allocated.
int readDeltaStream(uint8_t** buffer, uint32_t* size, uint32_t largest);
// Reads one stream that must decode to exactly `size` bytes into buffer;
// any other size is ERR_READ.
int readStreamInto(uint8_t* buffer, uint32_t size);
// Decodes one compressed body of at most `packed` bytes at the data file's
// position into sink, reading across volumes. The decoder's result
// (INFLATE_OK or its failure); the position is then anywhere in the body.
class ByteSink;
int decodeDataStream(ByteSink* sink, uint32_t packed);
// Reads a little-endian u32 of the data area.
int readDataWord(uint32_t* value);

// Records a failed read of the data area: ERR_CANCELLED when the user gave
// up on a volume, else ERR_READ naming dataPath. Returns the code.
int failDataRead();
